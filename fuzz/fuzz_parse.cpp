// Fuzzes the in-memory parse entry points. The first byte picks the entry
// point and the format (-2 to 5), the second the encoding name; the rest is
// the text. Parsing the same bytes twice must give the same document, and
// its diagnostics stand at lines of the text.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_common.h"

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
  (void)kavlo_detect(text.get(), len);
  fuzz::read_store();
  kavlo_clear();
  return 0;
}
