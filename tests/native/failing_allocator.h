#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <new>
#include <string>

/// A test-only replacement of the global allocation functions that can make
/// one chosen allocation of the calling thread throw std::bad_alloc.
namespace failing_allocator {

/// The `n`-th allocation from now on this thread fails (0: the next one).
void failAt(std::size_t n);
/// Stops counting; returns true if the armed failure was reached.
bool disarm();

/// Prints how many allocation points a sweep of `operation` covered.
inline void report(const std::string& operation, std::size_t points) {
  std::printf("[alloc points] %-44s %zu\n", operation.c_str(), points);
}

/// Runs `operation` once for every allocation it makes, with that allocation
/// failing, until a run completes without reaching the failure. After each
/// failed run (which must have thrown std::bad_alloc) `afterFailure` checks
/// that the state is still sound. Returns the number of allocation points.
template <typename Operation, typename Check>
std::size_t sweep(Operation operation, Check afterFailure) {
  for (std::size_t n = 0;; ++n) {
    bool threw = false;
    failAt(n);
    try {
      operation();
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool reached = disarm();
    if (!reached) {
      EXPECT_FALSE(threw) << "bad_alloc without an injected failure";
      return n;
    }
    EXPECT_TRUE(threw) << "allocation " << n << " failed but the caller saw no bad_alloc";
    afterFailure();
    if (::testing::Test::HasFatalFailure() || n > 100000) {
      ADD_FAILURE() << "sweep stopped at allocation " << n;
      return n;
    }
  }
}

}  // namespace failing_allocator
