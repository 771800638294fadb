#include "failing_allocator.h"

#include <cstdlib>  // std::malloc, std::free

namespace failing_allocator {
namespace {

// Per thread, so that other threads (and the test framework between runs)
// allocate normally.
thread_local bool armed = false;
thread_local std::size_t remaining = 0;
thread_local bool reachedFailure = false;

}  // namespace

void failAt(std::size_t n) {
  remaining = n;
  reachedFailure = false;
  armed = true;
}

bool disarm() {
  armed = false;
  return reachedFailure;
}

namespace {

void* allocate(std::size_t size) {
  if (armed) {
    if (remaining == 0) {
      armed = false;
      reachedFailure = true;
      throw std::bad_alloc();
    }
    --remaining;
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

}  // namespace
}  // namespace failing_allocator

// The replaceable global allocation functions. The nothrow and aligned forms
// of the standard library call these or are not used by the code under test.
void* operator new(std::size_t size) { return failing_allocator::allocate(size); }
void* operator new[](std::size_t size) { return failing_allocator::allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
