// The full document beyond the case files: its caps, floods of what only it
// carries, and how its text lives next to the ordinary document's.
#include <yyjson.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/diagnostics.h"
#include "support/full_doc.h"
#include "support/handle_compare.h"
#include "support/kavlo_test.h"

namespace {

using Full = kt::Store;

std::string repeat(const std::string &s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// The full document, parsed, checked to hold the ordinary one.
struct FullDoc {
  std::string text;
  yyjson_doc *doc;
  FullDoc() : text(kavlo_result_json_full()), doc(yyjson_read(text.data(), text.size(), 0)) {
    EXPECT_NE(doc, nullptr) << text.substr(0, 200);
    EXPECT_EQ(kt::strip_full(text), std::string(kavlo_result_json()));
  }
  ~FullDoc() { yyjson_doc_free(doc); }
  yyjson_val *root() const { return yyjson_doc_get_root(doc); }
  yyjson_val *item(size_t i) const { return yyjson_arr_get(yyjson_obj_get(root(), "items"), i); }
  // Diagnostic `k` as "LINE: MESSAGE [SUBJECT]"; "" past the end.
  std::string diagnostic(size_t k) const {
    yyjson_val *d = yyjson_arr_get(yyjson_obj_get(root(), "diagnostics"), k);
    if (d == nullptr) return "";
    return std::to_string(yyjson_get_uint(yyjson_obj_get(d, "line"))) + ": " +
           yyjson_get_str(yyjson_obj_get(d, "message")) + " [" + yyjson_get_str(yyjson_obj_get(d, "subject")) + "]";
  }
  size_t diagnostic_count() const { return yyjson_arr_size(yyjson_obj_get(root(), "diagnostics")); }
};

// A handle parsed from `text`, freed at the end of the scope.
struct Handle {
  kavlo_playlist *p = kavlo_playlist_new();
  explicit Handle(std::string_view text, int format = KAVLO_FORMAT_AUTO) {
    EXPECT_EQ(kavlo_playlist_parse(p, text.data(), text.size(), format, nullptr), KAVLO_OK);
  }
  ~Handle() { kavlo_playlist_free(p); }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
};

TEST_F(Full, HeadersAndHeaderAttributesStopAtSixtyFourKeys) {
  std::string header = "#EXTM3U";
  std::string pairs = "http://x/a|";
  for (int i = 0; i < 100; ++i) {
    header += " h" + std::to_string(i) + "=" + std::to_string(i);
    pairs += (i ? "&k" : "k") + std::to_string(i) + "=" + std::to_string(i) + "&k0=late";
  }
  ASSERT_EQ(kt::parse(header + "\n" + pairs + "\n"), KAVLO_OK);
  const FullDoc d;
  yyjson_val *h = yyjson_obj_get(d.root(), "header");
  EXPECT_EQ(yyjson_obj_size(h), 64u);
  EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(h, "h63")), "63");
  yyjson_val *headers = yyjson_obj_get(d.item(0), "headers");
  EXPECT_EQ(yyjson_obj_size(headers), 64u);
  EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(headers, "k0")), "0") << "the first value wins";
  EXPECT_EQ(yyjson_obj_get(headers, "k64"), nullptr);
  EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(d.item(0), "url")), "http://x/a");
  // Neither loss is silent; the headers' one is found after the parse.
  EXPECT_EQ(d.diagnostic(0), "1: m3u: attributes past the 64th dropped: 36 [h64]");
  EXPECT_EQ(d.diagnostic(1), "2: m3u: bare path accepted [" + pairs.substr(0, 511) + "]");
  EXPECT_EQ(d.diagnostic(2), "2: m3u: request headers past the 64th dropped: 36 [k64]");
  EXPECT_EQ(d.diagnostic_count(), 3u);
}

// Every list that can grow past a cap reports what it drops: the count
// and the first one dropped, at the line it stood on.
TEST_F(Full, CapsOfTheFullDocumentsListsAreReported) {
  auto numbered = [](const char *before, const char *between, const char *after, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += std::string(i ? between : before) + std::to_string(i) + after;
    return out;
  };
  const struct {
    std::string text;
    int format;
    std::string expected;
  } rows[] = {
      {"#EXTM3U\n#EXTHTTP:{" + numbered("\"k", ",\"k", "\":\"v\"", 70) + "}\n/a\n", KAVLO_FORMAT_M3U,
       "2: m3u: request headers past the 64th dropped: 6 [k64]"},
      {"#EXTM3U\n#KODIPROP:inputstream.adaptive.stream_headers=" + numbered("k", "&k", "=v", 65) + "\n/a\n",
       KAVLO_FORMAT_M3U, "2: m3u: request headers past the 64th dropped: 1 [k64]"},
      {"#EXTM3U x-tvg-url=\"" + numbered("http://e/", ",http://e/", "", 66) + "\"\n", KAVLO_FORMAT_M3U,
       "1: m3u: EPG addresses past the 64th dropped: 2 [http://e/64]"},
      {"\n\nName,http://a/" + numbered("#http://a/", "#http://a/", "", 70) + "\n", KAVLO_FORMAT_STREAMING_LIST,
       "3: streaming: alternate addresses past the 64th dropped: 6 [http://a/64]"},
      {"Name,http://a/|" + numbered("k", "&k", "=v", 66) + "\n", KAVLO_FORMAT_STREAMING_LIST,
       "1: streaming: request headers past the 64th dropped: 2 [k64]"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.expected);
    ASSERT_EQ(kt::parse(row.text, row.format), KAVLO_OK);
    const FullDoc d;
    bool found = false;
    for (size_t k = 0; k < d.diagnostic_count(); ++k) found = found || d.diagnostic(k) == row.expected;
    EXPECT_TRUE(found) << d.text.substr(d.text.find("\"diagnostics\""));
  }
}

// Past 512 warnings, and past 512 other diagnostics, one entry each counts
// the rest, at the line of the first dropped, whose text is its subject.
TEST_F(Full, WarningsAndLossesPastTheirCapsAreCounted) {
  ASSERT_EQ(kt::parse("Name,http://x/\n" + repeat("bad\n", 600) + repeat(std::string("x,http://y/\0z\n", 14), 515)), KAVLO_OK);
  const FullDoc d;
  EXPECT_EQ(kavlo_warning_count(), 512);
  ASSERT_EQ(d.diagnostic_count(), 512u + 512u + 2u);
  EXPECT_EQ(d.diagnostic(511), "513: streaming: dropped non-http URL [bad]");
  EXPECT_EQ(d.diagnostic(512), "602: streaming: line cut at a NUL byte [x,http://y/]");
  EXPECT_EQ(d.diagnostic(1024), "514: warnings past the 512th dropped: 88 [streaming: dropped non-http URL]");
  EXPECT_EQ(d.diagnostic(1025), "1114: diagnostics past the 512th dropped: 3 [streaming: line cut at a NUL byte]");
  // The same through a handle, whose accessors the document renders.
  Handle h("Name,http://x/\n" + repeat("bad\n", 600) + repeat(std::string("x,http://y/\0z\n", 14), 515));
  EXPECT_EQ(kt::compare_full_with_accessors(h.p), "");
  EXPECT_EQ(std::string(kavlo_playlist_json_full(h.p)), d.text);
}

// A warning that detection adds to the last result gets its diagnostic, at
// the end, for the text as a whole.
TEST_F(Full, DetectionWarningsAreDiagnosedToo) {
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTINF:1.5,A\n/a\n"), KAVLO_OK);
  EXPECT_EQ(kt::detect("caf\xE9,http://x/"), KAVLO_FORMAT_STREAMING_LIST);
  const FullDoc d;
  EXPECT_EQ(d.diagnostic(0), "2: m3u: fraction of the EXTINF duration dropped [1.5]");
  EXPECT_EQ(d.diagnostic(1), "0: encoding: CP1252 fallback [CP1252]");
  EXPECT_EQ(d.diagnostic_count(), 2u);
}

// On every file of the fuzz corpus, each warning has its diagnostic, in
// order, at a line of the text, and the document renders the accessors.
TEST_F(Full, EveryCorpusFileHasADiagnosticForEachWarning) {
  size_t files = 0, warned = 0;
  for (const auto &entry : std::filesystem::directory_iterator(KAVLO_CORPUS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    SCOPED_TRACE(entry.path().filename().string());
    kavlo_playlist *p = kavlo_playlist_new();
    ASSERT_NE(p, nullptr);
    if (kavlo_playlist_parse(p, text.data(), text.size(), KAVLO_FORMAT_AUTO, nullptr) == KAVLO_OK) {
      kt::check_diagnostics(p, kt::line_count(text));
      EXPECT_EQ(kt::compare_full_with_accessors(p), "");
      warned += kavlo_playlist_warning_count(p) > 0;
    }
    kavlo_playlist_free(p);
    ++files;
  }
  EXPECT_GE(files, 10u);
  EXPECT_GE(warned, 5u);
}

// Appended items keep what the full document shows of them: request
// headers of their tag lines, #EXTGRP: groups, location parts; an empty
// target takes the list's title and EPG addresses too.
TEST_F(Full, AppendedItemsKeepTheirIptvMembers) {
  Handle src("#EXTM3U x-tvg-url=\"e1,e2\"\n#PLAYLIST:T\n#EXTINF:-1,A\n#EXTGRP:g;h\n"
             "#EXTHTTP:{\"Cookie\":\"c\"}\n#EXTVLCOPT:http-user-agent=\"V\"\nhttp://a/1|Referer=r\n"
             "#EXTINF:-1,B\nhttp://a/2\n");
  kavlo_playlist *dst = kavlo_playlist_new();
  const int pick[] = {1, 0};
  ASSERT_EQ(kavlo_playlist_append(dst, src.p, pick, 2), KAVLO_OK);
  EXPECT_STREQ(kavlo_playlist_title(dst), "T");
  EXPECT_EQ(kavlo_playlist_epg_count(dst), 2);
  EXPECT_EQ(kavlo_playlist_item_http_count(dst, 0), 0);
  EXPECT_STREQ(kavlo_playlist_item_http(dst, 1, "cookie"), "c");
  EXPECT_STREQ(kavlo_playlist_item_http(dst, 1, "user-agent"), "V");
  EXPECT_STREQ(kavlo_playlist_item_http(dst, 1, "referer"), "r");
  EXPECT_EQ(kavlo_playlist_item_group_count(dst, 1), 2);
  EXPECT_STREQ(kavlo_playlist_item_group_at(dst, 1, 1), "h");
  EXPECT_EQ(kt::compare_full_with_accessors(dst), "");
  kavlo_playlist_free(dst);
}

// The accessors of what only the full document carries answer a NULL
// handle, an index out of range and a NULL key as documented.
TEST_F(Full, NewAccessorsOutOfRange) {
  for (kavlo_playlist *p : {static_cast<kavlo_playlist *>(nullptr), kavlo_playlist_new()}) {
    EXPECT_EQ(kavlo_playlist_item_http_count(p, 0), 0);
    EXPECT_EQ(kavlo_playlist_item_http_key(p, 0, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_item_http_value(p, 0, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_item_http(p, 0, "user-agent"), nullptr);
    EXPECT_EQ(kavlo_playlist_item_group_count(p, 0), 0);
    EXPECT_EQ(kavlo_playlist_item_group_at(p, 0, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_item_catchup(p, 0, "mode"), nullptr);
    EXPECT_EQ(kavlo_playlist_item_alternate_count(p, 0), 0);
    EXPECT_EQ(kavlo_playlist_item_alternate(p, 0, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_item_label(p, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_title(p), nullptr);
    EXPECT_EQ(kavlo_playlist_epg_count(p), 0);
    EXPECT_EQ(kavlo_playlist_epg(p, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_diagnostic_count(p), 0);
    EXPECT_EQ(kavlo_playlist_diagnostic_line(p, 0), -1);
    EXPECT_EQ(kavlo_playlist_diagnostic_message(p, 0), nullptr);
    EXPECT_EQ(kavlo_playlist_diagnostic_subject(p, 0), nullptr);
    kavlo_playlist_free(p);
  }
  Handle h("#EXTM3U catchup=\"shift\" x-tvg-url=\"e\"\n#EXTINF:-1 user-agent=\"u\",A\n#EXTGRP:g\n"
           "http://a/1|Referer=r\n");
  EXPECT_STREQ(kavlo_playlist_item_catchup(h.p, 0, "MODE"), "shift");
  EXPECT_EQ(kavlo_playlist_item_catchup(h.p, 0, nullptr), nullptr);
  EXPECT_EQ(kavlo_playlist_item_catchup(h.p, 0, "timeshift"), nullptr);
  EXPECT_EQ(kavlo_playlist_item_catchup(h.p, 1, "mode"), nullptr);
  EXPECT_EQ(kavlo_playlist_item_catchup(h.p, -1, "mode"), nullptr);
  EXPECT_EQ(kavlo_playlist_item_http_count(h.p, 0), 2);
  EXPECT_EQ(kavlo_playlist_item_http_key(h.p, 0, 2), nullptr);
  EXPECT_EQ(kavlo_playlist_item_http_key(h.p, 0, -1), nullptr);
  EXPECT_EQ(kavlo_playlist_item_http(h.p, 0, nullptr), nullptr);
  EXPECT_EQ(kavlo_playlist_item_http(h.p, 0, "origin"), nullptr);
  EXPECT_STREQ(kavlo_playlist_item_http(h.p, 0, "Referer"), "r");
  EXPECT_EQ(kavlo_playlist_item_http_count(h.p, 1), 0);
  EXPECT_EQ(kavlo_playlist_item_group_count(h.p, 0), 1);
  EXPECT_EQ(kavlo_playlist_item_group_at(h.p, 0, 1), nullptr);
  EXPECT_EQ(kavlo_playlist_epg(h.p, 1), nullptr);
  EXPECT_EQ(kavlo_playlist_epg(h.p, -1), nullptr);
  EXPECT_STREQ(kavlo_playlist_epg(h.p, 0), "e");
}

// Linear in the input: 200,000 pairs after one location, 200,000
// options before one entry, 200,000 REM lines in one track.
TEST_F(Full, FloodsOfPairsOptionsAndRemLines) {
  ASSERT_EQ(kt::parse("#EXTM3U\nhttp://x/|" + repeat("User-Agent=a&", 200000) + "\n"), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_obj_size(yyjson_obj_get(d.item(0), "headers")), 1u);
  }
  ASSERT_EQ(kt::parse("#EXTM3U\n" + repeat("#EXTVLCOPT:k=v\n", 200000) + "/a\n"), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(d.item(0), "options")), 200000u);
    EXPECT_EQ(kavlo_warning_count(), 512);
  }
  ASSERT_EQ(kt::parse("TRACK 1 AUDIO\n" + repeat("REM K v\n", 200000), KAVLO_FORMAT_CUE), KAVLO_OK);
  {
    const FullDoc d;
    yyjson_val *track = yyjson_arr_get(yyjson_obj_get(yyjson_obj_get(d.root(), "cue"), "tracks"), 0);
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(track, "rem")), 200000u);
  }
}

// Linear in the input: 200,000 groups on one #EXTGRP: line, 100,000
// #EXTHTTP: lines before one entry, 200,000 alternates of one streaming
// location, 100,000 lines cut at a NUL byte.
TEST_F(Full, FloodsOfGroupsHeadersAlternatesAndCutLines) {
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTGRP:" + repeat("g;", 200000) + "\n/a\n"), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(d.item(0), "groups")), 200000u);
  }
  ASSERT_EQ(kt::parse("#EXTM3U\n" + repeat("#EXTHTTP:{\"User-Agent\":\"a\",\"Cookie\":\"b\"}\n", 100000) + "/a\n"),
            KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_obj_size(yyjson_obj_get(d.item(0), "http")), 2u);
  }
  ASSERT_EQ(kt::parse("N,http://a/" + repeat("#http://b/", 200000) + "\n"), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(d.item(0), "alternates")), 64u);
  }
  ASSERT_EQ(kt::parse(repeat(std::string("N,http://a/\0x\n", 14), 100000)), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(d.diagnostic_count(), 513u);
    EXPECT_EQ(d.diagnostic(512), "513: diagnostics past the 512th dropped: 99488 [streaming: line cut at a NUL byte]");
  }
}

TEST_F(Full, LinesCountEveryKindOfLineEnd) {
  ASSERT_EQ(kt::parse("#EXTM3U\r\n\r/a\n\n/b\r/c"), KAVLO_OK);
  const FullDoc d;
  const int64_t lines[] = {3, 5, 6};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(d.item(i), "line")), lines[i]);
}

// Every entry on its own line, up to six-digit line numbers: each count of
// digits and each step between them.
TEST_F(Full, LineNumbersAcrossEveryDigitCount) {
  std::string text;
  for (int i = 1; i <= 100010; ++i) text += "N,http://x/" + std::to_string(i) + "\n";
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  const FullDoc d;
  yyjson_val *items = yyjson_obj_get(d.root(), "items");
  ASSERT_EQ(yyjson_arr_size(items), 100010u);
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(items, idx, max, item) {
    ASSERT_EQ(yyjson_get_uint(yyjson_obj_get(item, "line")), idx + 1);
  }
}

TEST_F(Full, SharesTheLifetimeOfTheOrdinaryDocument) {
  EXPECT_EQ(std::string(kavlo_result_json_full()),
            std::string(R"({"format":"m3u","item_count":0,"imdb_date_playlist":false,"items":[],"version":")") +
                kavlo_version() + "\"}");
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTVLCOPT:k=v\n/a\n"), KAVLO_OK);
  const std::string full = kavlo_result_json_full();
  const std::string json = kavlo_result_json();
  EXPECT_NE(full, json);
  // Either call rebuilds its own text, also after the other.
  EXPECT_EQ(std::string(kavlo_result_json_full()), full);
  EXPECT_EQ(std::string(kavlo_result_json()), json);
  EXPECT_EQ(std::string(kavlo_result_json_full()), full);
  // Detection leaves the last result, and so the full document, alone.
  EXPECT_EQ(kt::detect("Name,http://x/"), KAVLO_FORMAT_STREAMING_LIST);
  EXPECT_EQ(std::string(kavlo_result_json_full()), full);
  // A string that is not strict UTF-8 only in an option: the full document
  // cannot be written, the ordinary one still is.
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTVLCOPT:k=\xC0\xAF\n/a\n"), KAVLO_OK);
  EXPECT_STREQ(kavlo_result_json_full(), "{}");
  EXPECT_STRNE(kavlo_result_json(), "{}");
}

}  // namespace
