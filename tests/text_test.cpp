// White-box tests of the text helpers and message formatting.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "../src/store.h"
#include "../src/text.h"
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
  // The vectorised scan and its tail agree around 16-byte boundaries.
  for (size_t n = 1; n < 40; ++n) {
    std::string t(n, 'x');
    EXPECT_EQ(lines(t + "\r\n" + t), (V{t, t})) << n;
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
  EXPECT_TRUE(kavlo::contains_icase("xxHtTpS://", "https://"));
  EXPECT_FALSE(kavlo::contains_icase("http:/", "http://"));
}

TEST(Text, Utf8Check) {
  EXPECT_EQ(kavlo::utf8_valid_prefix("abcdefghijklmnop\xC3\xA9", 18), 18u);
  EXPECT_EQ(kavlo::utf8_valid_prefix("abcdefgh\xF8", 9), 8u);
  EXPECT_EQ(kavlo::utf8_valid_prefix("abcdefgh\xE2\x82", 10), 8u);
  EXPECT_EQ(kavlo::utf8_valid_prefix("\xF7\xBF\xBF\xBF", 4), 4u);
  EXPECT_EQ(kavlo::utf8_valid_prefix("\x80", 1), 0u);
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
