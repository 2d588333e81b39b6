// The playlist writer and results built by appending. The round trip is
// the property: every text of the case files and of the fuzz corpus,
// parsed as its case says and in each format named, is written in every
// format that can hold it and read back (tests/support/roundtrip.h); the
// full document must then be the same without line numbers and warnings.
// Tables pin the writing rules kavlo.h documents, and what a result built
// entry by entry accepts and gives back.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kavlo.h"
#include "support/cases.h"
#include "support/roundtrip.h"

namespace {

using namespace std::string_literals;

struct Handle {
  kavlo_playlist *p = kavlo_playlist_new();
  Handle() = default;
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() { kavlo_playlist_free(p); }
  int parse(const std::string &text, int format = KAVLO_FORMAT_AUTO, const char *encoding = nullptr) {
    return kavlo_playlist_parse(p, text.data(), text.size(), format, encoding);
  }
  std::string write(int format, unsigned flags = 0) {
    const char *text = nullptr;
    size_t length = 0;
    const int rc = kavlo_playlist_write(p, format, flags, &text, &length);
    EXPECT_EQ(rc, KAVLO_OK);
    return rc == KAVLO_OK ? std::string(text, length) : std::string();
  }
  kavlo::Store &store() { return p->store; }
};

// The full document without the items' "line" and the root's "warnings"
// and "diagnostics", which describe the text rather than the playlist, and
// the items' "groups": the writer gives back the #EXTGRP: line of a
// "group-title", not yet every #EXTGRP: line where it stood.
std::string without_lines(const char *full) {
  yyjson_doc *read = yyjson_read(full, std::strlen(full), 0);
  if (read == nullptr) return full;
  yyjson_mut_doc *doc = yyjson_doc_mut_copy(read, nullptr);
  yyjson_doc_free(read);
  yyjson_mut_val *root = yyjson_mut_doc_get_root(doc);
  yyjson_mut_obj_remove_key(root, "warnings");
  yyjson_mut_obj_remove_key(root, "diagnostics");
  yyjson_mut_arr_iter it = yyjson_mut_arr_iter_with(yyjson_mut_obj_get(root, "items"));
  while (yyjson_mut_val *item = yyjson_mut_arr_iter_next(&it)) {
    yyjson_mut_obj_remove_key(item, "line");
    yyjson_mut_obj_remove_key(item, "groups");
  }
  char *text = yyjson_mut_write(doc, 0, nullptr);
  std::string out = text != nullptr ? text : "";
  std::free(text);
  yyjson_mut_doc_free(doc);
  return out;
}

struct Input {
  std::string name;
  std::string bytes;
  int format;
  std::string encoding;
  bool has_encoding;
  friend void PrintTo(const Input &i, std::ostream *os) { *os << i.name; }
};

std::vector<Input> inputs() {
  std::vector<Input> out;
  for (const kt::Case &c : kt::load_cases())
    out.push_back({c.name, c.input, c.format, c.encoding, c.has_encoding});
  std::vector<std::filesystem::path> files;
  for (const auto &e : std::filesystem::directory_iterator(KAVLO_CORPUS_DIR)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto &path : files) {
    std::ifstream f(path, std::ios::binary);
    std::string name = "corpus_" + path.filename().string();
    for (char &ch : name)
      if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    out.push_back({name, std::string(std::istreambuf_iterator<char>(f), {}), KAVLO_FORMAT_AUTO, "", false});
  }
  return out;
}

class RoundTrip : public ::testing::TestWithParam<Input> {};

// Parsed as given and as each format, every successful result comes back.
TEST_P(RoundTrip, EveryFormatGivesTheResultBack) {
  const Input &in = GetParam();
  int parsed = 0;
  for (int format : {in.format, KAVLO_FORMAT_M3U, KAVLO_FORMAT_STREAMING_LIST, KAVLO_FORMAT_CUE}) {
    SCOPED_TRACE("parsed as " + std::string(kavlo_format_name(format)));
    Handle h;
    if (h.parse(in.bytes, format, in.has_encoding ? in.encoding.c_str() : nullptr) != KAVLO_OK) continue;
    ++parsed;
    std::string own;
    const std::string failure = kt::round_trip(h.store(), &own);
    ASSERT_EQ(failure, "");
    if (own.empty() && h.store().detected_format == KAVLO_FORMAT_M3U) FAIL() << "no M3U text";
    if (own.empty()) continue;
    // The documents agree as well, where they can be written.
    Handle back;
    ASSERT_EQ(back.parse(own, h.store().detected_format), KAVLO_OK);
    EXPECT_EQ(without_lines(kavlo_playlist_json_full(back.p)), without_lines(kavlo_playlist_json_full(h.p)))
        << own;
  }
  RecordProperty("results", parsed);
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTrip, ::testing::ValuesIn(inputs()),
                         [](const auto &info) { return info.param.name; });

// ---- The writing rules -----------------------------------------------------

struct Rule {
  const char *name;
  std::string input;
  int format;   // of the parse; the text is written in the same format
  std::string written;  // the exact text, or "" to check the round trip only
  friend void PrintTo(const Rule &r, std::ostream *os) { *os << r.name; }
};

const std::vector<Rule> &rules() {
  static const std::vector<Rule> all = {
      {"value_with_quote_bare", "#EXTM3U\n#EXTINF:-1 tvg-name=say\"cheese\" x=\"a b\",T\n/a\n", KAVLO_FORMAT_M3U,
       "#EXTM3U\n#EXTINF:-1 tvg-name=say\"cheese\" x=\"a b\",T\n/a\n"},
      // A quote in a key: a lone quote word keeps the title's comma outside.
      {"odd_quotes_balanced", "#EXTM3U\n#EXTINF:-1 a\"b=1 \",T\n/a\n", KAVLO_FORMAT_M3U,
       "#EXTM3U\n#EXTINF:-1 a\"b=\"1\" \",T\n/a\n"},
      {"title_with_quoted_comma", "#EXTM3U\n#EXTINF:-1 x=\"1\",\"A, B\" and C\n/a\n", KAVLO_FORMAT_M3U,
       "#EXTM3U\n#EXTINF:-1 x=\"1\",\"A, B\" and C\n/a\n"},
      {"extgrp_stays_a_line", "#EXTM3U\n#EXTGRP:My \"Best\" Group\n#EXTINF:3 a=b,T\n/a\n#EXTINF:1 group-title=G,U\n/b\n",
       KAVLO_FORMAT_M3U,
       "#EXTM3U\n#EXTGRP:My \"Best\" Group\n#EXTINF:3 a=\"b\",T\n/a\n#EXTINF:1 group-title=\"G\",U\n/b\n"},
      {"bare_path_and_empty_extinf", "#EXTM3U\n/a\n#EXTINF:-1,\n/b\n#EXTINF:-7\n/c\n", KAVLO_FORMAT_M3U,
       "#EXTM3U\n/a\n/b\n#EXTINF:-7,\n/c\n"},
      {"option_forms", "#EXTM3U\n#A\n#B:k\n#C:k =\n#D :\n#E:=v\n#F:k=v=w:x\n/a\n", KAVLO_FORMAT_M3U,
       "#EXTM3U\n#A\n#B:k\n#C:k =\n#D :\n#E:=v\n#F:k=v=w:x\n/a\n"},
      {"header_attributes", "#EXTM3Ux-tvg-url=\"u v\" w=x\"y\n/a\n", KAVLO_FORMAT_M3U,
       "#EXTM3U x-tvg-url=\"u v\" w=x\"y\n/a\n"},
      {"duration_numbers", "#EXTM3U\n#EXTINF:4294967297,a\n/a\n#EXTINF:-2147483648,b\n/b\n", KAVLO_FORMAT_M3U,
       "#EXTM3U\n#EXTINF:1,a\n/a\n#EXTINF:-2147483648,b\n/b\n"},
      {"imdb", "#EXTM3U\n#EXTINF:19990331,tt1\n/a\n", KAVLO_FORMAT_M3U, "#EXTM3U\n#EXTINF:19990331,tt1\n/a\n"},
      {"streaming_groups", "A,http://x/0\nG,#genre#\nB，http://x/1\n,#genre#\nhttp://x/2\n,http://x/a,b\n",
       KAVLO_FORMAT_STREAMING_LIST,
       "A,http://x/0\nG,#genre#\nB,http://x/1\n,#genre#\nhttp://x/2\n,http://x/a,b\n"},
      // A name that starts with U+FEFF keeps it behind a byte-order mark.
      {"streaming_feff_name", "\xEF\xBB\xBF\xEF\xBB\xBFName,http://x/\n", KAVLO_FORMAT_STREAMING_LIST,
       "\xEF\xBB\xBF\xEF\xBB\xBFName,http://x/\n"},
      {"cue_file_forms", "FILE  x\nTRACK 1\nFILE y\nTRACK 2\nFILE \"a b\" MP3\nTRACK 3\nFILE \"\" WAVE\nTRACK 4\n",
       KAVLO_FORMAT_CUE,
       "FILE  x\n  TRACK 01\nFILE \"y\"\n  TRACK 02\nFILE \"a b\" MP3\n  TRACK 03\nFILE \"\" WAVE\n  TRACK 04\n"},
      {"cue_numbers_wrap", "TRACK 4294967295 AUDIO\nINDEX 4294967295 4294967295:0:0\nPREGAP 0:0:4294967295\n"
                           "TRACK x\nINDEX 1 2147483647:2147483647:2147483647\n",
       KAVLO_FORMAT_CUE,
       "  TRACK 4294967295 AUDIO\n    PREGAP 00:00:4294967295\n    INDEX 4294967295 4294967295:00:00\n"
       "  TRACK 00 x\n    INDEX 01 2147483647:2147483647:2147483647\n"},
      {"cue_fields_quoted_where_needed",
       "TITLE\nPERFORMER  \"a\"b\" \nCATALOG 1 2\nREM K \" v \"\nREM\nREM \"a b\"\nTRACK 1\nISRC X\nFLAGS  DCP\nTITLE x\n",
       KAVLO_FORMAT_CUE,
       "TITLE \"\"\nPERFORMER \" \"a\"b\"\"\nCATALOG \"1 2\"\nREM K \" v \"\nREM\nREM \"a b\"\n  TRACK 01\n"
       "    FLAGS  DCP\n    TITLE \"x\"\n    ISRC X\n"},
  };
  return all;
}

class Rules : public ::testing::TestWithParam<Rule> {};

TEST_P(Rules, WrittenAsDocumentedAndReadBack) {
  const Rule &r = GetParam();
  Handle h;
  ASSERT_EQ(h.parse(r.input, r.format), KAVLO_OK);
  if (!r.written.empty()) {
    EXPECT_EQ(h.write(r.format), r.written);
  }
  EXPECT_EQ(kt::round_trip(h.store()), "");
}

INSTANTIATE_TEST_SUITE_P(Writer, Rules, ::testing::ValuesIn(rules()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Writer, AnHlsMarkerIsPushedPastTheFirst64KiB) {
  const std::string text = "#EXTM3U\n" + std::string(70000, '\n') + "#EXT-X-ENDLIST\n#EXTINF:1,a\n/a\n";
  Handle h;
  ASSERT_EQ(h.parse(text), KAVLO_OK);
  for (unsigned flags : {0u, KAVLO_WRITE_BOM | KAVLO_WRITE_CRLF}) {
    const std::string out = h.write(KAVLO_FORMAT_M3U, flags);
    const std::string eol = flags ? "\r\n" : "\n";
    std::string blank;
    for (size_t k = 0; k < 65536 / eol.size(); ++k) blank += eol;
    const std::string mark = flags ? "\xEF\xBB\xBF" : "";
    EXPECT_EQ(out, mark + blank + "#EXTM3U" + eol + "#EXT-X-ENDLIST" + eol + "#EXTINF:1,a" + eol + "/a" + eol);
  }
  EXPECT_EQ(kt::round_trip(h.store()), "");
}

TEST(Writer, FlagsFormatsAndHandles) {
  Handle h;
  ASSERT_EQ(h.parse("#EXTM3U\n#EXTINF:1,a\n/a\n"), KAVLO_OK);
  EXPECT_EQ(h.write(KAVLO_FORMAT_AUTO, KAVLO_WRITE_BOM | KAVLO_WRITE_CRLF), "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:1,a\r\n/a\r\n");
  const char *text = "x";
  size_t length = 9;
  struct Refusal {
    kavlo_playlist *p;
    int format;
    unsigned flags;
    int status;
  };
  for (const Refusal &r : {Refusal{h.p, KAVLO_FORMAT_CUE, 0, KAVLO_ERR_FORMAT},
                           Refusal{h.p, KAVLO_FORMAT_M3U8_HLS, 0, KAVLO_ERR_FORMAT},
                           Refusal{h.p, KAVLO_FORMAT_UNKNOWN, 0, KAVLO_ERR_FORMAT},
                           Refusal{h.p, 99, 0, KAVLO_ERR_FORMAT},
                           Refusal{h.p, KAVLO_FORMAT_M3U, 4, KAVLO_ERR_INVALID},
                           Refusal{nullptr, KAVLO_FORMAT_M3U, 0, KAVLO_ERR_INVALID}}) {
    EXPECT_EQ(kavlo_playlist_write(r.p, r.format, r.flags, &text, &length), r.status) << r.format;
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(length, 0u);
    text = "x";
  }
  EXPECT_EQ(kavlo_playlist_write(h.p, KAVLO_FORMAT_M3U, 0, nullptr, &length), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_write(h.p, KAVLO_FORMAT_M3U, 0, &text, nullptr), KAVLO_OK);
  EXPECT_STREQ(kavlo_playlist_last_error(h.p), "");
  // A refused HLS text has no format of its own to write; an empty
  // handle writes an empty list.
  ASSERT_EQ(h.parse("#EXTM3U\n#EXT-X-ENDLIST\n"), KAVLO_ERR_FORMAT);
  EXPECT_EQ(kavlo_playlist_write(h.p, KAVLO_FORMAT_AUTO, 0, &text, &length), KAVLO_ERR_FORMAT);
  EXPECT_STREQ(kavlo_playlist_last_error(h.p), "HLS manifest detected; not parsed as playlist items");
  Handle empty;
  EXPECT_EQ(empty.write(KAVLO_FORMAT_AUTO), "#EXTM3U\n");
  EXPECT_EQ(empty.write(KAVLO_FORMAT_STREAMING_LIST), "");
}

// Across formats: what the target cannot hold is left out or changed as
// kavlo.h says.
TEST(Writer, AcrossFormats) {
  Handle m3u;
  ASSERT_EQ(m3u.parse("#EXTM3U\n#EXTINF:5 group-title=\"News, Sport\",Late, Later\n#EXTVLCOPT:x=y\n"
                      "http://x/1\n#EXTINF:1,Local\n/local.mp3\n#EXTINF:1,\"A, B\"\nhttp://x/2\n"),
            KAVLO_OK);
  EXPECT_EQ(m3u.write(KAVLO_FORMAT_STREAMING_LIST),
            "News\xE2\x80\x9A Sport,#genre#\nLater,http://x/1\n,#genre#\n\"A\xE2\x80\x9A B\",http://x/2\n");
  Handle cue;
  ASSERT_EQ(cue.parse("TRACK 1\nTITLE \"Artist, Song\"\nFILE \"#1.wav\" WAVE\nTRACK 2\nTITLE \" Two \"\n"
                      "FILE \" a.wav \" WAVE\nTRACK 3\nTITLE \"tt\"\n",
                      KAVLO_FORMAT_CUE),
            KAVLO_OK);
  // No FILE, and a FILE beginning with "#": no M3U location.
  EXPECT_EQ(cue.write(KAVLO_FORMAT_M3U), "#EXTM3U\n#EXTINF:-1,tt\n a.wav \n");
  EXPECT_EQ(cue.write(KAVLO_FORMAT_STREAMING_LIST), "");
  EXPECT_EQ(kt::round_trip(m3u.store()), "");
  EXPECT_EQ(kt::round_trip(cue.store()), "");
}

// ---- Appending -------------------------------------------------------------

TEST(Append, ChosenItemsInOrderWithEverythingTheyCarry) {
  Handle a, b, out;
  ASSERT_EQ(a.parse("#EXTM3U x-tvg-url=\"e\"\n#EXTGRP:G\n#EXTINF:1 k=v,One\n#KODIPROP:p=q\nhttp://s/1|UA=x\n"
                    "#EXTINF:2,Two\n/two\n"),
            KAVLO_OK);
  ASSERT_EQ(b.parse("#EXTM3U url-tvg=\"other\"\n#EXTINF:3,Three\n/three\n"), KAVLO_OK);
  const int pick[] = {1, 0, 1};
  ASSERT_EQ(kavlo_playlist_append(out.p, a.p, pick, 3), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_append(out.p, b.p, nullptr, 0), KAVLO_OK);
  // The first source's header; the second's is left.
  EXPECT_EQ(out.write(KAVLO_FORMAT_AUTO),
            "#EXTM3U x-tvg-url=\"e\"\n#EXTINF:2,Two\n/two\n#KODIPROP:p=q\n#EXTGRP:G\n#EXTINF:1 k=\"v\",One\n"
            "http://s/1|UA=x\n#EXTINF:2,Two\n/two\n#EXTINF:3,Three\n/three\n");
  EXPECT_EQ(kavlo_playlist_item_count(out.p), 4);
  EXPECT_EQ(kavlo_playlist_item_line(out.p, 1), 5);
  EXPECT_STREQ(kavlo_playlist_item_header_value(out.p, 1, 0), "x");
  EXPECT_STREQ(kavlo_playlist_item_option_tag(out.p, 1, 0), "KODIPROP");
  EXPECT_EQ(kavlo_playlist_item_option_count(out.p, 0), 0);
  EXPECT_EQ(kt::round_trip(out.store()), "");
}

TEST(Append, CueTracksComeWithTheirItems) {
  Handle a, b, out;
  ASSERT_EQ(a.parse("REM GENRE Jazz\nTITLE \"S\"\nFILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"A1\"\nFLAGS DCP\n"
                    "REM R 1\nPREGAP 00:00:02\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n"),
            KAVLO_OK);
  ASSERT_EQ(b.parse("TITLE \"Other\"\nFILE \"b.flac\" FLAC\nTRACK 05 AUDIO\nISRC X1\nREM Q 2\nINDEX 01 00:00:10\n"),
            KAVLO_OK);
  const int second[] = {1};
  ASSERT_EQ(kavlo_playlist_append(out.p, a.p, nullptr, 0), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_append(out.p, b.p, nullptr, 0), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_append(out.p, a.p, second, 1), KAVLO_OK);
  EXPECT_EQ(out.write(KAVLO_FORMAT_CUE),
            "TITLE \"S\"\nREM GENRE Jazz\nFILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS DCP\n    TITLE \"A1\"\n"
            "    REM R 1\n    PREGAP 00:00:02\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n"
            "FILE \"b.flac\" FLAC\n  TRACK 05 AUDIO\n    ISRC X1\n    REM Q 2\n    INDEX 01 00:00:10\n"
            "FILE \"a.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n");
  EXPECT_EQ(kavlo_playlist_cue_track_count(out.p), 4);
  EXPECT_STREQ(kavlo_playlist_item_location(out.p, 2), "b.flac");
  EXPECT_STREQ(kavlo_playlist_cue_track_rem_key(out.p, 2, 0), "Q");
  EXPECT_EQ(kt::round_trip(out.store()), "");
  // Into a list, a track is an item: its file and title.
  Handle list;
  ASSERT_EQ(list.parse("#EXTM3U\n/x\n"), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_append(list.p, a.p, nullptr, 0), KAVLO_OK);
  EXPECT_EQ(list.write(KAVLO_FORMAT_AUTO), "#EXTM3U\n/x\n#EXTINF:-1,A1\na.wav\na.wav\n");
}

TEST(Append, StreamingGroupsFollowTheirItems) {
  Handle a, out;
  ASSERT_EQ(a.parse("G,#genre#\nA,http://x/1\nH,#genre#\nB,http://x/2\n"), KAVLO_OK);
  const int pick[] = {1, 0, 0};
  ASSERT_EQ(kavlo_playlist_append(out.p, a.p, pick, 3), KAVLO_OK);
  EXPECT_EQ(out.write(KAVLO_FORMAT_AUTO), "H,#genre#\nB,http://x/2\nG,#genre#\nA,http://x/1\nA,http://x/1\n");
  EXPECT_EQ(out.write(KAVLO_FORMAT_M3U),
            "#EXTM3U\n#EXTGRP:H\n#EXTINF:-1,B\nhttp://x/2\n#EXTGRP:G\n#EXTINF:-1,A\nhttp://x/1\n#EXTGRP:G\n"
            "#EXTINF:-1,A\nhttp://x/1\n");
  EXPECT_EQ(kt::round_trip(out.store()), "");
}

TEST(Append, RefusalsLeaveTheTargetAsItWas) {
  Handle cue, list, out;
  ASSERT_EQ(cue.parse("FILE \"a\" WAVE\nTRACK 1\nINDEX 1 0:0:0\n"), KAVLO_OK);
  ASSERT_EQ(list.parse("#EXTM3U\n#EXTINF:19990331,tt1\n/a\n"), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_append(out.p, cue.p, nullptr, 0), KAVLO_OK);
  const std::string before = kavlo_playlist_json_full(out.p);
  const int bad[] = {1};
  const int negative[] = {-1};
  EXPECT_EQ(kavlo_playlist_append(out.p, list.p, nullptr, 0), KAVLO_ERR_FORMAT);
  EXPECT_EQ(kavlo_playlist_append(out.p, cue.p, bad, 1), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_append(out.p, cue.p, negative, 1), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_append(out.p, cue.p, nullptr, 1), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_append(out.p, out.p, nullptr, 0), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_append(nullptr, cue.p, nullptr, 0), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_append(out.p, nullptr, nullptr, 0), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_json_full(out.p), before);
  // An M3U target decides the IMDb flag again over all its items.
  Handle m;
  ASSERT_EQ(kavlo_playlist_append(m.p, list.p, nullptr, 0), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_m3u_is_imdb_date_playlist(m.p), 1);
  ASSERT_EQ(kavlo_playlist_append(m.p, cue.p, nullptr, 0), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_m3u_is_imdb_date_playlist(m.p), 0);
  EXPECT_EQ(kavlo_playlist_item_release_date(m.p, 0), 0);
}

// ---- Results built entry by entry ------------------------------------------

// One entry a program builds: location, title, duration, attributes and
// options (tag, key, value; "" for none).
struct Built {
  const char *location;
  const char *title;
  int64_t duration_ms;
  std::vector<std::pair<const char *, const char *>> attrs;
  std::vector<std::array<const char *, 3>> options;
};

void build(Handle &h, const std::vector<std::pair<const char *, const char *>> &header,
           const std::vector<Built> &entries) {
  for (const auto &[k, v] : header) ASSERT_EQ(kavlo_playlist_add_header_attr(h.p, k, v), KAVLO_OK) << k;
  for (const Built &e : entries) {
    ASSERT_EQ(kavlo_playlist_add_item(h.p, e.location, e.title, e.duration_ms), KAVLO_OK) << e.location;
    for (const auto &[k, v] : e.attrs) ASSERT_EQ(kavlo_playlist_add_attr(h.p, k, v), KAVLO_OK) << k;
    for (const auto &o : e.options)
      ASSERT_EQ(kavlo_playlist_add_option(h.p, o[0], o[1], o[2]), KAVLO_OK) << o[0];
  }
}

// Built, written in every format and read back, the result is the same;
// the M3U text reads back to the same full document, line numbers aside.
TEST(Build, WrittenTextReadsBackAsTheBuiltResult) {
  Handle h;
  build(h, {{"x-tvg-url", "http://epg/a.xml"}, {"tvg-shift", "1"}},
        {{"http://a/1.m3u8|User-Agent=VLC&Referer=http%3A%2F%2Fr%2F", "  News HD ", 10500,
          {{"tvg-id", "news.uk"}, {"group-title", "News"}, {"note", "say\"hi\""}},
          {{"EXTVLCOPT", "http-user-agent", "Dalvik/2.1"}, {"KODIPROP", "inputstream.adaptive.manifest_type", "hls"}}},
         {"rtmp://b/live", nullptr, -1, {{"group-title", "Sport & Fun"}, {"tvg-logo", ""}}, {{"EXTIMG", "", ""}}},
         {"udp://@239.0.0.1:1234", "Radio \xC3\xA9t\xC3\xA9", 0, {}, {}}});
  EXPECT_EQ(kavlo_playlist_detected_format(h.p), KAVLO_FORMAT_M3U);
  EXPECT_EQ(kavlo_playlist_item_title(h.p, 0), "News HD"s);
  EXPECT_EQ(kavlo_playlist_item_duration_ms(h.p, 0), 10000);
  EXPECT_EQ(kavlo_playlist_item_url(h.p, 0), "http://a/1.m3u8"s);
  EXPECT_EQ(kavlo_playlist_item_http(h.p, 0, "referer"), "http://r/"s);
  EXPECT_EQ(kavlo_playlist_item_line(h.p, 2), 0);
  EXPECT_EQ(kt::round_trip(h.store()), "");
  Handle back;
  ASSERT_EQ(back.parse(h.write(KAVLO_FORMAT_M3U), KAVLO_FORMAT_M3U), KAVLO_OK);
  EXPECT_EQ(without_lines(kavlo_playlist_json_full(back.p)), without_lines(kavlo_playlist_json_full(h.p)));
  // A streaming list takes the group-title as its "#genre#" line.
  EXPECT_EQ(h.write(KAVLO_FORMAT_STREAMING_LIST).substr(0, 12), "News,#genre#");
}

// Items added to a parsed list follow its own; the IMDb flag is decided
// over all of them, one item at a time.
TEST(Build, AddedToParsedResults) {
  Handle h;
  ASSERT_EQ(h.parse("#EXTM3U\n#EXTINF:19990331,tt0120601\n/a\n"), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_m3u_is_imdb_date_playlist(h.p), 1);
  ASSERT_EQ(kavlo_playlist_add_item(h.p, "/b", "tt0133093", 5000), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_m3u_is_imdb_date_playlist(h.p), 1);
  EXPECT_EQ(kavlo_playlist_item_release_date(h.p, 1), 5);
  ASSERT_EQ(kavlo_playlist_add_item(h.p, "/c", "Movie", 60000), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_m3u_is_imdb_date_playlist(h.p), 0);
  EXPECT_EQ(kavlo_playlist_item_count(h.p), 3);
  EXPECT_EQ(kt::round_trip(h.store()), "");
  Handle list;
  ASSERT_EQ(list.parse("Music,#genre#\nOne,http://x/1\n", KAVLO_FORMAT_STREAMING_LIST), KAVLO_OK);
  ASSERT_EQ(kavlo_playlist_add_item(list.p, "http://x/2$HD#http://y/2", "Two", -1), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_item_alternate(list.p, 1, 0), "http://y/2"s);
  EXPECT_EQ(kavlo_playlist_item_label(list.p, 1), "HD"s);
  EXPECT_EQ(kt::round_trip(list.store()), "");
}

// Each refusal stores nothing: the full document stays as it was.
TEST(Build, RefusalsStoreNothing) {
  struct Refusal {
    const char *what;
    int (*call)(kavlo_playlist *);
  };
  const Refusal refusals[] = {
      {"NULL location", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, nullptr, "t", -1); }},
      {"blank location", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, " \t", "t", -1); }},
      {"comment location", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "#x", "t", -1); }},
      {"LF in a title", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "/a", "a\nb", -1); }},
      {"CR in a location", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "/a\r", "t", -1); }},
      {"not UTF-8", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "/a", "caf\xE9", -1); }},
      {"duration -2", [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "/a", "t", -2); }},
      {"duration too long",
       [](kavlo_playlist *p) { return kavlo_playlist_add_item(p, "/a", "t", int64_t{2147483001}); }},
      {"empty key", [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "", "v"); }},
      {"key with =", [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "a=b", "v"); }},
      {"key with a space", [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "a b", "v"); }},
      {"NULL value", [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "k", nullptr); }},
      {"quote and space", [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "k", "a\" b"); }},
      {"leading quote", [](kavlo_playlist *p) { return kavlo_playlist_add_attr(p, "k", "\"a"); }},
      {"tag with a digit first", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "1A", "", ""); }},
      {"tag with a colon", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "A:B", "", ""); }},
      {"tag EXTINF", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "extinf", "", ""); }},
      {"tag EXTGRP", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "EXTGRP", "g", ""); }},
      {"tag PLAYLIST", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "PLAYLIST", "t", ""); }},
      {"option key with =", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "A", "k=v", "x"); }},
      {"option value ending in a space", [](kavlo_playlist *p) { return kavlo_playlist_add_option(p, "A", "k", "v "); }},
      {"header after an item", [](kavlo_playlist *p) { return kavlo_playlist_add_header_attr(p, "k", "v"); }},
      {"NULL handle", [](kavlo_playlist *) { return kavlo_playlist_add_item(nullptr, "/a", "t", -1); }},
  };
  Handle h;
  ASSERT_EQ(kavlo_playlist_add_item(h.p, "/first", "t", -1), KAVLO_OK);
  for (int k = 0; k < 64; ++k)
    ASSERT_EQ(kavlo_playlist_add_attr(h.p, ("k" + std::to_string(k)).c_str(), "v"), KAVLO_OK);
  const std::string before = kavlo_playlist_json_full(h.p);
  EXPECT_EQ(kavlo_playlist_add_attr(h.p, "k64", "v"), KAVLO_ERR_INVALID) << "65th attribute";
  for (const Refusal &r : refusals) EXPECT_EQ(r.call(h.p), KAVLO_ERR_INVALID) << r.what;
  EXPECT_EQ(kavlo_playlist_json_full(h.p), before);
  // Nothing to attach to, and results of other formats.
  Handle empty, cue;
  EXPECT_EQ(kavlo_playlist_add_attr(empty.p, "k", "v"), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_add_option(empty.p, "A", nullptr, nullptr), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_item_count(empty.p), 0);
  ASSERT_EQ(cue.parse("FILE \"a\" WAVE\nTRACK 1\nINDEX 1 0:0:0\n"), KAVLO_OK);
  EXPECT_EQ(kavlo_playlist_add_item(cue.p, "/a", "t", -1), KAVLO_ERR_INVALID);
  EXPECT_EQ(kavlo_playlist_item_count(cue.p), 1);
}

}  // namespace
