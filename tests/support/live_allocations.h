// Counts the live allocations of the whole test program (its operator new and delete are
// replaced by the source file of this header), so that a heap object that is never freed, or
// freed twice, shows as a difference. Add support/live_allocations.cpp to the program's sources.
#pragma once

namespace testing_support {

long liveAllocations();

}  // namespace testing_support
