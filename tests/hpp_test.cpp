// The header-only C++ interface: a handle that owns its result, and values
// copied out of it.
#include <gtest/gtest.h>

#include <string>

#include "kavlo.hpp"

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

}  // namespace
