// The header-only C++ interface: values copied out of the store.
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
  // Keys reached by name: the second "k" carries the first one's value.
  ASSERT_EQ(m3u.items[0].attrs.size(), 3u);
  EXPECT_EQ(m3u.items[0].attrs[1].key, "K");
  EXPECT_EQ(m3u.items[0].attrs[1].value, "1");
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
  EXPECT_TRUE(missing.items.empty()) << "no result of an earlier parse";
  EXPECT_EQ(kavlo::detect("Name,http://x/"), kavlo::Format::streaming_list);
  EXPECT_EQ(kavlo::version(), std::string_view(kavlo_version()));
}

}  // namespace
