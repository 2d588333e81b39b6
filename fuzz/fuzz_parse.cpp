// Fuzzes the in-memory parse entry points. The first byte picks the entry
// point and the format (-2 to 5), the second the encoding name; the rest is
// the text. Parsing the same bytes twice must give the same document, and
// a result written in each format that holds it must read back
// (tests/support/roundtrip.h); the diagnostics stand at lines of the text.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_common.h"
#include "../tests/support/roundtrip.h"
#include "../tests/support/handle_compare.h"

namespace {

const char *const encodings[] = {
    nullptr,   "",           "utf-8",    "UTF8",       "utf-16le",   "utf16le", "utf-16be",
    "utf16be", "gbk",        "cp936",    "gb2312",     "GB18030",    "big5",    "cp1252",
    "windows-1252", "latin1", "iso-8859-1", "EUC-JP", "no-such-encoding",
};
constexpr size_t encoding_count = sizeof encodings / sizeof encodings[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const bool with_encoding = (data[0] & 1) != 0;
  const int format = static_cast<int>((data[0] >> 1) % 8) - 2;
  const char *encoding = encodings[data[1] % encoding_count];
  // An exact-size copy: a read past the end is caught.
  const size_t len = size - 2;
  std::unique_ptr<char[]> text(new char[len ? len : 1]);
  std::memcpy(text.get(), data + 2, len);

  auto parse = [&] {
    return with_encoding ? kavlo_parse_enc(text.get(), len, format, encoding)
                         : kavlo_parse(text.get(), len, format);
  };
  const int rc = parse();
  FUZZ_CHECK(rc == KAVLO_OK || rc == KAVLO_ERR_DECODE || rc == KAVLO_ERR_FORMAT ||
             rc == KAVLO_ERR_NOMEM);
  fuzz::read_store();
  const size_t lines = fuzz::line_bound(data + 2, len);
  const std::string first = fuzz::read_json(lines);
  FUZZ_CHECK(parse() == rc);
  FUZZ_CHECK(fuzz::read_json(lines) == first);
  // A handle gives the same result, and its full document is the rendering
  // of its accessors; with "auto" it never fails where no name did not.
  static kavlo_playlist *const handle = kavlo_playlist_new();
  FUZZ_CHECK(handle != nullptr);
  FUZZ_CHECK(kavlo_playlist_parse(handle, text.get(), len, format, with_encoding ? encoding : nullptr) == rc);
  FUZZ_CHECK(kt::compare_with_process_wide(handle).empty());
  FUZZ_CHECK(kt::compare_full_with_accessors(handle).empty());
  const int unnamed = kavlo_playlist_parse(handle, text.get(), len, format, nullptr);
  const int guessed = kavlo_playlist_parse(handle, text.get(), len, format, "auto");
  FUZZ_CHECK(guessed != KAVLO_ERR_DECODE || unnamed == KAVLO_ERR_DECODE);
  FUZZ_CHECK(kt::compare_full_with_accessors(handle).empty());
  FUZZ_CHECK(kavlo_detect_text(text.get(), len, with_encoding ? encoding : nullptr) == kavlo_detected_format() ||
             rc != KAVLO_OK || format != KAVLO_FORMAT_AUTO);
  if (rc == KAVLO_OK) {
    const std::string failure = kt::round_trip(kavlo::store());
    if (!failure.empty()) std::fprintf(stderr, "round trip: %s\n", failure.c_str());
    FUZZ_CHECK(failure.empty());
  }
  (void)kavlo_detect(text.get(), len);
  fuzz::read_store();
  kavlo_clear();
  return 0;
}
