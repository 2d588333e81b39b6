// The string arena: chunks from the store's allocator (mem.h).
#include "arena.h"

#include <cstdint>

#include "../mem.h"

namespace kavlo {

namespace {

constexpr size_t first_chunk = 4096;
constexpr size_t max_chunk = size_t{16} << 20;
constexpr size_t big_string = size_t{256} << 10;

void free_chunks(ArenaChunk *c) noexcept {
  while (c != nullptr) {
    ArenaChunk *next = c->next;
    block_free(c, c->bytes);
    c = next;
  }
}

ArenaChunk *new_chunk(size_t capacity) noexcept {
  if (capacity > SIZE_MAX / 2) return nullptr;
  size_t bytes = sizeof(ArenaChunk) + capacity;
  if (bytes >= large_block) bytes = mapped_size(bytes);  // use the whole mapping
  auto *c = static_cast<ArenaChunk *>(block_resize(nullptr, 0, bytes));
  if (c == nullptr) return nullptr;
  c->next = nullptr;
  c->capacity = bytes - sizeof(ArenaChunk);
  c->used = 0;
  c->bytes = bytes;
  return c;
}

}  // namespace

char *arena_alloc(Arena &a, size_t n) noexcept {
  if (a.head != nullptr && a.head->capacity - a.head->used >= n) {
    char *p = a.head->data() + a.head->used;
    a.head->used += n;
    return p;
  }
  // A large string gets a chunk of its own, so the current chunk keeps its
  // free space.
  if (n > big_string) {
    ArenaChunk *c = new_chunk(n);
    if (c == nullptr) return nullptr;
    c->used = n;
    c->next = a.big;
    a.big = c;
    return c->data();
  }
  size_t size = a.next_size < first_chunk ? first_chunk : a.next_size;
  while (size < n) size *= 2;
  ArenaChunk *c = new_chunk(size);
  if (c == nullptr) return nullptr;
  a.next_size = size < max_chunk ? size * 2 : max_chunk;
  c->next = a.head;
  a.head = c;
  c->used = n;
  return c->data();
}

void arena_reserve(Arena &a, size_t text_size) noexcept {
  size_t size = first_chunk;
  while (size < max_chunk && size < text_size / 4) size *= 2;
  if (a.head == nullptr && size > a.next_size) a.next_size = size;
}

void arena_release(Arena &a) noexcept {
  free_chunks(a.head);
  free_chunks(a.big);
  a = Arena{};
}

const char *arena_copy_slow(Arena &a, std::string_view text) noexcept {
  if (text.empty()) return "";
  if (text.size() == SIZE_MAX) return nullptr;
  char *p = arena_alloc(a, text.size() + 1);
  if (p == nullptr) return nullptr;
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

const char *arena_copy_pair(Arena &a, std::string_view first, std::string_view second) noexcept {
  static constexpr char both_empty[2] = {'\0', '\0'};
  if (first.empty() && second.empty()) return both_empty;
  if (first.size() >= SIZE_MAX / 2 || second.size() >= SIZE_MAX / 2) return nullptr;
  char *p = arena_alloc(a, first.size() + second.size() + 2);
  if (p == nullptr) return nullptr;
  // An empty view may have no data pointer at all.
  if (!first.empty()) std::memcpy(p, first.data(), first.size());
  p[first.size()] = '\0';
  if (!second.empty()) std::memcpy(p + first.size() + 1, second.data(), second.size());
  p[first.size() + 1 + second.size()] = '\0';
  return p;
}

}  // namespace kavlo
