// The "auto" encoding: kavlo_auto.h's choice of a name and its fallbacks,
// through kavlo.hpp, with injected detectors and with uchardet.
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

TEST(AutoEncoding, RefineMendsWhatBytesSettle) {
  struct Case {
    const char *detected;
    std::string bytes;
    const char *expected;  // nullptr: the library's own chain
  } cases[] = {
      // Kana: Japanese EUC-JP / Shift_JIS text named GB18030 or Western.
      {"GBK", "\xC0\xA4\xB3\xA6\xA4\xCB\xB0\xEC\xA4\xC4\xA4\xC0\xA4\xB1\xA4\xCE\xB2\xD6", "EUC-JP"},
      {nullptr, "\xA5\xE9\xA5\xB8\xA5\xAA\xC2\xE7\xBA\xE5", "EUC-JP"},
      {"WINDOWS-1252", "\x83\x89\x83\x57\x83\x49\x91\xE5\x8D\xE3", "SHIFT_JIS"},
      // Chinese text keeps its name: no kana in it.
      {"GBK", "\xD6\xD0\xB9\xFA\xD6\xAE\xC9\xF9", "GBK"},
      {"BIG5", "\xA4\xA4\xBC\x73\xAC\x79\xA6\xE6", "BIG5"},
      // Lone high bytes under a CJK name: Polish "byłem" as Big5.
      {"BIG5", "Kiedy by\xB3" "em ma\xB3ym", "ISO-8859-2"},
      // Control codes: ISO-8859-1 with a CP1252 apostrophe.
      {"ISO-8859-1", "Don\x92t Stop Me Now", "WINDOWS-1252"},
      // A Latin page that reads the text as WINDOWS-1252 does is named so.
      {"ISO-8859-1", "Caf\xE9 cr\xE8me", "WINDOWS-1252"},
      {"ISO-8859-2", "\xC9" "dith Piaf, Caf\xE9 del Mar", "WINDOWS-1252"},
      {"WINDOWS-1252", "Caf\xE9 \xAB" "cr\xE8me\xBB" " Rock\xB4n Roll", "WINDOWS-1252"},
      // A sign between letters: Polish read as Latin-1 or Baltic.
      {"ISO-8859-1", "Marta Kubi\xB9ov\xE1", "ISO-8859-2"},
      {"ISO-8859-13", "Radio Wroc\xB3" "aw", "ISO-8859-2"},
      // WINDOWS-1250 and ISO-8859-2.
      {"WINDOWS-1250", "Dziwny jest ten \xB6wiat", "ISO-8859-2"},
      {"WINDOWS-1250", "Radio \xA3\xF3" "d\xBC", "ISO-8859-2"},
      {"WINDOWS-1250", "\x8Akoda l\xE1sky, \xE8" "as", "WINDOWS-1250"},
      {"ISO-8859-2", "\x8Akoda l\xE1sky, \xE8" "as", "WINDOWS-1250"},
      {"ISO-8859-2", "\xA9koda l\xE1sky, \xE8" "as", "ISO-8859-2"},
      // Genuine Baltic and Cyrillic guesses stay.
      {"ISO-8859-13", "\xD0iauliai ir Vilnius \xE8iurlionis", "ISO-8859-13"},
      {"WINDOWS-1251", "\xCA\xE8\xED\xEE \xA4\xA5", "WINDOWS-1251"},
      // No Latin page reads it without a sign inside a word: the chain.
      {"WINDOWS-1252", "\xB3\xCA\xC0\xC7 \xC0\xC7\xB9\xCC", nullptr},
  };
  for (const Case &c : cases) {
    const char *got = kavlo_auto_refine(c.detected, c.bytes.data(), c.bytes.size());
    EXPECT_STREQ(got, c.expected) << (c.detected ? c.detected : "(none)") << " " << c.bytes;
  }
}

TEST(AutoEncoding, NameFilter) {
  EXPECT_EQ(kavlo_auto_name(nullptr), nullptr);
  EXPECT_EQ(kavlo_auto_name(""), nullptr);
  EXPECT_EQ(kavlo_auto_name("ASCII"), nullptr);
  EXPECT_EQ(kavlo_auto_name("UTF-32"), nullptr);
  EXPECT_STREQ(kavlo_auto_name("GB18030"), "GBK");
  EXPECT_STREQ(kavlo_auto_name("UHC"), "UHC");
}

TEST(AutoEncoding, UnnamedCheckMatchesTheLibrary) {
  // The library's check is structural: overlong forms and surrogates pass,
  // F8 and a sequence cut off by the end do not.
  struct Case {
    std::string bytes;
    bool unnamed;
  } cases[] = {
      {"abcdefghijklmnopqrstuvwxyz", true}, {"\xC0\xAF", true},  {"\xED\xA0\x80", true},
      {"\xF7\xBF\xBF\xBF", true},          {"\xF8\x80", false}, {"abcdefgh\xE2\x82", false},
      {"\x80", false},                     {"\xFE\xFF\xE9", true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(kavlo_auto_is_unnamed(c.bytes.data(), c.bytes.size()) != 0, c.unnamed) << c.bytes;
    // The library agrees: text it takes as UTF-8 gets no "encoding: " warning.
    if (c.bytes[0] != '\xFE') {
      const kavlo::Result r = kavlo::parse(c.bytes, kavlo::Format::streaming_list);
      EXPECT_EQ(r.warnings.empty() || r.warnings[0].rfind("encoding: ", 0) != 0, c.unnamed);
    }
  }
}

TEST(AutoEncoding, UchardetOnShortAndLongTexts) {
  // A sheet whose one non-ASCII title is Japanese (Shift_JIS): uchardet
  // alone names it WINDOWS-1252; fed repeatedly it finds Shift_JIS.
  const std::string sheet =
      "PERFORMER \"Various\"\r\nTITLE \"Mix\"\r\nFILE \"mix.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n"
      "    TITLE \"\x96\xE9\x82\xC9\x8B\xEC\x82\xAF\x82\xE9\"\r\n    INDEX 01 00:00:00\r\n";
  const kavlo::Result r = kavlo::parse_auto(sheet);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.encoding, "SHIFT_JIS");
  ASSERT_EQ(r.tracks.size(), 1u);
  EXPECT_EQ(r.tracks[0].title.value_or(""), "\xE5\xA4\x9C\xE3\x81\xAB\xE9\xA7\x86\xE3\x81\x91\xE3\x82\x8B");
  EXPECT_EQ(kavlo::uchardet_detector(""), "");
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
