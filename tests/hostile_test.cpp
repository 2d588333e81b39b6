// Inputs built to hurt: huge lines, floods of tags and warnings, NUL bytes,
// broken UTF-16. Each must finish in time linear in its size (the test
// carries a generous CTest timeout, not a timing assertion) and leave the
// library usable.
#include <string>

#include "support/kavlo_test.h"

namespace {

using Hostile = kt::Store;

std::string repeat(const std::string &s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

void expect_usable() {
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTINF:1,ok\n/a\n"), KAVLO_OK);
  EXPECT_STREQ(kavlo_item_title(0), "ok");
  EXPECT_EQ(kavlo_warning_count(), 0);
}

TEST_F(Hostile, SixteenMebibyteLineInEveryFormat) {
  const std::string line(16u << 20, 'a');
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTINF:1 " + line + ",t\n/" + line + "\n"), KAVLO_OK);
  EXPECT_EQ(std::string(kavlo_item_location(0)).size(), line.size() + 1);
  ASSERT_EQ(kt::parse("t," + line + "http://x\n", KAVLO_FORMAT_STREAMING_LIST), KAVLO_OK);
  EXPECT_EQ(kavlo_item_count(), 1);
  ASSERT_EQ(kt::parse("REM " + line, KAVLO_FORMAT_CUE), KAVLO_OK);
  EXPECT_EQ(std::string(kavlo_warning(0)).size(), 511u);
  ASSERT_EQ(kt::parse(repeat("\"", 1u << 24), KAVLO_FORMAT_M3U), KAVLO_ERR_FORMAT);
  expect_usable();
}

TEST_F(Hostile, OneExtinfWithAHundredThousandAttributes) {
  std::string line = "#EXTM3U\n#EXTINF:1";
  for (int i = 0; i < 100000; ++i) line += " k" + std::to_string(i) + "=\"v,\"";
  ASSERT_EQ(kt::parse(line + ",title\n/a\n"), KAVLO_OK);
  EXPECT_EQ(kavlo_item_attr_count(0), 64);
  EXPECT_STREQ(kavlo_item_title(0), "title");
  EXPECT_STREQ(kavlo_item_attr(0, "k63"), "v,");
  expect_usable();
}

TEST_F(Hostile, FloodsOfEntriesAndWarnings) {
  ASSERT_EQ(kt::parse("#EXTM3U\n" + repeat("#EXTINF:1 a=b,t\n", 100000)), KAVLO_OK);
  EXPECT_EQ(kavlo_item_count(), 0);
  ASSERT_EQ(kt::parse("#EXTM3U\n" + repeat("#x\n", 1000000)), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 512);
  ASSERT_EQ(kt::parse(repeat("MESSAGE x\n", 1000000), KAVLO_FORMAT_CUE), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 512);
  ASSERT_EQ(kt::parse(repeat("FILE \"a\" WAVE\nTRACK 1 AUDIO\nINDEX 1 0:0:0\n", 200000)), KAVLO_OK);
  EXPECT_EQ(kavlo_cue_track_count(), 200000);
  EXPECT_EQ(kavlo_item_count(), 200000);
  expect_usable();
}

TEST_F(Hostile, NulBytesThroughout) {
  std::string text = "#EXTM3U\n";
  for (int i = 0; i < 100000; ++i) text += std::string("/p\0\0x\0\n", 7);
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  EXPECT_EQ(kavlo_item_count(), 100000);
  EXPECT_STREQ(kavlo_item_location(99999), "/p");
  ASSERT_EQ(kt::parse(std::string(1u << 20, '\0')), KAVLO_ERR_FORMAT);
  EXPECT_EQ(kavlo_detected_format(), KAVLO_FORMAT_UNKNOWN);
  expect_usable();
}

TEST_F(Hostile, BrokenUtf16) {
  const std::string lone_high = std::string("\xFF\xFE") + repeat(std::string("A\0\x00\xD8", 4), 1000);
  EXPECT_EQ(kt::parse(lone_high), KAVLO_ERR_DECODE);
  EXPECT_STREQ(kavlo_last_error(), "utf16le fail");
  const std::string lone_low = std::string("\xFE\xFF\xDC\x00\x00" "A", 6);
  EXPECT_EQ(kt::parse(lone_low), KAVLO_ERR_DECODE);
  EXPECT_STREQ(kavlo_last_error(), "utf16be fail");
  EXPECT_EQ(kt::parse(repeat("\xFF\xFE", 1000), KAVLO_FORMAT_CUE, "utf-16le"), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 1);
  expect_usable();
}

}  // namespace
