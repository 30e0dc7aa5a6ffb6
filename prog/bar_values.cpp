#include "prog/bar_values.h"

#include <algorithm>

namespace prog {

BarValues barValues(uint64_t done, uint64_t total) {
  done = std::min(done, total);
  while (total > static_cast<uint64_t>(INT32_MAX)) {
    total >>= 1;
    done >>= 1;
  }
  return {static_cast<int32_t>(done), static_cast<int32_t>(total)};
}

}  // namespace prog
