// White-box tests of the result store's string arena.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../src/store.h"

namespace {

// Strings that fill the rest of the arena's current chunk exactly: with
// their NUL (`short_by` 1) they belong in it, without room for the NUL
// (`short_by` 0) they must go elsewhere. Checked at every chunk size the
// arena grows through, up to its largest, with every string read back.
void fill_chunks_exactly(size_t short_by) {
  auto s = std::make_unique<kavlo::Store>();
  std::vector<std::pair<const char *, std::string>> kept;
  auto copy = [&](size_t len, char c) {
    std::string text(len, c);
    text.back() = '!';
    const char *p = kavlo::copy_string(*s, text);
    ASSERT_NE(p, nullptr);
    kept.emplace_back(p, std::move(text));
  };
  copy(1, 'a');
  size_t last_capacity = 0, total = 0;
  for (int chunk = 0; chunk < 40 && total < (size_t{96} << 20); ++chunk) {
    const kavlo::ArenaChunk *c = s->arena.head;
    ASSERT_NE(c, nullptr);
    const size_t capacity = c->capacity;
    // Leave a small remainder that differs from chunk to chunk.
    const size_t rest = 1 + short_by + static_cast<size_t>(chunk) % 13;
    ASSERT_GT(capacity - c->used, rest);
    while (capacity - c->used > rest) {
      const size_t room = capacity - c->used - rest;  // bytes to fill, NULs included
      ASSERT_GE(room, 2u);
      copy(room > 8192 ? 4095 : room - 1, static_cast<char>('b' + chunk % 20));
      ASSERT_EQ(s->arena.head, c) << "filler left the chunk";
    }
    ASSERT_EQ(capacity - c->used, rest);
    copy(rest - short_by, 'z');
    EXPECT_LE(c->used, c->capacity) << "chunk of " << capacity << " bytes overrun";
    if (short_by == 1) {
      EXPECT_EQ(s->arena.head, c) << "a string that fits with its NUL left the chunk";
      EXPECT_EQ(c->used, c->capacity);
      copy(1, 'y');  // the next one opens a new chunk
    } else {
      EXPECT_NE(s->arena.head, c) << "a string without room for its NUL stayed in the chunk";
    }
    if (::testing::Test::HasFailure()) break;
    total += capacity;
    // The largest size has been filled once: done.
    if (capacity == last_capacity) break;
    last_capacity = capacity;
  }
  EXPECT_GE(total, size_t{16} << 20) << "the arena never reached large chunks";
  for (const auto &[p, text] : kept) ASSERT_EQ(std::string(p), text);
  kavlo::clear(*s);
}

TEST(Arena, StringsFillingChunksExactly) {
  fill_chunks_exactly(0);
  fill_chunks_exactly(1);
}

}  // namespace
