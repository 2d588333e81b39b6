// Fuzzes the encoding guess of "auto": an answer is a NUL-terminated name
// that fits its buffer, "" after false, the same on a second call, never
// for marked text and UTF-16 only for an even length; the bytes then parse
// in the encoding named (or fail to decode), with the store's invariants.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_common.h"
#include "../src/decode/guess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> text(new char[size ? size : 1]);
  std::memcpy(text.get(), data, size);
  char name[kavlo::guess_name_size], again[kavlo::guess_name_size];
  const bool named = kavlo::guess_encoding(text.get(), size, name);
  FUZZ_CHECK(std::memchr(name, '\0', sizeof name) != nullptr);
  FUZZ_CHECK(named == (name[0] != '\0'));
  FUZZ_CHECK(kavlo::guess_encoding(text.get(), size, again) == named && std::strcmp(name, again) == 0);
  const bool marked = (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) ||
                      (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) ||
                      (size >= 4 && std::memcmp(data, "\0\0\xFE\xFF", 4) == 0);
  if (marked) FUZZ_CHECK(!named);
  if (std::strncmp(name, "UTF-16", 6) == 0) FUZZ_CHECK(size % 2 == 0);
  if (named) {
    const int rc = kavlo_parse_enc(text.get(), size, KAVLO_FORMAT_AUTO, name);
    FUZZ_CHECK(rc != KAVLO_ERR_INVALID);
    fuzz::read_store();
    (void)fuzz::read_json();
    kavlo_clear();
  }
  return 0;
}
