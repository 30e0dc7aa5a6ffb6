#include "prog/bar_values.h"

#include <gtest/gtest.h>

TEST(BarValues, SmallTotalsPassUnchangedAndDoneIsCapped) {
  EXPECT_EQ(prog::barValues(5, 10).position, 5);
  EXPECT_EQ(prog::barValues(5, 10).range, 10);
  EXPECT_EQ(prog::barValues(15, 10).position, 10);
  EXPECT_EQ(prog::barValues(0x7FFFFFFF, 0x7FFFFFFF).range, 0x7FFFFFFF);
}

TEST(BarValues, TotalsOfTwoGibAndMoreKeepTheirFraction) {
  const uint64_t gib = 1ull << 30;
  for (uint64_t total : {2 * gib, 3 * gib, 3 * gib + 12345, 1ull << 40, ~0ull}) {
    const uint64_t done = total / 3;
    const prog::BarValues v = prog::barValues(done, total);
    ASSERT_GT(v.range, 0);
    EXPECT_LE(v.position, v.range);
    EXPECT_NEAR(static_cast<double>(v.position) / v.range, 1.0 / 3.0, 1e-6) << total;
  }
  const prog::BarValues full = prog::barValues(3 * gib, 3 * gib);
  EXPECT_EQ(full.position, full.range);
}
