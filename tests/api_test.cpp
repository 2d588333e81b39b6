// The result store's accessors, the entry points' statuses and messages,
// and the lifetimes a host relies on, all through the public interface.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/kavlo_test.h"

namespace {

using kt::parse;
using kt::warnings;
using Api = kt::Store;

const char *const k_m3u =
    "#EXTM3U\n"
    "#EXTINF:215 tvg-id=\"a1\" Group-Title=\"Rock\" group-title=\"Pop\",Song\n"
    "http://example.com/a.mp3\n";

const char *const k_cue =
    "TITLE \"Sheet\"\nPERFORMER Band\nFILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE One\n"
    "ISRC X1\nFLAGS DCP PRE\nINDEX 01 00:00:01\nINDEX 02 00:00:74\nINDEX 03 00:01:00\n"
    "INDEX 04 1000:00:00\n";

TEST_F(Api, EmptyStoreAnswersNeutrally) {
  EXPECT_EQ(kavlo_item_count(), 0);
  EXPECT_EQ(kavlo_cue_track_count(), 0);
  EXPECT_EQ(kavlo_warning_count(), 0);
  EXPECT_STREQ(kavlo_last_error(), "");
  EXPECT_EQ(kavlo_detected_format(), KAVLO_FORMAT_M3U);
  EXPECT_EQ(kavlo_m3u_is_imdb_date_playlist(), 0);
  EXPECT_EQ(kavlo_item_location(0), nullptr);
  EXPECT_EQ(kavlo_cue_meta("TITLE"), nullptr);
  EXPECT_EQ(kavlo_warning(0), nullptr);
  EXPECT_EQ(kt::json(), R"({"format":"m3u","item_count":0,"imdb_date_playlist":false,"items":[]})");
  kavlo_clear();
  kavlo_clear();
  EXPECT_EQ(kavlo_item_count(), 0);
}

TEST_F(Api, VersionIsTheProjectVersion) {
  EXPECT_STREQ(kavlo_version(), KAVLO_PROJECT_VERSION);
  EXPECT_EQ(kavlo_version(), kavlo_version()) << "one constant string";
}

TEST_F(Api, FormatNames) {
  const std::pair<int, const char *> names[] = {
      {-1, "auto"}, {0, "m3u"}, {1, "m3u8-hls"}, {2, "streaming-list"}, {3, "cue"},
      {4, "unknown"}, {5, "unknown"}, {-2, "unknown"}, {INT32_MIN, "unknown"}};
  for (auto [code, name] : names) EXPECT_STREQ(kavlo_format_name(code), name) << code;
}

TEST_F(Api, ItemAccessorsRejectEveryOutOfRangeIndex) {
  ASSERT_EQ(parse(k_m3u), KAVLO_OK);
  ASSERT_EQ(kavlo_item_count(), 1);
  for (int bad : {-1, 1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(kavlo_item_location(bad), nullptr);
    EXPECT_EQ(kavlo_item_title(bad), nullptr);
    EXPECT_EQ(kavlo_item_duration_ms(bad), 0);
    EXPECT_EQ(kavlo_item_release_date(bad), 0);
    EXPECT_EQ(kavlo_item_attr_count(bad), 0);
    EXPECT_EQ(kavlo_item_attr_key(bad, 0), nullptr);
    EXPECT_EQ(kavlo_item_attr(bad, "tvg-id"), nullptr);
  }
  EXPECT_EQ(kavlo_item_attr_key(0, -1), nullptr);
  EXPECT_EQ(kavlo_item_attr_key(0, 3), nullptr);
  EXPECT_STREQ(kavlo_item_attr_key(0, 2), "group-title");
  EXPECT_EQ(kavlo_item_duration_ms(0), 215000);
}

TEST_F(Api, AttributeLookupFoldsCaseAndTakesTheFirstMatch) {
  ASSERT_EQ(parse(k_m3u), KAVLO_OK);
  EXPECT_STREQ(kavlo_item_attr(0, "GROUP-TITLE"), "Rock");
  EXPECT_STREQ(kavlo_item_attr(0, "TVG-ID"), "a1");
  EXPECT_EQ(kavlo_item_attr(0, "tvg"), nullptr);
  EXPECT_EQ(kavlo_item_attr(0, "tvg-id2"), nullptr);
  EXPECT_EQ(kavlo_item_attr(0, nullptr), nullptr);
  EXPECT_STREQ(kavlo_item_attr_key(0, 1), "Group-Title");
}

// Track-level lines never reach the sheet's fields: CATALOG and CDTEXTFILE
// inside a track are dropped, TITLE, PERFORMER and SONGWRITER go to the
// track, and ISRC before the first track is dropped.
TEST_F(Api, SheetFieldsAfterTrackLevelKeywords) {
  for (const bool sheet_has_them : {true, false}) {
    std::string text = "ISRC S0\n";
    if (sheet_has_them)
      text += "TITLE St\nPERFORMER Sp\nSONGWRITER Ss\nCATALOG 111\nCDTEXTFILE s.cdt\n";
    text += "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE Tt\nPERFORMER Tp\nSONGWRITER Ts\n"
            "CATALOG 222\nCDTEXTFILE t.cdt\nISRC T1\nINDEX 01 00:00:00\n";
    ASSERT_EQ(parse(text, KAVLO_FORMAT_CUE), KAVLO_OK);
    const char *sheet[][2] = {{"TITLE", "St"}, {"PERFORMER", "Sp"}, {"SONGWRITER", "Ss"},
                              {"CATALOG", "111"}, {"CDTEXTFILE", "s.cdt"}};
    for (const auto &[key, value] : sheet) {
      if (sheet_has_them) EXPECT_STREQ(kavlo_cue_meta(key), value) << key;
      else EXPECT_EQ(kavlo_cue_meta(key), nullptr) << key;
    }
    EXPECT_EQ(kavlo_cue_meta("ISRC"), nullptr);
    EXPECT_STREQ(kavlo_cue_track_field(0, "TITLE"), "Tt");
    EXPECT_STREQ(kavlo_cue_track_field(0, "PERFORMER"), "Tp");
    EXPECT_STREQ(kavlo_cue_track_field(0, "SONGWRITER"), "Ts");
    EXPECT_STREQ(kavlo_cue_track_field(0, "ISRC"), "T1");
    EXPECT_EQ(kavlo_cue_track_field(0, "CATALOG"), nullptr);
    EXPECT_EQ(kavlo_warning_count(), 0);
  }
}

// SONGWRITER, ISRC, FLAGS and the gaps are kept apart from the tracks, for
// the few that have them: each answers for its own track only.
TEST_F(Api, FieldsOfSomeTracksOnly) {
  std::string text = "FILE \"a.wav\" WAVE\n";
  for (int i = 0; i < 60; ++i) {
    text += "TRACK " + std::to_string(i + 1) + " AUDIO\n";
    if (i % 3 == 0) text += "ISRC I" + std::to_string(i) + "\n";
    if (i % 5 == 0) text += "FLAGS F" + std::to_string(i) + "\n";
    if (i % 7 == 0) text += "SONGWRITER S" + std::to_string(i) + "\n";
    if (i % 4 == 0) text += "PREGAP 00:00:" + std::to_string(10 + i) + "\n";
    text += "INDEX 01 00:00:00\n";
  }
  ASSERT_EQ(parse(text, KAVLO_FORMAT_CUE), KAVLO_OK);
  ASSERT_EQ(kavlo_cue_track_count(), 60);
  auto field = [](int t, const char *key) {
    const char *v = kavlo_cue_track_field(t, key);
    return v ? std::string(v) : std::string("-");
  };
  const std::string full = kavlo_result_json_full();
  for (int i = 0; i < 60; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(field(i, "ISRC"), i % 3 == 0 ? "I" + n : "-") << i;
    EXPECT_EQ(field(i, "FLAGS"), i % 5 == 0 ? "F" + n : "-") << i;
    EXPECT_EQ(field(i, "SONGWRITER"), i % 7 == 0 ? "S" + n : "-") << i;
    EXPECT_EQ(full.find("\"pregap\":" + std::to_string(10 + i) + "}") != std::string::npos, i % 4 == 0) << i;
  }
  EXPECT_EQ(field(60, "ISRC"), "-");
}

TEST_F(Api, CueAccessorsAndMilliseconds) {
  ASSERT_EQ(parse(k_cue), KAVLO_OK);
  EXPECT_STREQ(kavlo_cue_meta("title"), "Sheet");
  EXPECT_STREQ(kavlo_cue_meta("Performer"), "Band");
  EXPECT_EQ(kavlo_cue_meta("ISRC"), nullptr);
  EXPECT_EQ(kavlo_cue_meta("SONGWRITER"), nullptr);
  EXPECT_EQ(kavlo_cue_meta(nullptr), nullptr);
  EXPECT_STREQ(kavlo_cue_track_field(0, "isrc"), "X1");
  EXPECT_STREQ(kavlo_cue_track_field(0, "FLAGS"), "DCP PRE");
  EXPECT_STREQ(kavlo_cue_track_field(0, "DataType"), "AUDIO");
  EXPECT_STREQ(kavlo_cue_track_field(0, "FILE"), "a.wav");
  EXPECT_EQ(kavlo_cue_track_field(0, "CATALOG"), nullptr);
  EXPECT_EQ(kavlo_cue_track_field(0, "PERFORMER"), nullptr);
  EXPECT_EQ(kavlo_cue_track_field(1, "TITLE"), nullptr);
  EXPECT_EQ(kavlo_cue_track_field(0, nullptr), nullptr);

  ASSERT_EQ(kavlo_cue_track_index_count(0), 4);
  const int ms[] = {13, 986, 1000, 60000000};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(kavlo_cue_track_index_number(0, i), i + 1);
    EXPECT_EQ(kavlo_cue_track_index_ms(0, i), ms[i]);
  }
  EXPECT_EQ(kavlo_cue_track_index_frames(0, 3), int64_t{4500000});
  for (auto [t, slot] : {std::pair{0, 4}, {0, -1}, {1, 0}, {-1, 0}}) {
    EXPECT_EQ(kavlo_cue_track_index_number(t, slot), -1);
    EXPECT_EQ(kavlo_cue_track_index_frames(t, slot), int64_t{-1});
    EXPECT_EQ(kavlo_cue_track_index_ms(t, slot), -1);
  }
  EXPECT_EQ(kavlo_cue_track_index_count(1), 0);
}

TEST_F(Api, ManyItemsKeepTheirStrings) {
  std::string text = "#EXTM3U\n";
  for (int i = 0; i < 1000; ++i) text += "#EXTINF:" + std::to_string(i) + ",t" + std::to_string(i) + "\n/p/" + std::to_string(i) + "\n";
  ASSERT_EQ(parse(text), KAVLO_OK);
  ASSERT_EQ(kavlo_item_count(), 1000);
  const char *first = kavlo_item_title(0);
  kavlo_result_json();
  EXPECT_EQ(kt::detect("#EXTM3U\n"), KAVLO_FORMAT_M3U);
  EXPECT_EQ(kavlo_item_title(0), first);
  for (int i : {0, 64, 65, 999}) {
    EXPECT_EQ(kavlo_item_title(i), "t" + std::to_string(i));
    EXPECT_EQ(kavlo_item_location(i), "/p/" + std::to_string(i));
    EXPECT_EQ(kavlo_item_duration_ms(i), i * 1000);
  }
}

TEST_F(Api, WarningsStopAt512AndAreCutWithoutSplittingCharacters) {
  std::string text;
  for (int i = 0; i < 600; ++i) text += "x\n";
  ASSERT_EQ(parse(text, KAVLO_FORMAT_CUE), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 512);
  EXPECT_EQ(kavlo_warning(512), nullptr);
  EXPECT_STREQ(kavlo_warning(511), "cue: garbage: x");

  ASSERT_EQ(parse("REM " + std::string(600, 'a'), KAVLO_FORMAT_CUE), KAVLO_OK);
  EXPECT_EQ(std::strlen(kavlo_warning(0)), 511u);

  // "cue: REM a" is 10 bytes; the 251st "é" would straddle byte 511.
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";
  ASSERT_EQ(parse("REM a" + accents, KAVLO_FORMAT_CUE), KAVLO_OK);
  EXPECT_EQ(std::strlen(kavlo_warning(0)), 510u);
  EXPECT_NE(kt::json(), "{}");
}

struct StatusCase {
  const char *name;
  const char *text;  // NULL stands for a NULL pointer
  size_t len;
  int format;
  int status;
  const char *error;
  int detected;

  friend void PrintTo(const StatusCase &c, std::ostream *os) { *os << c.name; }
};

class EntryStatus : public kt::Store, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(EntryStatus, GivesStatusMessageAndFormat) {
  const StatusCase &c = GetParam();
  ASSERT_EQ(parse("#EXTM3U\n/previous\n"), KAVLO_OK);
  EXPECT_EQ(kavlo_parse(c.text, c.len, c.format), c.status);
  EXPECT_STREQ(kavlo_last_error(), c.error);
  EXPECT_EQ(kavlo_detected_format(), c.detected);
  if (c.status != KAVLO_OK) { EXPECT_EQ(kavlo_item_count(), 0); }
}

const StatusCase k_status_cases[] = {
    {"NullEmptyAuto", nullptr, 0, -1, KAVLO_ERR_FORMAT, "unknown playlist format", 4},
    {"NullEmptyM3u", nullptr, 0, 0, KAVLO_ERR_FORMAT, "Not a valid M3U file. Missing header.", 0},
    {"NullEmptyStreaming", nullptr, 0, 2, KAVLO_OK, "", 2},
    {"NullEmptyCue", nullptr, 0, 3, KAVLO_OK, "", 3},
    {"NullWithLength", nullptr, 5, -1, KAVLO_ERR_INVALID, "null text", 0},
    {"HlsGivenRefusesPlainM3u", "#EXTM3U\n/a\n", 11, 1, KAVLO_ERR_FORMAT,
     "HLS manifest detected; not parsed as playlist items", 1},
    {"HlsDetected", "#EXTM3U\n#EXT-X-ENDLIST\n", 23, -1, KAVLO_ERR_FORMAT,
     "HLS manifest detected; not parsed as playlist items", 1},
    {"HlsUnderM3uFormat", "#EXTM3U\n#EXT-X-KEY:x\n", 21, 0, KAVLO_ERR_FORMAT,
     "HLS manifest detected; not parsed as playlist items", 1},
    {"FormatSeven", "#EXTM3U\n", 8, 7, KAVLO_ERR_FORMAT, "unknown playlist format", 7},
    {"FormatMinusTwo", "#EXTM3U\n", 8, -2, KAVLO_ERR_FORMAT, "unknown playlist format", -2},
    {"FormatFour", "#EXTM3U\n", 8, 4, KAVLO_ERR_FORMAT, "unknown playlist format", 4},
    {"Utf16BomUnderM3u", "\xFF\xFE#\0E\0X\0T\0M\0""3\0U\0", 16, 0, KAVLO_OK, "", 0},
    {"Utf8BomUnderM3u", "\xEF\xBB\xBF#EXTM3U\n", 11, 0, KAVLO_OK, "", 0},
};

INSTANTIATE_TEST_SUITE_P(Api, EntryStatus, ::testing::ValuesIn(k_status_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Api, DetectKeepsTheLastParse) {
  ASSERT_EQ(parse("#EXTM3U\n/a\n"), KAVLO_OK);
  const char *warning = kavlo_warning(0);
  EXPECT_EQ(kt::detect("http://x/caf\xE9"), KAVLO_FORMAT_STREAMING_LIST);
  EXPECT_EQ(kavlo_detected_format(), KAVLO_FORMAT_M3U);
  EXPECT_EQ(kavlo_item_count(), 1);
  EXPECT_EQ(kavlo_warning(0), warning);
  EXPECT_EQ(warnings(), (std::vector<std::string>{"m3u: bare path accepted",
                                                  "encoding: CP1252 fallback"}));
  EXPECT_EQ(kt::detect("\xFF\xFE" "A"), KAVLO_FORMAT_UNKNOWN);
  EXPECT_STREQ(kavlo_last_error(), "utf16le fail");
  EXPECT_EQ(kavlo_detect(nullptr, 3), KAVLO_FORMAT_UNKNOWN);
  EXPECT_EQ(kt::detect(""), KAVLO_FORMAT_UNKNOWN);
  EXPECT_EQ(kavlo_item_count(), 1);
}

TEST_F(Api, FileEntryPoints) {
  const std::string m3u = kt::temp_file("a.m3u", "#EXTM3U\n#EXTINF:5,caf\xE9\n/a\n");
  ASSERT_EQ(kavlo_parse_file(m3u.c_str()), KAVLO_OK);
  EXPECT_STREQ(kavlo_item_title(0), "caf\xC3\xA9");
  ASSERT_EQ(kavlo_parse_file_enc(m3u.c_str(), "latin1"), KAVLO_OK);
  EXPECT_EQ(kavlo_warning_count(), 0);
  EXPECT_EQ(kavlo_parse_file_enc(m3u.c_str(), "x-unknown"), KAVLO_ERR_DECODE);
  EXPECT_STREQ(kavlo_last_error(), "iconv x-unknown fail");

  // Failures before the read keep the previous result.
  ASSERT_EQ(kavlo_parse_file(m3u.c_str()), KAVLO_OK);
  const std::string missing = m3u + ".missing";
  EXPECT_EQ(kavlo_parse_file(missing.c_str()), KAVLO_ERR_IO);
  EXPECT_EQ(std::string(kavlo_last_error()), std::string("io: ") + std::strerror(ENOENT));
  EXPECT_EQ(kavlo_parse_file(nullptr), KAVLO_ERR_INVALID);
  EXPECT_STREQ(kavlo_last_error(), "null path");
  const std::string dir = m3u.substr(0, m3u.rfind('/'));
  EXPECT_EQ(kavlo_parse_file(dir.c_str()), KAVLO_ERR_IO);
  EXPECT_EQ(std::string(kavlo_last_error()), std::string("io: ") + std::strerror(EISDIR));
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(kavlo_parse_file(fifo.c_str()), KAVLO_ERR_IO);
  EXPECT_STREQ(kavlo_last_error(), "seek");
  EXPECT_EQ(kavlo_item_count(), 1);
  EXPECT_STREQ(kavlo_item_location(0), "/a");

  // 2 GiB and more is refused before any read, from exactly 2^31 bytes on;
  // the file is sparse.
  const std::string big = kt::temp_file("big.m3u", "");
  for (const off_t size : {off_t{1} << 31, (off_t{1} << 31) + 1}) {
    ASSERT_EQ(::truncate(big.c_str(), size), 0);
    EXPECT_EQ(kavlo_parse_file(big.c_str()), KAVLO_ERR_IO) << size;
    EXPECT_STREQ(kavlo_last_error(), "tell");
    EXPECT_EQ(kavlo_item_count(), 1);
  }

  const std::string empty = kt::temp_file("empty", "");
  EXPECT_EQ(kavlo_parse_file(empty.c_str()), KAVLO_ERR_FORMAT);
  EXPECT_STREQ(kavlo_last_error(), "unknown playlist format");
  EXPECT_EQ(kavlo_item_count(), 0);
}

// Files large enough to be read into a block of their own, whose block the
// export then takes: the same documents as the bytes parsed from memory,
// for a parse that succeeds, one that fails, and text that is converted.
TEST_F(Api, LargeFilesGiveTheDocumentsOfTheirBytes) {
  std::string m3u = "#EXTM3U\n", plain, utf16 = "\xFF\xFE";
  for (int i = 0; m3u.size() < (size_t{6} << 20); ++i)
    m3u += "#EXTINF:3 tvg-id=\"" + std::to_string(i) + "\",T\xC3\xA9 " + std::to_string(i) + "\n/x/" +
           std::to_string(i) + "\n";
  while (plain.size() < (size_t{5} << 20)) plain += "no playlist here\n";
  while (utf16.size() < (size_t{5} << 20))
    for (char c : std::string("http://x/a\n")) (utf16 += c) += '\0';
  for (const std::string *text : {&m3u, &plain, &utf16}) {
    const std::string path = kt::temp_file("large", *text);
    const int rc = kavlo_parse_file(path.c_str());
    const std::string json = kavlo_result_json(), full = kavlo_result_json_full();
    EXPECT_EQ(std::string(kavlo_result_json()), json);
    ASSERT_EQ(parse(*text), rc);
    EXPECT_EQ(std::string(kavlo_result_json()), json);
    EXPECT_EQ(std::string(kavlo_result_json_full()), full);
    EXPECT_EQ(rc == KAVLO_OK, text != &plain);
    if (text == &m3u) {
      EXPECT_GT(json.size(), m3u.size());
    }
  }
}

TEST_F(Api, JsonTextLivesUntilTheNextCall) {
  ASSERT_EQ(parse("#EXTM3U\n#EXTINF:1,a\"b\\c\td/e\xC3\xA9\n/x\n"), KAVLO_OK);
  const std::string first = kavlo_result_json();
  EXPECT_NE(first.find(R"("title":"a\"b\\c\td/eé")"), std::string::npos) << first;
  EXPECT_EQ(first, kt::json());
  ASSERT_EQ(parse("#EXTM3U\n#EXTINF:1,a\xC0\xAF\n/x\n"), KAVLO_OK);
  EXPECT_STREQ(kavlo_result_json(), "{}");
  ASSERT_EQ(parse("#EXTM3U\n#EXTINF:1,a\xED\xA0\x80\n/x\n"), KAVLO_OK);
  EXPECT_STREQ(kavlo_result_json(), "{}");
  EXPECT_EQ(kavlo_parse("#EXTM3U\n", 8, 9), KAVLO_ERR_FORMAT);
  EXPECT_EQ(kt::json(), R"({"format":"unknown","item_count":0,"imdb_date_playlist":false,"items":[]})");
}

}  // namespace
