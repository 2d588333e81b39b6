// White-box tests of the result store's string arena.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../src/store/locations.h"
#include "../src/store/messages.h"
#include "../src/store/store.h"

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

namespace {

std::string decoded(std::string_view in) {
  std::string out(in.size(), '\0');
  const size_t n = kavlo::percent_decode(in, out.data());
  return n == SIZE_MAX ? "(as written)" : out.substr(0, n);
}

// Kodi's header values: "%XX" decoded, any other "%" kept; a decoding that
// would give a control character or text that is not strict UTF-8 leaves
// the whole value as written.
TEST(HeaderValues, PercentDecoding) {
  const std::pair<std::string_view, std::string> rows[] = {
      {"Mozilla%2F5.0%20(X)", "Mozilla/5.0 (X)"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz%41", "%zzA"},
      {"%e2%82%AC", "\xE2\x82\xAC"},
      {"", ""},
      {"%00", "(as written)"},
      {"a%0Db", "(as written)"},
      {"%7F", "(as written)"},
      {"%C0%AF", "(as written)"},        // overlong
      {"%ED%A0%80", "(as written)"},     // surrogate
      {"%F4%90%80%80", "(as written)"},  // past U+10FFFF
      {"%E2%82", "(as written)"},        // cut off
  };
  for (const auto &[in, out] : rows) EXPECT_EQ(decoded(in), out) << in;
}

std::string pairs_of(std::string_view text) {
  kavlo::HeaderList h;
  if (!kavlo::header_pairs(text, h)) return "(none)";
  std::string out;
  for (int k = 0; k < h.count; ++k)
    out += std::string(h.key[k].view()) + (h.quoted[k] ? "=\"" : "=") + std::string(h.value[k].view()) + ";";
  return out;
}

TEST(HeaderValues, PairsOfBothDialects) {
  const std::pair<std::string_view, std::string> rows[] = {
      {"A=1&B=2", "A=1;B=2;"},
      {"A=\"1\"|B=\"2&3|4\"", "A=\"1;B=\"2&3|4;"},
      {"A=\"open", "A=\"open;"},
      {"A=\"x\"tail&B=2", "A=\"x;B=2;"},
      {"a=1&A=2&b=", "a=1;b=;"},
      {"=x&noeq&&|", "(none)"},
      {"|&K=v=w", "K=v=w;"},
      {"", "(none)"},
  };
  for (const auto &[in, out] : rows) EXPECT_EQ(pairs_of(in), out) << in;
}

std::string addresses_of(std::string_view location) {
  kavlo::LocationAddresses a;
  if (!kavlo::location_addresses(location, a)) return "(none)";
  std::string out = std::string(a.first) + " [" + std::string(a.label) + "]";
  for (int k = 0; k < a.alternate_count; ++k) out += " | " + std::string(a.alternate[k]);
  return out;
}

TEST(StreamingLocations, AddressesAndLabels) {
  const std::pair<std::string_view, std::string> rows[] = {
      {"http://a/1#http://b/1", "http://a/1 [] | http://b/1"},
      {"http://a/1#t=5", "(none)"},
      {"http://a/1#1http://b/", "(none)"},
      {"http://a/1# rtsp://b/1 #", "http://a/1 [] | rtsp://b/1 #"},
      {"http://a/1$HD", "http://a/1 [HD]"},
      {"http://a/1$", "(none)"},
      {"http://a/$x$HD", "http://a/$x [HD]"},
      {"http://a/1$A#http://b/1$B", "http://a/1 [A] | http://b/1"},
      {"http://a/1#x+y.z-w://c", "http://a/1 [] | x+y.z-w://c"},
      {"http://a/1##http://b/", "http://a/1# [] | http://b/"},
  };
  for (const auto &[in, out] : rows) EXPECT_EQ(addresses_of(in), out) << in;
}

}  // namespace
