// Allocation failures on demand, for the programs that link alloc_fault.cpp:
// it replaces the global operator new of the whole program, product code
// included, so a test can make allocations fail on the threads it chooses.
#pragma once

namespace brisel::test {

enum class FailOn {
  kThisThread,    // the calling thread only
  kOtherThreads,  // every thread that has not called ExemptThisThread
};

// From now on every period-th allocation (counted per thread) on the chosen
// threads throws std::bad_alloc (nothrow forms give null).
void FailAllocations(FailOn where, unsigned period);
void StopFailingAllocations();
// Threads of the test itself that kOtherThreads must spare.
void ExemptThisThread();
// Allocations that failed since the program started.
unsigned long FailedAllocations();

}  // namespace brisel::test
