// Large blocks as huge-page mappings; everything else from the C heap.
#include "mem.h"

#if !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#endif

#include <cstdint>
#include <cstring>

namespace kavlo {

namespace {

#if defined(__EMSCRIPTEN__)
// WebAssembly has one linear memory and no mappings: large blocks come from
// the C heap, which grows the memory as needed, and grow with realloc. The
// blocks are still kept between parses (below), which spares the heap the
// fragments of a large result taken apart and put together again.
constexpr size_t huge_page = size_t{64} << 10;  // the WebAssembly page

void *pages_map(size_t n) noexcept { return std::malloc(n); }
void pages_unmap(void *p, size_t) noexcept { std::free(p); }
void *pages_remap(void *p, size_t, size_t n) noexcept { return std::realloc(p, n); }
#else
constexpr size_t huge_page = size_t{2} << 20;

// Maps one huge page more and trims both ends, so that the block starts on
// a huge page boundary and every page of it can be a huge one where the
// system gives them unasked. It is not advised for them (MADV_HUGEPAGE):
// where transparent huge pages are left to the program, a fault in an
// advised block first finds or compacts a whole free huge page, and the
// first parse of a 64 MB list in a fresh process took 0.45 s instead of
// 0.18 s, for a few percent on the parses after it.
void *pages_map(size_t n) noexcept {
  void *raw = ::mmap(nullptr, n + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t base = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t start = (base + huge_page - 1) & ~(uintptr_t{huge_page} - 1);
  if (start > base) ::munmap(raw, start - base);
  if (base + huge_page > start) ::munmap(reinterpret_cast<void *>(start + n), base + huge_page - start);
  return reinterpret_cast<void *>(start);
}

void pages_unmap(void *p, size_t n) noexcept { ::munmap(p, n); }

#if defined(__SANITIZE_THREAD__)
#define KAVLO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KAVLO_TSAN 1
#endif
#endif

void *pages_remap(void *p, size_t old_n, size_t n) noexcept {
#if defined(KAVLO_TSAN)
  // ThreadSanitizer does not follow mremap: pages moved onto a range that
  // another thread used and unmapped would carry that thread's accesses,
  // and reads of them would be reported as races. Under it, a new mapping
  // and a copy.
  void *q = pages_map(n);
  if (q == nullptr) return nullptr;
  std::memcpy(q, p, old_n < n ? old_n : n);
  pages_unmap(p, old_n);
  return q;
#else
  void *q = ::mremap(p, old_n, n, MREMAP_MAYMOVE);
  return q == MAP_FAILED ? nullptr : q;
#endif
}
#endif

// Mappings released while a parse clears the previous result, kept for that
// parse to take again: their pages are already faulted in, which saves the
// kernel's zeroing of every page of a large playlist parsed again and
// again. Whatever the parse does not take is unmapped before it returns.
// The blocks held belong to the parse running on this thread, that is to
// the one result it replaces: parses of other results on other threads
// neither see nor take them.
struct KeptMappings {
  bool holding = false;
  int count = 0;
  void *block[32];
  size_t bytes[32];
};
KAVLO_PER_THREAD KeptMappings g_held;

// Heap blocks of 64 KiB and more, released by the same clear and kept for
// that parse as well: the C allocator would give such blocks back to the
// system when the store empties and fault them in again for the next text.
constexpr size_t held_heap_min = size_t{64} << 10;
struct KeptHeapBlocks {
  int count = 0;
  void *block[32];
  size_t bytes[32];
};
KAVLO_PER_THREAD KeptHeapBlocks g_held_heap;

// The smallest held heap block of at least `n` bytes and at most twice
// that, or NULL.
void *take_held_heap(size_t n) noexcept {
  if (n < held_heap_min) return nullptr;
  int best = -1;
  for (int i = 0; i < g_held_heap.count; ++i)
    if (g_held_heap.bytes[i] >= n && g_held_heap.bytes[i] / 2 <= n &&
        (best < 0 || g_held_heap.bytes[i] < g_held_heap.bytes[best]))
      best = i;
  if (best < 0) return nullptr;
  void *p = g_held_heap.block[best];
  --g_held_heap.count;
  g_held_heap.block[best] = g_held_heap.block[g_held_heap.count];
  g_held_heap.bytes[best] = g_held_heap.bytes[g_held_heap.count];
  return p;
}

void *take_held(size_t n) noexcept {
  for (int i = 0; i < g_held.count; ++i)
    if (g_held.bytes[i] == n) {
      void *p = g_held.block[i];
      g_held.block[i] = g_held.block[--g_held.count];
      g_held.bytes[i] = g_held.bytes[g_held.count];
      return p;
    }
  return nullptr;
}

}  // namespace

void mem_hold_begin() noexcept { g_held.holding = true; }

void mem_hold_end() noexcept {
  for (int i = 0; i < g_held.count; ++i) pages_unmap(g_held.block[i], g_held.bytes[i]);
  g_held.count = 0;
  for (int i = 0; i < g_held_heap.count; ++i) mem_free(g_held_heap.block[i]);
  g_held_heap.count = 0;
  g_held.holding = false;
}

size_t mapped_size(size_t n) noexcept {
  return n > SIZE_MAX - huge_page ? SIZE_MAX : (n + huge_page - 1) & ~(huge_page - 1);
}

void *mem_map(size_t n) noexcept {
  n = mapped_size(n);
  if (n > SIZE_MAX - huge_page) return nullptr;
  if (void *p = take_held(n)) return p;
  return pages_map(n);
}

void mem_unmap(void *p, size_t n) noexcept {
  if (p == nullptr) return;
  n = mapped_size(n);
  if (g_held.holding && g_held.count < 32) {
    g_held.block[g_held.count] = p;
    g_held.bytes[g_held.count++] = n;
    return;
  }
  pages_unmap(p, n);
}

void *block_resize(void *p, size_t old_bytes, size_t new_bytes) noexcept {
  const bool was_mapped = p != nullptr && old_bytes >= large_block;
  if (new_bytes < large_block) {
    if (was_mapped) return nullptr;
    // A held block is at least as large as asked; the caller counts only
    // what it asked for.
    if (void *q = take_held_heap(new_bytes)) {
      if (p != nullptr) {
        std::memcpy(q, p, old_bytes < new_bytes ? old_bytes : new_bytes);
        mem_free(p);
      }
      return q;
    }
    return mem_realloc(p, new_bytes);
  }
  if (was_mapped) {
    return pages_remap(p, mapped_size(old_bytes), mapped_size(new_bytes));
  }
  void *q = mem_map(new_bytes);
  if (q == nullptr) return nullptr;
  if (p != nullptr) {
    std::memcpy(q, p, old_bytes);
    mem_free(p);
  }
  return q;
}

void block_free(void *p, size_t bytes) noexcept {
  if (p == nullptr) return;
  if (bytes >= large_block) {
    mem_unmap(p, bytes);
  } else if (g_held.holding && bytes >= held_heap_min && g_held_heap.count < 32) {
    g_held_heap.block[g_held_heap.count] = p;
    g_held_heap.bytes[g_held_heap.count++] = bytes;
  } else {
    mem_free(p);
  }
}

}  // namespace kavlo
