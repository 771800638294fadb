#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

/// Holds threads until all of them have arrived, so that their first calls
/// overlap as much as possible.
class StartBarrier {
 public:
  explicit StartBarrier(std::size_t count) : remaining_(count) {}

  void arriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--remaining_ == 0) {
      released_.notify_all();
      return;
    }
    released_.wait(lock, [this] { return remaining_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::size_t remaining_;
};
