// The "auto" encoding of kavlo_auto.h through kavlo.hpp: which bytes reach
// the detector, the fallbacks after its answer, statuses and files. The
// rules that choose the name are the library's guess (guess_test.cpp).
#define KAVLO_AUTO_UCHARDET
#include "kavlo.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A detector that always gives `name` and counts its calls.
struct Fixed {
  std::string name;
  int *calls;
  std::string operator()(std::string_view) const {
    ++*calls;
    return name;
  }
};

std::string title_of_first(const kavlo::Result &r) {
  return r.items.empty() ? std::string("<none>") : r.items[0].title;
}

TEST(AutoEncoding, MarkedOrUtf8TextNeverReachesTheDetector) {
  // Such text reads as the library reads it unnamed.
  struct Case {
    std::string bytes, encoding;
  } cases[] = {
      {"Caf\xC3\xA9,http://a/1\n", "UTF-8"},
      {"Radio,http://a/1\n", "UTF-8"},
      {"", "UTF-8"},
      // A UTF-8 mark is dropped and the rest goes through the library's chain.
      {"\xEF\xBB\xBF" "Caf\xE9,http://a/1\n", "CP1252"},
      {std::string("\xFF\xFE" "A\0,\0h\0t\0t\0p\0:\0/\0/\0a\0\n\0", 24), "UTF-16LE"},
      {std::string("\xFE\xFF\0A\0,\0h\0t\0t\0p\0:\0/\0/\0a\0\n", 24), "UTF-16BE"},
      {std::string("\xFF\xFE\0\0h\0\0\0t\0\0\0t\0\0\0p\0\0\0:\0\0\0/\0\0\0/\0\0\0a\0\0\0", 36),
       "UTF-32LE"},
      {std::string("\0\0\xFE\xFF\0\0\0h\0\0\0t\0\0\0t\0\0\0p\0\0\0:\0\0\0/\0\0\0/\0\0\0a", 36),
       "UTF-32BE"},
  };
  for (const Case &c : cases) {
    int calls = 0;
    const kavlo::Result r =
        kavlo::parse_auto(c.bytes, Fixed{"KOI8-R", &calls}, kavlo::Format::streaming_list);
    const kavlo::Result plain = kavlo::parse(c.bytes, kavlo::Format::streaming_list);
    EXPECT_TRUE(r.ok()) << c.encoding;
    EXPECT_EQ(calls, 0) << c.encoding;
    EXPECT_EQ(r.encoding, c.encoding);
    EXPECT_EQ(r.json, plain.json) << c.encoding;
    EXPECT_EQ(r.warnings, plain.warnings) << c.encoding;
  }
}

TEST(AutoEncoding, DetectorAnswersAndTheirFallbacks) {
  // "Кино" in KOI8-R; read unnamed, the library's chain makes GBK of it.
  const std::string koi8 = "\xEB\xC9\xCE\xCF,http://a/1\n";
  // "café" with é last: invalid in Shift_JIS and in GBK, CP1252 in the chain.
  const std::string cp1252 = "caf\xE9,http://a/1\n";
  struct Case {
    const std::string &bytes;
    std::string detected, encoding, title;
    std::vector<std::string> warnings;
  } cases[] = {
      {koi8, "KOI8-R", "KOI8-R", "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE", {}},
      {koi8, "", "GBK", "\xE8\x82\xB7\xE8\x9C\x97", {"encoding: GBK fallback"}},
      // Names that are of no use go unnamed: the text is not UTF-8, and a
      // wide decoding of unmarked text is not trusted.
      {koi8, "UTF-8", "GBK", "\xE8\x82\xB7\xE8\x9C\x97", {"encoding: GBK fallback"}},
      {koi8, "UTF-16LE", "GBK", "\xE8\x82\xB7\xE8\x9C\x97", {"encoding: GBK fallback"}},
      // A guess the bytes are not valid in, or that the converter does not
      // know, falls back to the chain instead of failing the parse.
      {cp1252, "SHIFT_JIS", "CP1252", "caf\xC3\xA9", {"encoding: CP1252 fallback"}},
      {cp1252, "NO-SUCH-ENCODING", "CP1252", "caf\xC3\xA9", {"encoding: CP1252 fallback"}},
      {cp1252, "WINDOWS-1252", "WINDOWS-1252", "caf\xC3\xA9", {}},
      // GB18030 is converted under the library's name for it.
      {"\xC4\xE3\xBA\xC3,http://a/1\n", "GB18030", "GBK", "\xE4\xBD\xA0\xE5\xA5\xBD", {}},
  };
  for (const Case &c : cases) {
    int calls = 0;
    const kavlo::Result r = kavlo::parse_auto(c.bytes, Fixed{c.detected, &calls});
    EXPECT_TRUE(r.ok()) << c.detected;
    EXPECT_EQ(calls, 1) << c.detected;
    EXPECT_EQ(r.encoding, c.encoding) << c.detected;
    EXPECT_EQ(title_of_first(r), c.title) << c.detected;
    EXPECT_EQ(r.warnings, c.warnings) << c.detected;
    EXPECT_EQ(r.error, "") << c.detected;
  }
  // No detector at all: the library's own chain.
  const kavlo::Result r = kavlo::parse_auto(koi8, kavlo::Detector{});
  EXPECT_EQ(r.encoding, "GBK");
}

TEST(AutoEncoding, FailuresKeepTheLibrarysStatus) {
  int calls = 0;
  // HLS content fails whatever the encoding; the encoding is not reported.
  const kavlo::Result hls =
      kavlo::parse_auto("#EXTM3U\n#EXT-X-TARGETDURATION:6\n\xE9\n", Fixed{"WINDOWS-1252", &calls});
  EXPECT_EQ(hls.status, KAVLO_ERR_FORMAT);
  EXPECT_EQ(hls.encoding, "");
  // An odd UTF-16 text fails in the library, as it does without "auto".
  const kavlo::Result odd = kavlo::parse_auto(std::string("\xFF\xFE" "A", 3), Fixed{"", &calls});
  EXPECT_EQ(odd.status, KAVLO_ERR_DECODE);
  EXPECT_EQ(odd.error, "utf16le fail");
  EXPECT_EQ(calls, 1);
}

TEST(AutoEncoding, Files) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("kavlo-auto-" + std::to_string(::getpid()) + ".txt");
  {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    // Russian station names in CP1251.
    std::fputs("\xD0\xE0\xE4\xE8\xEE \xCC\xE0\xFF\xEA,http://a/1\n"
               "\xCD\xE0\xF8\xE5 \xF0\xE0\xE4\xE8\xEE,http://a/2\n", f);
    std::fclose(f);
  }
  const kavlo::Result r = kavlo::parse_file_auto(path.string());
  std::filesystem::remove(path);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.encoding, "WINDOWS-1251");
  EXPECT_EQ(title_of_first(r), "\xD0\xA0\xD0\xB0\xD0\xB4\xD0\xB8\xD0\xBE \xD0\x9C\xD0\xB0\xD1\x8F\xD0\xBA");
  const kavlo::Result missing = kavlo::parse_file_auto(path.string());
  EXPECT_EQ(missing.status, KAVLO_ERR_IO);
  EXPECT_EQ(missing.error.rfind("io: ", 0), 0u);
  EXPECT_EQ(missing.encoding, "");
}

}  // namespace
