// Counts the live allocations of the test program that lists allocation_count.cpp among its
// sources (it replaces the global operator new and delete), so that a heap payload a window
// forgets to free shows as a difference.
#pragma once

namespace testing_support {

long liveAllocations();

}  // namespace testing_support
