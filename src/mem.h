// The engine's allocation choke point. Every heap block the engine owns is
// taken and released here, with the C allocator, so that a failure is a
// NULL the caller handles and never an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Storage of each thread: thread_local, but in a WebAssembly module built
// without threads, which has one thread and whose thread-local storage
// would need the atomics feature, a plain static.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
#define KAVLO_PER_THREAD
#else
#define KAVLO_PER_THREAD thread_local
#endif

namespace kavlo {

inline void *mem_alloc(size_t n) noexcept { return std::malloc(n == 0 ? 1 : n); }
inline void *mem_realloc(void *p, size_t n) noexcept { return std::realloc(p, n == 0 ? 1 : n); }
inline void mem_free(void *p) noexcept { std::free(p); }

// Large blocks (4 MiB and more) are mappings of their own, aligned to huge
// pages (which a system that hands them out unasked then uses): the C
// allocator would recycle such blocks through its heap, copying them on
// every growth and faulting them in again on every parse. Growing arrays
// move with mremap, without a copy.
constexpr size_t large_block = size_t{4} << 20;

// A block of its own mapping (NULL on failure); `n` is rounded up to whole
// huge pages, and mapped_size() gives the size to unmap.
void *mem_map(size_t n) noexcept;
void mem_unmap(void *p, size_t n) noexcept;
size_t mapped_size(size_t n) noexcept;

// Between these two calls, released mappings are kept and handed out again
// by mem_map for the same size; mem_hold_end() unmaps what was not taken.
// The parse driver brackets each parse with them.
void mem_hold_begin() noexcept;
void mem_hold_end() noexcept;

// Resizes a block of `old_bytes` (0 for none) to `new_bytes`: heap blocks
// below large_block, mappings above. NULL on failure, the old block then
// untouched.
void *block_resize(void *p, size_t old_bytes, size_t new_bytes) noexcept;
void block_free(void *p, size_t bytes) noexcept;

// Grows an array of T to hold at least `need` elements, doubling from
// `first`. A large first reservation (see first_capacity) that cannot be
// had is retried at the size needed. Returns false (array untouched) on
// overflow or failure.
template <class T, class Count>
bool grow_array(T *&array, Count &capacity, size_t need, size_t first, size_t max) noexcept {
  if (need <= static_cast<size_t>(capacity)) return true;
  for (;;) {
    size_t cap = capacity == 0 ? first : static_cast<size_t>(capacity);
    while (cap < need) {
      if (cap > max / 2) { cap = max; break; }
      cap *= 2;
    }
    if (cap < need || cap > max || cap > static_cast<size_t>(-1) / sizeof(T)) return false;
    void *p = block_resize(array, static_cast<size_t>(capacity) * sizeof(T), cap * sizeof(T));
    if (p != nullptr) {
      array = static_cast<T *>(p);
      capacity = static_cast<Count>(cap);
      return true;
    }
    if (capacity != 0 || first <= need || first * sizeof(T) < large_block) return false;
    first = need;
  }
}

// Room for one more element after the `used` ones: grows the array when it
// is full, doubling from `first`. NULL when it cannot grow.
template <class T, class Count>
T *append_slot(T *&array, Count &capacity, size_t used, size_t first) noexcept {
  if (used >= static_cast<size_t>(capacity) && !grow_array(array, capacity, used + 1, first, SIZE_MAX / sizeof(T)))
    return nullptr;
  return array + used;
}

// Releases an array grown with grow_array.
template <class T, class Count>
void free_array(T *array, Count capacity) noexcept {
  block_free(array, static_cast<size_t>(capacity) * sizeof(T));
}

}  // namespace kavlo
