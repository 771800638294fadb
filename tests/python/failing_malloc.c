/* A preloadable allocator for the memory-exhaustion tests, wrapped around the
 * C library's. With PYTHONMALLOC=malloc the interpreter's own allocations
 * come here too. It does two things on request:
 *
 * Failing one allocation. It counts the allocations made through malloc,
 * calloc, realloc and the aligned allocators, and fails one of them.
 *   failing_malloc_arm(n)      the n-th allocation from now fails, once
 *   failing_malloc_arm_size(s) the next allocation of exactly s bytes fails, once
 *   failing_malloc_disarm()    stops counting; 1 if the failure happened
 *
 * Holding memory. Under an address-space limit it takes everything the C
 * library will still give, and from then on frees one piece, the smallest
 * it holds, each time the C library refuses an allocation: a caller that
 * retries after each failure meets memory coming back a little at a time.
 *   failing_malloc_hold()      takes what is left
 *   failing_malloc_release()   frees what is still held
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);

static long countdown; /* 0: disarmed */
static size_t failing_size; /* 0: disarmed */
static int fired;

#define MAX_HELD 65536
static void *held[MAX_HELD]; /* largest first */
static long held_count;
static int holding;

/* Frees the smallest piece still held, if any. */
static void give_back(void) {
  long count = __atomic_load_n(&held_count, __ATOMIC_RELAXED);
  while (count > 0) {
    if (__atomic_compare_exchange_n(&held_count, &count, count - 1, 0, __ATOMIC_RELAXED,
                                    __ATOMIC_RELAXED)) {
      free(held[count - 1]);
      return;
    }
  }
}

/* `pointer`, or when the C library refused (NULL), one held piece freed. */
static void *refused(void *pointer) {
  if (pointer == NULL && __atomic_load_n(&holding, __ATOMIC_RELAXED)) give_back();
  return pointer;
}

/* Whether this allocation, of `size` bytes, is the one to fail. */
static int fails(size_t size) {
  size_t wanted = __atomic_load_n(&failing_size, __ATOMIC_RELAXED);
  if (wanted != 0 && wanted == size &&
      __atomic_compare_exchange_n(&failing_size, &wanted, 0, 0, __ATOMIC_RELAXED,
                                  __ATOMIC_RELAXED)) {
    __atomic_store_n(&fired, 1, __ATOMIC_RELAXED);
    errno = ENOMEM;
    return 1;
  }
  if (__atomic_load_n(&countdown, __ATOMIC_RELAXED) == 0) return 0;
  if (__atomic_sub_fetch(&countdown, 1, __ATOMIC_RELAXED) != 0) return 0;
  __atomic_store_n(&fired, 1, __ATOMIC_RELAXED);
  errno = ENOMEM;
  return 1;
}

void failing_malloc_arm(long n) {
  __atomic_store_n(&fired, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&countdown, n, __ATOMIC_RELAXED);
}

void failing_malloc_arm_size(size_t size) {
  __atomic_store_n(&fired, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&failing_size, size, __ATOMIC_RELAXED);
}

int failing_malloc_disarm(void) {
  __atomic_store_n(&countdown, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&failing_size, 0, __ATOMIC_RELAXED);
  return __atomic_load_n(&fired, __ATOMIC_RELAXED);
}

void *malloc(size_t size) { return fails(size) ? NULL : refused(__libc_malloc(size)); }

void *calloc(size_t count, size_t size) {
  return fails(count * size) ? NULL : refused(__libc_calloc(count, size));
}

void *realloc(void *pointer, size_t size) {
  return fails(size) ? NULL : refused(__libc_realloc(pointer, size));
}

void *memalign(size_t alignment, size_t size) {
  return fails(size) ? NULL : refused(__libc_memalign(alignment, size));
}

void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void **out, size_t alignment, size_t size) {
  void *pointer = memalign(alignment, size);
  if (pointer == NULL) return ENOMEM;
  *out = pointer;
  return 0;
}

/* Takes pieces of `size` bytes until the C library refuses one. */
static void take(size_t size) {
  while (held_count < MAX_HELD) {
    void *pointer = __libc_malloc(size);
    if (pointer == NULL) return;
    held[held_count++] = pointer;
  }
}

void failing_malloc_hold(void) {
  size_t size;
  /* Large pieces first; then every small size class, so that no free chunk
   * of any class is left behind. */
  for (size = (size_t)1 << 24; size > 1024; size /= 2) take(size);
  for (size = 1024; size >= 8; size -= 8) take(size);
  take(1);
  __atomic_store_n(&holding, 1, __ATOMIC_RELAXED);
}

void failing_malloc_release(void) {
  __atomic_store_n(&holding, 0, __ATOMIC_RELAXED);
  while (held_count > 0) free(held[--held_count]);
}
