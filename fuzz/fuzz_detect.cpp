// Fuzzes format detection: it never clears the last parse and always
// answers one of the five formats.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> text(new char[size ? size : 1]);
  std::memcpy(text.get(), data, size);
  const int parsed = kavlo_parse(text.get(), size, KAVLO_FORMAT_AUTO);
  const int items = kavlo_item_count();
  const int format = kavlo_detected_format();
  const int detected = kavlo_detect(text.get(), size);
  FUZZ_CHECK(detected >= KAVLO_FORMAT_M3U && detected <= KAVLO_FORMAT_UNKNOWN);
  FUZZ_CHECK(kavlo_item_count() == items && kavlo_detected_format() == format);
  // Automatic parsing settles on what detection answers.
  if (parsed != KAVLO_ERR_DECODE) FUZZ_CHECK(format == detected);
  fuzz::read_store();
  (void)fuzz::read_json();
  kavlo_clear();
  return 0;
}
