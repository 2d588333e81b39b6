// White-box tests of the text helpers and message formatting.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "../src/store/messages.h"
#include "../src/store/store.h"
#include "../src/text/text.h"
#include "../src/text/utf8.h"
#include "../src/decode/decode.h"

namespace {

using namespace std::string_literals;

std::vector<std::string> lines(const std::string &text) {
  kavlo::LineCursor cur{text.data(), text.size()};
  std::vector<std::string> out;
  std::string_view line;
  while (kavlo::lines_next(cur, line)) out.emplace_back(line);
  return out;
}

using V = std::vector<std::string>;

TEST(Text, LineEnds) {
  EXPECT_EQ(lines(""), V{});
  EXPECT_EQ(lines("\n"), V{""});
  EXPECT_EQ(lines("a\r\nb"), (V{"a", "b"}));
  EXPECT_EQ(lines("a\n\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(lines("a\r\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(lines("a\rb\n"), (V{"a", "b"}));
  EXPECT_EQ(lines("last"), V{"last"});
  EXPECT_EQ(lines("a\0b\nc"s), (V{"a", "c"}));
  EXPECT_EQ(lines("\0\0\0\nx\0"s), (V{"", "x"}));
  // Tabs and other control bytes below CR are no line ends.
  const std::string controls = "a\t\v\f\x01\x0B\x0C\tb\t\t\t\t\t\t\t\t\t\t\t\t";
  EXPECT_EQ(lines(controls + "\n" + controls), (V{controls, controls}));
  // The vectorised scan and its tail agree around 16-byte boundaries.
  for (size_t n = 1; n < 40; ++n) {
    std::string t(n, 'x');
    EXPECT_EQ(lines(t + "\r\n" + t), (V{t, t})) << n;
  }
}

TEST(Text, LastUnquotedCommaAgreesWithAByteWalk) {
  uint32_t seed = 99;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  const char alphabet[] = {'"', ',', 'a', 'a', 'a', ' ', '\xC3'};
  for (int round = 0; round < 20000; ++round) {
    std::string s(next() % 80, 'a');
    for (char &c : s) c = alphabet[(next() >> 8) % sizeof alphabet];
    size_t expected = std::string::npos;
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '"') quoted = !quoted;
      else if (s[i] == ',' && !quoted) expected = i;
    }
    ASSERT_EQ(kavlo::last_unquoted_comma(s), expected) << s;
  }
}

TEST(Text, Trim) {
  EXPECT_EQ(kavlo::trim("\t x y \r"), "x y");
  EXPECT_EQ(kavlo::trim(" \v\f "), "");
  EXPECT_EQ(kavlo::trim("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
}

TEST(Text, StripQuotes) {
  EXPECT_EQ(kavlo::strip_quotes("\"name\""), "name");
  EXPECT_EQ(kavlo::strip_quotes("\"name\" WAVE"), "name");
  EXPECT_EQ(kavlo::strip_quotes("\""), "");
  EXPECT_EQ(kavlo::strip_quotes("name\""), "name\"");
  EXPECT_EQ(kavlo::strip_quotes("\"a\"b\""), "a\"b");
  EXPECT_EQ(kavlo::strip_quotes("\"open"), "open");
  EXPECT_EQ(kavlo::strip_quotes(""), "");
}

TEST(Text, CaseInsensitiveEquality) {
  EXPECT_TRUE(kavlo::str_ieq("Group-Title", "group-TITLE"));
  EXPECT_FALSE(kavlo::str_ieq("group", "group-title"));
  EXPECT_FALSE(kavlo::str_ieq("\xC3\xA9", "\xC3\x89"));
  EXPECT_TRUE(kavlo::str_ieq(static_cast<const char *>(nullptr), nullptr));
  EXPECT_FALSE(kavlo::str_ieq(nullptr, ""));
  for (const char *yes : {"xxHtTpS://", "http://", "a,RTSP://b", "ahttp://", "://http://"})
    EXPECT_TRUE(kavlo::has_stream_scheme(yes)) << yes;
  for (const char *no : {"http:/", "ttp://", "ftp://x", "https:/", "tps://", "rtsp:", "://", ""})
    EXPECT_FALSE(kavlo::has_stream_scheme(no)) << no;
}

// The structural check as a plain walk over the sequences.
bool reference_utf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3
                   : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || n > s.size() - i) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

TEST(Text, Utf8CheckAgreesWithTheSequenceWalk) {
  // Mostly well-formed text with a sprinkling of damage, at every length
  // around the 64-byte blocks, so sequences straddle the block edges.
  const char *pieces[] = {"a", "\xC3\xA9", "\xE4\xBD\xA0", "\xF0\x9F\x98\x80", "\xC0\xAF",
                          "\xED\xA0\x80", "\xF7\xBF\xBF\xBF", "\x80", "\xF8", "\xC3", "\xE4\xBD"};
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  int invalid = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    const size_t target = next() % 200;
    while (s.size() < target) s += pieces[(next() >> 8) % (round % 3 == 0 ? 11 : 7)];
    const bool expected = reference_utf8(s);
    invalid += !expected;
    ASSERT_EQ(kavlo::is_utf8(s.data(), s.size()), expected) << round;
  }
  EXPECT_GT(invalid, 1000);
  EXPECT_TRUE(kavlo::is_utf8("", 0));
  EXPECT_FALSE(kavlo::is_utf8(std::string(63, 'a').append("\xE4").data(), 64));
  EXPECT_FALSE(kavlo::is_utf8(std::string(64, 'a').append("\x80").data(), 65));
}

std::string message(const char *fmt, ...) {
  char out[kavlo::message_size];
  va_list ap;
  va_start(ap, fmt);
  kavlo::format_message(out, fmt, ap);
  va_end(ap);
  return out;
}

TEST(Text, MessagesAreCutAtCharacterBoundaries) {
  const std::string a510(510, 'a');
  EXPECT_EQ(message("%s", std::string(600, 'a').c_str()).size(), 511u);
  EXPECT_EQ(message("%s\xC3\xA9", a510.c_str()), a510);          // two-byte split
  EXPECT_EQ(message("%s\xE2\x82\xAC", a510.c_str()), a510);      // three-byte split
  EXPECT_EQ(message("%sb\xF0\x9F\x98\x80", std::string(508, 'a').c_str()).size(), 509u);
  // A stray continuation byte is no character to keep whole.
  EXPECT_EQ(message("%s\x80\x80", a510.c_str()).size(), 511u);
  // Bytes that do not form a well-formed character are cut at 511.
  EXPECT_EQ(message("%s\xC3x", a510.c_str()).size(), 511u);
}

}  // namespace
