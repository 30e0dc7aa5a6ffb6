#include "install/shortcut.h"

#include <gtest/gtest.h>

namespace {
const IconRect kWork{0, 0, 1920, 1040};
}

TEST(IconTarget, EmptyDesktopStartsNextToTheTopLeftCorner) {
  const IconTarget t = iconTarget(kWork, {});
  EXPECT_EQ(t.x, 72);
  EXPECT_EQ(t.y, -8);
  EXPECT_EQ(t.cellWidth, 80);
  EXPECT_EQ(t.cellHeight, 76);
}

TEST(IconTarget, GoesRightOfTheLowestRightmostIcon) {
  std::vector<DesktopIcon> icons = {{0, 0}, {0, 100}, {100, 100}, {300, 0}};
  icons[0].hasBounds = true;
  icons[0].bounds = {0, 0, 90, 100};
  const IconTarget t = iconTarget(kWork, icons);
  EXPECT_EQ(t.x, 190);
  EXPECT_EQ(t.y, 100);
  EXPECT_EQ(t.cellWidth, 90);
}

TEST(IconTarget, IconsOutsideTheWorkAreaAreIgnored) {
  const IconTarget t = iconTarget(kWork, {{10, 10}, {5000, 2000}, {-100, 10}});
  EXPECT_EQ(t.x, 90);
  EXPECT_EQ(t.y, 10);
}

TEST(IconTarget, NoRoomToTheRightStartsTheNextRow) {
  const IconTarget t = iconTarget(kWork, {{1800, 200}});
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 276);
}

TEST(IconTarget, NoRoomBelowGoesToTheTopRightCorner) {
  const IconTarget t = iconTarget(kWork, {{1800, 1000}});
  EXPECT_EQ(t.x, 1920 - 80);
  EXPECT_EQ(t.y, 0);
}
