// The engine's allocation choke point. Every heap block the engine owns is
// taken and released here, with the C allocator, so that a failure is a
// NULL the caller handles and never an exception.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace kavlo {

inline void *mem_alloc(size_t n) noexcept { return std::malloc(n == 0 ? 1 : n); }
inline void *mem_realloc(void *p, size_t n) noexcept { return std::realloc(p, n == 0 ? 1 : n); }
inline void mem_free(void *p) noexcept { std::free(p); }

// Grows a malloc'd array of T to hold at least `need` elements, doubling
// from `first`. Returns false (array untouched) on overflow or failure.
template <class T, class Count>
bool grow_array(T *&array, Count &capacity, size_t need, size_t first, size_t max) noexcept {
  if (need <= static_cast<size_t>(capacity)) return true;
  size_t cap = capacity == 0 ? first : static_cast<size_t>(capacity);
  while (cap < need) {
    if (cap > max / 2) { cap = max; break; }
    cap *= 2;
  }
  if (cap < need || cap > max || cap > static_cast<size_t>(-1) / sizeof(T)) return false;
  void *p = mem_realloc(array, cap * sizeof(T));
  if (p == nullptr) return false;
  array = static_cast<T *>(p);
  capacity = static_cast<Count>(cap);
  return true;
}

}  // namespace kavlo
