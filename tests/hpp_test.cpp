// The header-only C++ interface: a handle that owns its result, and values
// copied out of it.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <string>
#include <vector>

#include "kavlo.hpp"
#include "support/cases.h"

namespace {

TEST(Cpp, ResultsAreValuesThatOutliveLaterParses) {
  const kavlo::Result m3u =
      kavlo::parse("#EXTM3U\n#EXTINF:5 k=1 K=2 group-title=News,One\n/a\n", kavlo::Format::automatic);
  const kavlo::Result cue = kavlo::parse("TRACK 07 AUDIO\nTITLE T\nINDEX 01 00:00:75\n", kavlo::Format::cue);
  ASSERT_TRUE(m3u.ok());
  EXPECT_EQ(m3u.format, kavlo::Format::m3u);
  ASSERT_EQ(m3u.items.size(), 1u);
  EXPECT_EQ(m3u.items[0].title, "One");
  EXPECT_EQ(m3u.items[0].duration_ms, 5000);
  ASSERT_NE(m3u.items[0].attr("GROUP-TITLE"), nullptr);
  EXPECT_EQ(*m3u.items[0].attr("GROUP-TITLE"), "News");
  // Attributes copied by position: the second "k" keeps its own value.
  ASSERT_EQ(m3u.items[0].attrs.size(), 3u);
  EXPECT_EQ(m3u.items[0].attrs[1].key, "K");
  EXPECT_EQ(m3u.items[0].attrs[1].value, "2");
  EXPECT_EQ(*m3u.items[0].attr("K"), "1") << "by name, the first of the keys";
  EXPECT_NE(m3u.json.find("\"K\":\"2\""), std::string::npos);

  ASSERT_TRUE(cue.ok());
  ASSERT_EQ(cue.tracks.size(), 1u);
  EXPECT_EQ(cue.tracks[0].number, 7);
  EXPECT_EQ(cue.tracks[0].title, "T");
  EXPECT_FALSE(cue.tracks[0].file.has_value());
  ASSERT_EQ(cue.tracks[0].indices.size(), 1u);
  EXPECT_EQ(cue.tracks[0].indices[0].frames, 75);
  EXPECT_EQ(cue.tracks[0].indices[0].ms, 1000);
  EXPECT_EQ(kavlo::format_name(cue.format), "cue");
  EXPECT_NE(cue.json_full.find("\"indices\":[{\"n\":1,\"frames\":75,\"ms\":1000}],\"datatype\":\"AUDIO\""),
            std::string::npos)
      << cue.json_full;
}

TEST(Cpp, FailuresAreStatusesNotExceptions) {
  const kavlo::Result hls = kavlo::parse("#EXTM3U\n#EXT-X-ENDLIST\n");
  EXPECT_EQ(hls.status, KAVLO_ERR_FORMAT);
  EXPECT_EQ(hls.error, "HLS manifest detected; not parsed as playlist items");
  EXPECT_EQ(hls.format, kavlo::Format::m3u8_hls);
  const kavlo::Result named = kavlo::parse("x", kavlo::Format::cue, "no-such-encoding");
  EXPECT_EQ(named.status, KAVLO_ERR_DECODE);
  EXPECT_EQ(named.error, "iconv no-such-encoding fail");

  ASSERT_TRUE(kavlo::parse("#EXTM3U\n/a\n").ok());
  const kavlo::Result missing = kavlo::parse_file("/nonexistent/list.m3u");
  EXPECT_EQ(missing.status, KAVLO_ERR_IO);
  EXPECT_EQ(missing.error, "io: No such file or directory");
  EXPECT_TRUE(missing.items.empty()) << "no result of an earlier parse";
  EXPECT_EQ(kavlo::detect("Name,http://x/"), kavlo::Format::streaming_list);
  EXPECT_EQ(kavlo::version(), std::string_view(kavlo_version()));
}

TEST(Cpp, APlaylistOwnsItsResultAndMoves) {
  kavlo::Playlist a;
  ASSERT_TRUE(a.valid());
  ASSERT_EQ(a.parse("REM DATE 1999\nFILE \"a.wav\" WAVE\nTRACK 03 AUDIO\nPREGAP 00:00:10\nINDEX 01 00:00:00\n"),
            KAVLO_OK);
  kavlo::Playlist b = std::move(a);
  EXPECT_FALSE(a.valid());
  EXPECT_EQ(a.item_count(), 0) << "a moved-from playlist answers as an empty one";
  EXPECT_EQ(a.parse("#EXTM3U\n"), KAVLO_ERR_INVALID);
  EXPECT_EQ(b.track_number(0), 3);
  EXPECT_EQ(b.pregap(0), std::optional<int64_t>(10));
  EXPECT_FALSE(b.postgap(0).has_value());
  EXPECT_EQ(b.rem_value(0), "1999");
  EXPECT_EQ(b.encoding(), std::optional<std::string_view>("UTF-8"));

  const kavlo::Result r = kavlo::parse("#EXTM3U a=1\n#EXTVLCOPT:k=v\n#EXTINF:1,T\nhttp://x/|User-Agent=U\n");
  ASSERT_EQ(r.items.size(), 1u);
  EXPECT_EQ(r.header.at(0).key, "a");
  EXPECT_EQ(r.items[0].line, 4);
  EXPECT_EQ(r.items[0].options.at(0).value, "v");
  EXPECT_EQ(r.items[0].url, std::optional<std::string>("http://x/"));
  EXPECT_EQ(r.items[0].headers.at(0).value, "U");
}

TEST(Cpp, LegacyTextIsReadRightByDefault) {
  // "Альбом" in CP1251: the default guesses it; the library's own chain
  // ("") reads it as CP1252.
  const std::string sheet = "TITLE \"\xC0\xEB\xFC\xE1\xEE\xEC \xC0\xEB\xFC\xE1\xEE\xEC\"\n"
                            "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
  const kavlo::Result chain = kavlo::parse(sheet, kavlo::Format::cue, "");
  EXPECT_EQ(chain.encoding, "CP1252");
  const kavlo::Result named = kavlo::parse(sheet, kavlo::Format::cue, "cp1251");
  EXPECT_EQ(named.cue.title, std::optional<std::string>("\u0410\u043b\u044c\u0431\u043e\u043c \u0410\u043b\u044c\u0431\u043e\u043c"));
}

// What the full document holds of a list read for players (request
// headers, groups, catch-up, alternates, labels, title, EPG addresses,
// diagnostics), copied into the values: read back from the document of
// every case file and compared member by member.
std::string str(yyjson_val *v) { return yyjson_is_str(v) ? yyjson_get_str(v) : ""; }
std::vector<std::string> strings(yyjson_val *arr) {
  std::vector<std::string> out;
  yyjson_arr_iter it = yyjson_arr_iter_with(arr);
  while (yyjson_val *v = yyjson_arr_iter_next(&it)) out.push_back(str(v));
  return out;
}
std::optional<std::string> opt(yyjson_val *v) {
  return v != nullptr ? std::optional<std::string>(str(v)) : std::nullopt;
}

TEST(Cpp, ValuesCarryWhatPlayersRead) {
  int compared = 0;
  for (const kt::Case &c : kt::load_cases()) {
    const kavlo::Result r =
        kavlo::parse(c.input, static_cast<kavlo::Format>(c.format), c.has_encoding ? c.encoding : "");
    yyjson_doc *doc = yyjson_read(r.json_full.data(), r.json_full.size(), 0);
    ASSERT_NE(doc, nullptr) << c.where;
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (yyjson_obj_size(root) == 0) {  // no document for text that is not UTF-8
      yyjson_doc_free(doc);
      continue;
    }
    EXPECT_EQ(r.title, opt(yyjson_obj_get(root, "title"))) << c.where;
    EXPECT_EQ(r.epg, strings(yyjson_obj_get(root, "epg"))) << c.where;
    std::vector<std::string> diagnostics, copied;
    yyjson_arr_iter d = yyjson_arr_iter_with(yyjson_obj_get(root, "diagnostics"));
    while (yyjson_val *v = yyjson_arr_iter_next(&d))
      diagnostics.push_back(std::to_string(yyjson_get_sint(yyjson_obj_get(v, "line"))) + ":" +
                            str(yyjson_obj_get(v, "message")) + ":" + str(yyjson_obj_get(v, "subject")));
    for (const auto &x : r.diagnostics) copied.push_back(std::to_string(x.line) + ":" + x.message + ":" + x.subject);
    EXPECT_EQ(copied, diagnostics) << c.where;
    yyjson_val *items = yyjson_obj_get(root, "items");
    ASSERT_EQ(r.items.size(), yyjson_arr_size(items)) << c.where;
    for (size_t i = 0; i < r.items.size(); ++i) {
      const kavlo::Item &it = r.items[i];
      yyjson_val *v = yyjson_arr_get(items, i);
      const std::string at = c.where + " item " + std::to_string(i);
      EXPECT_EQ(it.groups, strings(yyjson_obj_get(v, "groups"))) << at;
      EXPECT_EQ(it.alternates, strings(yyjson_obj_get(v, "alternates"))) << at;
      EXPECT_EQ(it.label, opt(yyjson_obj_get(v, "label"))) << at;
      std::vector<std::string> http, copied_http;
      yyjson_obj_iter h = yyjson_obj_iter_with(yyjson_obj_get(v, "http"));
      while (yyjson_val *k = yyjson_obj_iter_next(&h)) http.push_back(str(k) + "=" + str(yyjson_obj_iter_get_val(k)));
      for (const auto &a : it.http) copied_http.push_back(a.key + "=" + a.value);
      EXPECT_EQ(copied_http, http) << at;
      yyjson_val *cu = yyjson_obj_get(v, "catchup");
      EXPECT_EQ(it.catchup_mode, opt(yyjson_obj_get(cu, "mode"))) << at;
      EXPECT_EQ(it.catchup_source, opt(yyjson_obj_get(cu, "source"))) << at;
      EXPECT_EQ(it.catchup_days, opt(yyjson_obj_get(cu, "days"))) << at;
      EXPECT_EQ(it.catchup_shift, opt(yyjson_obj_get(cu, "shift"))) << at;
      compared += !it.http.empty() || !it.groups.empty() || it.catchup_shift || !it.alternates.empty();
    }
    yyjson_doc_free(doc);
  }
  EXPECT_GT(compared, 20) << "too few items with members to compare";
}

// Built entry by entry and written, the list reads back as built.
TEST(Cpp, BuiltListsAreWritten) {
  kavlo::Playlist p;
  ASSERT_EQ(p.add_header_attr("url-tvg", "http://e/g.xml"), KAVLO_OK);
  ASSERT_EQ(p.add_item("http://a/1|Referer=\"http://r/\"", "One", 3000), KAVLO_OK);
  ASSERT_EQ(p.add_attr("group-title", "News"), KAVLO_OK);
  ASSERT_EQ(p.add_option("EXTVLCOPT", "http-user-agent", "UA"), KAVLO_OK);
  EXPECT_EQ(p.add_attr("bad key", "v"), KAVLO_ERR_INVALID);
  int status = -1;
  const std::string text(p.write(kavlo::Format::m3u, 0, &status));
  ASSERT_EQ(status, KAVLO_OK);
  EXPECT_EQ(text,
            "#EXTM3U url-tvg=\"http://e/g.xml\"\n#EXTVLCOPT:http-user-agent=UA\n#EXTINF:3 group-title=\"News\",One\n"
            "http://a/1|Referer=\"http://r/\"\n");
  const kavlo::Result back = kavlo::parse(text);
  ASSERT_EQ(back.items.size(), 1u);
  EXPECT_EQ(back.epg, std::vector<std::string>{"http://e/g.xml"});
  const std::vector<kavlo::Attr> http = {{"referer", "http://r/"}, {"user-agent", "UA"}};
  ASSERT_EQ(back.items[0].http.size(), http.size());
  for (size_t k = 0; k < http.size(); ++k) {
    EXPECT_EQ(back.items[0].http[k].key, http[k].key);
    EXPECT_EQ(back.items[0].http[k].value, http[k].value);
  }
  EXPECT_EQ(p.write(kavlo::Format::cue, 0, &status), "");
  EXPECT_EQ(status, KAVLO_ERR_FORMAT);
}

}  // namespace
