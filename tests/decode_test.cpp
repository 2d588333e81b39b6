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
    {"Utf16LeBomKeptAsFeff", "\xFF\xFE" "A\0"s, nullptr, KAVLO_OK, "", {garbage + bom + "A"}},
    {"Utf16BeBomKeptAsFeff", "\xFE\xFF\0A"s, nullptr, KAVLO_OK, "", {garbage + bom + "A"}},
    {"Utf16BomOnly", "\xFF\xFE", nullptr, KAVLO_OK, "", {garbage + bom}},
    {"Utf16LeOddLength", "\xFF\xFE" "A", nullptr, KAVLO_ERR_DECODE, "utf16le fail", {}},
    {"Utf16BeOddLength", "\xFE\xFF" "A", nullptr, KAVLO_ERR_DECODE, "utf16be fail", {}},
    {"Utf16LeUnpairedSurrogate", "\xFF\xFE\x00\xD8" "A\0"s, nullptr, KAVLO_ERR_DECODE,
     "utf16le fail", {}},
    {"BomWinsOverName", "\xFF\xFE" "A\0"s, "gbk", KAVLO_OK, "", {garbage + bom + "A"}},
    {"Utf8BomThenNamedUtf16", bom + "A\0"s, "utf-16le", KAVLO_OK, "", {garbage + "A"}},
    {"Gb18030SequenceRefusedAsGbk", "\x81\x30\x81\x30", "GB18030", KAVLO_ERR_DECODE,
     "iconv GBK fail", {}},
    {"Cp936IsGbk", "\x81\x30\x81\x30", "cp936", KAVLO_ERR_DECODE, "iconv GBK fail", {}},
    {"UnknownNamePassedThrough", "x", "no-such-enc", KAVLO_ERR_DECODE,
     "iconv no-such-enc fail", {}},
    {"NamedCp1252", "\xE9", "Windows-1252", KAVLO_OK, "", {garbage + "\xC3\xA9"}},
    {"NamedBig5", "\xA4\x40", "big5", KAVLO_OK, "", {garbage + "\xE4\xB8\x80"}},
    {"NamedIsoPassedToIconv", "\xE9", "ISO_8859-15", KAVLO_OK, "", {garbage + "\xC3\xA9"}},
    {"Utf16WithoutMarkStaysBytes", "A\0B\0"s, nullptr, KAVLO_OK, "", {garbage + "A"}},
};

INSTANTIATE_TEST_SUITE_P(Decode, Decode, ::testing::ValuesIn(k_cases),
                         [](const auto &info) { return std::string(info.param.name); });

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
    {"Utf16BomIsNeverM3u", "\xFF\xFE#\0E\0X\0T\0M\0" "3\0U\0\n\0h\0t\0t\0p\0:\0/\0/\0x\0"s,
     KAVLO_FORMAT_STREAMING_LIST},
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
