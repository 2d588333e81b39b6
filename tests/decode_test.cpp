// Decoding through the public interface. Each input is one line parsed as
// a CUE sheet, whose "garbage" warning shows the decoded bytes.
#include <string>

#include "support/kavlo_test.h"

namespace {

using namespace std::string_literals;

struct DecodeCase {
  const char *name;
  std::string bytes;
  const char *encoding;
  int status;
  const char *error;
  std::vector<std::string> warnings;

  friend void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.name; }
};

class Decode : public kt::Store, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(Decode, DecodesOrFails) {
  const DecodeCase &c = GetParam();
  EXPECT_EQ(kt::parse(c.bytes, KAVLO_FORMAT_CUE, c.encoding), c.status);
  EXPECT_STREQ(kavlo_last_error(), c.error);
  EXPECT_EQ(kt::warnings(), c.warnings);
}

const std::string bom = "\xEF\xBB\xBF";
const std::string garbage = "cue: garbage: ";

const DecodeCase k_cases[] = {
    {"ValidUtf8", "caf\xC3\xA9", nullptr, KAVLO_OK, "", {garbage + "caf\xC3\xA9"}},
    {"Utf8BomDropped", bom + "#EXTM3U", nullptr, KAVLO_OK, "", {garbage + "#EXTM3U"}},
    {"Utf8BomOnly", bom, nullptr, KAVLO_OK, "", {}},
    {"Cp1252Fallback", "caf\xE9", nullptr, KAVLO_OK, "",
     {"encoding: CP1252 fallback", garbage + "caf\xC3\xA9"}},
    {"GbkFallback", "\xC4\xE3\xBA\xC3", nullptr, KAVLO_OK, "",
     {"encoding: GBK fallback", garbage + "\xE4\xBD\xA0\xE5\xA5\xBD"}},
    {"Latin1Fallback", "\x81", nullptr, KAVLO_OK, "",
     {"encoding: latin1 fallback", garbage + "\xC2\x81"}},
    {"CutOffCharacterSendsWholeTextToFallback", "ab\xC3", nullptr, KAVLO_OK, "",
     {"encoding: CP1252 fallback", garbage + "ab\xC3\x83"}},
    {"OverlongPassesStructuralCheck", "a\xC0\xAF" "b", nullptr, KAVLO_OK, "",
     {garbage + "a\xC0\xAF" "b"}},
    {"SurrogatePassesStructuralCheck", "a\xED\xA0\x80", nullptr, KAVLO_OK, "",
     {garbage + "a\xED\xA0\x80"}},
    {"Utf8NameStillFallsBack", "caf\xE9", "UTF8", KAVLO_OK, "",
     {"encoding: CP1252 fallback", garbage + "caf\xC3\xA9"}},
    {"EmptyNameIsNoName", "caf\xE9", "", KAVLO_OK, "",
     {"encoding: CP1252 fallback", garbage + "caf\xC3\xA9"}},
    {"Utf16LeBomDropped", "\xFF\xFE" "A\0"s, nullptr, KAVLO_OK, "", {garbage + "A"}},
    {"Utf16BeBomDropped", "\xFE\xFF\0A"s, nullptr, KAVLO_OK, "", {garbage + "A"}},
    {"Utf16BomOnly", "\xFF\xFE", nullptr, KAVLO_OK, "", {}},
    {"Utf16FeffAfterMarkKept", "\xFF\xFE\xFF\xFE" "A\0"s, nullptr, KAVLO_OK, "",
     {garbage + bom + "A"}},
    {"Utf16BeFeffInsideKept", "\xFE\xFF\0A\xFE\xFF"s, nullptr, KAVLO_OK, "",
     {garbage + "A" + bom}},
    {"Utf16LeOddLength", "\xFF\xFE" "A", nullptr, KAVLO_ERR_DECODE, "utf16le fail", {}},
    {"Utf16BeOddLength", "\xFE\xFF" "A", nullptr, KAVLO_ERR_DECODE, "utf16be fail", {}},
    {"Utf16LeUnpairedSurrogate", "\xFF\xFE\x00\xD8" "A\0"s, nullptr, KAVLO_ERR_DECODE,
     "utf16le fail", {}},
    {"BomWinsOverName", "\xFF\xFE" "A\0"s, "gbk", KAVLO_OK, "", {garbage + "A"}},
    // UTF-32 marks come before the UTF-16 ones, FF FE 00 00 being FF FE too.
    {"Utf32LeBomDropped", "\xFF\xFE\0\0" "A\0\0\0"s, nullptr, KAVLO_OK, "", {garbage + "A"}},
    {"Utf32BeBomDropped", "\0\0\xFE\xFF\0\0\0A"s, nullptr, KAVLO_OK, "", {garbage + "A"}},
    {"Utf32BomOnly", "\0\0\xFE\xFF"s, nullptr, KAVLO_OK, "", {}},
    {"Utf32LeMarkWinsOverName", "\xFF\xFE\0\0" "A\0\0\0"s, "UTF-32BE", KAVLO_OK, "",
     {garbage + "A"}},
    {"Utf32LeCutCharacter", "\xFF\xFE\0\0" "A\0"s, nullptr, KAVLO_ERR_DECODE, "utf32le fail", {}},
    {"Utf32BeSurrogate", "\0\0\xFE\xFF\0\0\xD8\0"s, nullptr, KAVLO_ERR_DECODE, "utf32be fail", {}},
    {"Utf16LeMarkAloneBeforeOneNul", "\xFF\xFE\0"s, nullptr, KAVLO_ERR_DECODE, "utf16le fail", {}},
    {"Utf8BomThenNamedUtf16", bom + "A\0"s, "utf-16le", KAVLO_OK, "", {garbage + "A"}},
    {"Gb18030SequenceRefusedAsGbk", "\x81\x30\x81\x30", "GB18030", KAVLO_ERR_DECODE,
     "iconv GBK fail", {}},
    {"Cp936IsGbk", "\x81\x30\x81\x30", "cp936", KAVLO_ERR_DECODE, "iconv GBK fail", {}},
    {"UnknownNamePassedThrough", "x", "no-such-enc", KAVLO_ERR_DECODE,
     "iconv no-such-enc fail", {}},
    // Bytes that the candidate encodings read differently.
    {"NamedCp1252", "\x80\x93\x94\x96\x85", "cp1252", KAVLO_OK, "",
     {garbage + "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\x93\xE2\x80\xA6"}},
    {"NamedWindows1252", "\x80\xE9", "Windows-1252", KAVLO_OK, "", {garbage + "\xE2\x82\xAC\xC3\xA9"}},
    {"NamedLatin1", "\x80\xE9", "latin1", KAVLO_OK, "", {garbage + "\xC2\x80\xC3\xA9"}},
    {"NamedIso88591", "\x80\xE9", "ISO-8859-1", KAVLO_OK, "", {garbage + "\xC2\x80\xC3\xA9"}},
    {"NamedGbk", "\xC4\xE3", "gbk", KAVLO_OK, "", {garbage + "\xE4\xBD\xA0"}},
    {"NamedGb2312", "\xC4\xE3", "gb2312", KAVLO_OK, "", {garbage + "\xE4\xBD\xA0"}},
    {"NamedBig5ReadsGbkBytesOtherwise", "\xC4\xE3", "BIG5", KAVLO_OK, "", {garbage + "\xE6\x96\x95"}},
    {"NamedUtf16Le", "A\0B\0"s, "utf-16le", KAVLO_OK, "", {garbage + "AB"}},
    {"NamedUtf16Be", "A\0B\0"s, "UTF16BE", KAVLO_OK, "", {garbage + "\xE4\x84\x80\xE4\x88\x80"}},
    {"NamedBig5", "\xA4\x40", "big5", KAVLO_OK, "", {garbage + "\xE4\xB8\x80"}},
    {"NamedIsoPassedToIconv", "\xE9", "ISO_8859-15", KAVLO_OK, "", {garbage + "\xC3\xA9"}},
    {"Utf16WithoutMarkStaysBytes", "A\0B\0"s, nullptr, KAVLO_OK, "", {garbage + "A"}},
};

INSTANTIATE_TEST_SUITE_P(Decode, Decode, ::testing::ValuesIn(k_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// UTF-16 with its mark, little- and big-endian, through the text and the
// file entry points, gives the document of the same text in UTF-8: the
// mark is gone before detection, the first line is kept.
std::string utf16(std::u16string_view text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t c : text) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    out += little ? lo : hi;
    out += little ? hi : lo;
  }
  return out;
}

using Utf16Mark = kt::Store;

TEST_F(Utf16Mark, EachFormatReadsAsItsUtf8Text) {
  const struct {
    int format;
    const char *utf8;
    std::u16string_view utf16;
  } texts[] = {
      {KAVLO_FORMAT_M3U, "#EXTM3U\n#EXTINF:5 group-title=\"Caf\xC3\xA9\",Un\n/a\n",
       u"#EXTM3U\n#EXTINF:5 group-title=\"Caf\u00E9\",Un\n/a\n"},
      {KAVLO_FORMAT_STREAMING_LIST, "R\xC3\xA1" "dio,http://x/a\r\nhttp://x/b\r\n",
       u"R\u00E1dio,http://x/a\r\nhttp://x/b\r\n"},
      {KAVLO_FORMAT_CUE,
       "PERFORMER \"Orquesta Caf\xC3\xA9\"\nFILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       u"PERFORMER \"Orquesta Caf\u00E9\"\nFILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
  };
  for (const auto &t : texts) {
    ASSERT_EQ(kt::parse(t.utf8), KAVLO_OK);
    ASSERT_EQ(kavlo_detected_format(), t.format);
    ASSERT_EQ(kavlo_warning_count(), 0) << t.utf8;
    const std::string expected = kt::json();
    for (bool little : {true, false}) {
      SCOPED_TRACE(std::string(kavlo_format_name(t.format)) + (little ? " LE" : " BE"));
      const std::string bytes = utf16(t.utf16, little);
      EXPECT_EQ(kt::detect(bytes), t.format);
      EXPECT_EQ(kt::parse(bytes), KAVLO_OK);
      EXPECT_EQ(kt::json(), expected);
      EXPECT_EQ(kt::parse(bytes, t.format), KAVLO_OK);
      EXPECT_EQ(kt::json(), expected);
      const std::string path = kt::temp_file("utf16.txt", bytes);
      EXPECT_EQ(kavlo_parse_file(path.c_str()), KAVLO_OK);
      EXPECT_EQ(kt::json(), expected);
    }
  }
  EXPECT_STREQ(kavlo_cue_meta("PERFORMER"), "Orquesta Caf\xC3\xA9");
}

struct DetectCase {
  const char *name;
  std::string bytes;
  int format;

  friend void PrintTo(const DetectCase &c, std::ostream *os) { *os << c.name; }
};

class Detect : public kt::Store, public ::testing::WithParamInterface<DetectCase> {};

TEST_P(Detect, AnswersFormat) {
  const DetectCase &c = GetParam();
  EXPECT_EQ(kt::detect(c.bytes), c.format);
  // Automatic parsing settles on the same format, except that a text
  // detected as M3U may still be refused by the M3U parser.
  kt::parse(c.bytes);
  EXPECT_EQ(kavlo_detected_format(), c.format);
}

std::string pad(size_t n) { return std::string(n, 'x') + "\n"; }

const DetectCase k_detect[] = {
    {"M3uAfterBlanks", " \n\t\r\n#EXTM3U", KAVLO_FORMAT_M3U},
    {"M3uExactlySevenBytes", "#EXTM3U", KAVLO_FORMAT_M3U},
    {"TooShortForHeader", "#EXTM3", KAVLO_FORMAT_UNKNOWN},
    {"VerticalTabEndsTheSkip", "\v#EXTM3U\nhttp://x/", KAVLO_FORMAT_STREAMING_LIST},
    {"LowerCaseHeaderIsNoHeader", "#extm3u\nhttp://x/", KAVLO_FORMAT_STREAMING_LIST},
    {"Utf16BomThenM3uHeader", "\xFF\xFE#\0E\0X\0T\0M\0" "3\0U\0\n\0h\0t\0t\0p\0:\0/\0/\0x\0"s,
     KAVLO_FORMAT_M3U},
    {"HlsMarkerInWindow", "#EXTM3U\n" + pad(65000) + "#EXT-X-ENDLIST\n", KAVLO_FORMAT_M3U8_HLS},
    {"HlsMarkerPastWindow", "#EXTM3U\n" + pad(65536) + "#EXT-X-ENDLIST\n", KAVLO_FORMAT_M3U},
    {"HlsMarkerMidLine", "#EXTM3U\nabc#EXT-X-MAP:x\n", KAVLO_FORMAT_M3U8_HLS},
    {"CueQuotedFile", "FILE \"a b.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
     KAVLO_FORMAT_CUE},
    {"CueFileAtLineStart", "REM x\nFILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
     KAVLO_FORMAT_CUE},
    {"CueUnquotedFileOnFirstLine", "FILE a.wav\nTRACK 01\nINDEX 01 00:00:00\n",
     KAVLO_FORMAT_UNKNOWN},
    {"CueIndexPastWindow", "FILE \"a\"\nTRACK 01\n" + pad(8192) + "INDEX 01 00:00:00\n",
     KAVLO_FORMAT_UNKNOWN},
    {"UpperCaseScheme", "HTTP://EXAMPLE/\n", KAVLO_FORMAT_STREAMING_LIST},
    {"RtspScheme", "cam,rtsp://192.0.2.1/\n", KAVLO_FORMAT_STREAMING_LIST},
    {"UrlPastWindow", pad(4096) + "http://x/\n", KAVLO_FORMAT_UNKNOWN},
    {"NulEndsTheWindow", "x\0http://x/\n"s, KAVLO_FORMAT_UNKNOWN},
    {"Empty", "", KAVLO_FORMAT_UNKNOWN},
};

INSTANTIATE_TEST_SUITE_P(Detect, Detect, ::testing::ValuesIn(k_detect),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
