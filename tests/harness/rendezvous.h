// Threads of a test meet here, again and again. Not std::barrier: with this
// toolchain's runtime its wait can miss the last arrival and sleep for ever.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brisel::test {

class Rendezvous {
 public:
  explicit Rendezvous(long count) : n_(count) {}
  // False when the others did not all come within the bound.
  bool ArriveAndWait(std::chrono::milliseconds bound = std::chrono::minutes(2)) {
    std::unique_lock lock(m_);
    long phase = arrived_ / n_;
    if (++arrived_ % n_ == 0) {
      open_.notify_all();
      return true;
    }
    return open_.wait_for(lock, bound, [&] { return arrived_ / n_ != phase; });
  }

 private:
  const long n_;
  long arrived_ = 0;
  std::mutex m_;
  std::condition_variable open_;
};

}  // namespace brisel::test
