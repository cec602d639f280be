#include "tests/harness/alloc_fault.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace brisel::test {

namespace {

std::atomic<unsigned> g_period{0};
std::atomic<bool> g_other_threads{false};
std::atomic<DWORD> g_target_thread{0};
std::atomic<unsigned long> g_failed{0};
// Plain TLS slots: thread_local itself may allocate through operator new.
DWORD g_exempt_slot = ::TlsAlloc();
DWORD g_count_slot = ::TlsAlloc();

bool ShouldFail() noexcept {
  unsigned period = g_period.load(std::memory_order_relaxed);
  if (period == 0) return false;
  if (g_other_threads) {
    if (::TlsGetValue(g_exempt_slot)) return false;
  } else if (::GetCurrentThreadId() != g_target_thread) {
    return false;
  }
  DWORD last_error = ::GetLastError();  // the code around may be reading it
  auto count = reinterpret_cast<ULONG_PTR>(::TlsGetValue(g_count_slot)) + 1;
  ::TlsSetValue(g_count_slot, reinterpret_cast<void*>(count));
  ::SetLastError(last_error);
  if (count % period != 0) return false;
  ++g_failed;
  return true;
}

void* Allocate(std::size_t size) noexcept {
  if (ShouldFail()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

void FailAllocations(FailOn where, unsigned period) {
  g_other_threads = where == FailOn::kOtherThreads;
  g_target_thread = ::GetCurrentThreadId();
  g_period = period;
}

void StopFailingAllocations() { g_period = 0; }

void ExemptThisThread() { ::TlsSetValue(g_exempt_slot, reinterpret_cast<void*>(1)); }

unsigned long FailedAllocations() { return g_failed.load(); }

}  // namespace brisel::test

void* operator new(std::size_t size) {
  void* p = brisel::test::Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return brisel::test::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return brisel::test::Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
