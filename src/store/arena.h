// The string arena of the result store: chunks that never move, so a
// string handed to the host stays valid until the store is cleared.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace kavlo {

struct ArenaChunk {
  ArenaChunk *next;
  size_t capacity;
  size_t used;
  size_t bytes;  // the whole block, header included
  char *data() noexcept { return reinterpret_cast<char *>(this + 1); }
};
struct Arena {
  ArenaChunk *head;  // current chunk, filled front to back
  ArenaChunk *big;   // chunks holding one large string each
  size_t next_size;
};

// Sizes the arena's first chunk for a text of `text_size` bytes, whose
// stored strings take about as much: large texts start with large chunks.
void arena_reserve(Arena &a, size_t text_size) noexcept;

// Releases every chunk; the arena is then empty.
void arena_release(Arena &a) noexcept;

// A block of `n` bytes (n > 0) in the arena, or NULL when it cannot be
// allocated. A string of more than 256 KiB gets a chunk of its own.
char *arena_alloc(Arena &a, size_t n) noexcept;

// A NUL-terminated copy of `text`, or NULL when it cannot be allocated.
// The empty string needs no allocation.
const char *arena_copy_slow(Arena &a, std::string_view text) noexcept;
inline const char *arena_copy(Arena &a, std::string_view text) noexcept {
  ArenaChunk *c = a.head;
  if (text.empty()) return "";
  if (c != nullptr && c->capacity - c->used > text.size()) {
    char *p = c->data() + c->used;
    c->used += text.size() + 1;
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
  }
  return arena_copy_slow(a, text);
}

// A copy of `first` with its NUL, followed by one of `second` with its
// own: the second string is found past the first one's NUL. NULL when it
// cannot be allocated.
const char *arena_copy_pair(Arena &a, std::string_view first, std::string_view second) noexcept;

}  // namespace kavlo
