#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

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

/// Runs `body(t)` on `count` threads, t = 0 .. count - 1, released together by
/// a StartBarrier, and returns once all have finished.
template <typename Body>
void runTogether(int count, Body body) {
  StartBarrier start(static_cast<std::size_t>(count));
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(count));
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&start, &body, t] {
      start.arriveAndWait();
      body(t);
    });
  }
  for (std::thread& thread : threads) thread.join();
}
