// Caps that hostile input runs into: attributes per item, indices per
// track, warnings, long lines and many entries.
#include <string>

#include "support/kavlo_test.h"

namespace {

using Limits = kt::Store;

std::string attrs(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += " a" + std::to_string(i) + "=" + std::to_string(i);
  return s;
}

TEST_F(Limits, SixtyFourAttributesThenSilence) {
  const std::string text = "#EXTM3U\n#EXTGRP:G\n#EXTINF:1" + attrs(64) + ",T\n/a\n"
                           "#EXTGRP:G\n#EXTINF:1" + attrs(63) + ",T\n/b\n"
                           "#EXTINF:1" + attrs(100) + ",T\n/c\n";
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 0);
  EXPECT_EQ(kavlo_item_attr_count(0), 64);
  EXPECT_STREQ(kavlo_item_attr_key(0, 63), "a64");
  EXPECT_EQ(kavlo_item_attr(0, "group-title"), nullptr);
  EXPECT_EQ(kavlo_item_attr_count(1), 64);
  EXPECT_STREQ(kavlo_item_attr(1, "group-title"), "G");
  EXPECT_EQ(kavlo_item_attr_count(2), 64);
  EXPECT_EQ(kavlo_item_attr(2, "a65"), nullptr);
  EXPECT_STREQ(kavlo_item_title(2), "T");
}

TEST_F(Limits, TracksGrowAndIndicesStopAtThirtyTwo) {
  std::string text = "FILE \"x.wav\" WAVE\n";
  for (int t = 1; t <= 17; ++t) {
    text += "TRACK " + std::to_string(t) + " AUDIO\nTITLE T" + std::to_string(t) + "\n";
    for (int i = 0; i < (t == 17 ? 40 : 1); ++i) text += "INDEX " + std::to_string(i) + " 00:00:01\n";
  }
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  ASSERT_EQ(kavlo_cue_track_count(), 17);
  ASSERT_EQ(kavlo_item_count(), 17);
  EXPECT_STREQ(kavlo_item_title(16), "T17");
  EXPECT_STREQ(kavlo_cue_track_field(0, "file"), "x.wav");
  EXPECT_EQ(kavlo_cue_track_index_count(16), 32);
  EXPECT_EQ(kavlo_cue_track_index_number(16, 31), 31);
  EXPECT_EQ(kavlo_cue_track_index_count(15), 1);
  EXPECT_EQ(kavlo_warning_count(), 0);
}

TEST_F(Limits, WarningsCountDecoderNoticesFirst) {
  std::string text = "#EXTM3U\n#EXTINF:1,caf\xE9\n/a\n";
  for (int i = 0; i < 600; ++i) text += "#x\n";
  text += "/late\n";
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 512);
  EXPECT_STREQ(kavlo_warning(0), "encoding: CP1252 fallback");
  EXPECT_STREQ(kavlo_warning(511), "m3u: unknown tag");
  EXPECT_EQ(kavlo_item_count(), 2);
  EXPECT_STREQ(kavlo_item_location(1), "/late");
}

TEST_F(Limits, LongLinesAndManyEntries) {
  const std::string title(1 << 20, 'x');
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTINF:1," + title + "\n/a\n"), KAVLO_OK);
  EXPECT_EQ(std::string(kavlo_item_title(0)), title);

  std::string text = "#EXTM3U\n";
  for (int i = 0; i < 100000; ++i) text += "#EXTINF:1 group-title=\"g\",t\nhttp://h/" + std::to_string(i) + "\n";
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  ASSERT_EQ(kavlo_item_count(), 100000);
  EXPECT_STREQ(kavlo_item_location(99999), "http://h/99999");
  EXPECT_STREQ(kavlo_item_attr(99999, "group-title"), "g");
  EXPECT_GT(std::string(kavlo_result_json()).size(), 100000u * 60);
}

// Arrays of the store grow from the heap into mappings of their own and on
// into larger ones. Entries take megabytes of records but little text, too
// little for the arrays to be reserved up front, so that they take every
// step; every entry must read back afterwards.
std::string base36(int n) {
  std::string s;
  do {
    s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
    n /= 36;
  } while (n != 0);
  return s;
}

TEST_F(Limits, GrowingArraysKeepEveryEntry) {
  constexpr int items = 300000;
  std::string text = "#EXTM3U\n";
  for (int i = 0; i < items; ++i) text += "/" + base36(i) + "\n";
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  ASSERT_EQ(kavlo_item_count(), items);
  for (int i = 0; i < items; ++i)
    ASSERT_STREQ(kavlo_item_location(i), ("/" + base36(i)).c_str()) << i;

  // 600 000 attributes.
  constexpr int lists = 9375, per_item = 64;
  text = "#EXTM3U\n";
  for (int i = 0; i < lists; ++i) {
    text += "#EXTINF:1";
    for (int k = 0; k < per_item; ++k) text += " " + base36(k) + "=" + base36((i + k) % 36);
    text += ",t\n/\n";
  }
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  ASSERT_EQ(kavlo_item_count(), lists);
  for (int i = 0; i < lists; ++i) {
    ASSERT_EQ(kavlo_item_attr_count(i), per_item) << i;
    for (int k = 0; k < per_item; ++k) {
      ASSERT_STREQ(kavlo_item_attr_key(i, k), base36(k).c_str()) << i;
      ASSERT_STREQ(kavlo_item_attr(i, base36(k).c_str()), base36((i + k) % 36).c_str()) << i;
    }
  }

  constexpr int tracks = 90000;
  text = "FILE \"a.wav\" WAVE\n";
  for (int t = 0; t < tracks; ++t) text += "TRACK 1\nTITLE " + base36(t) + "\n";
  ASSERT_EQ(kt::parse(text, KAVLO_FORMAT_CUE), KAVLO_OK);
  ASSERT_EQ(kavlo_cue_track_count(), tracks);
  ASSERT_EQ(kavlo_item_count(), tracks);
  for (int t = 0; t < tracks; ++t) {
    ASSERT_STREQ(kavlo_cue_track_field(t, "TITLE"), base36(t).c_str()) << t;
    ASSERT_STREQ(kavlo_item_title(t), base36(t).c_str()) << t;
    ASSERT_STREQ(kavlo_cue_track_field(t, "FILE"), "a.wav") << t;
  }
}

}  // namespace
