// Fuzzes the in-memory parse entry points. The first byte picks the entry
// point and the format (-2 to 5), the second the encoding name; the rest is
// the text. Parsing the same bytes twice must give the same document, and
// a result written in each format that holds it must read back
// (tests/support/roundtrip.h), and so must one built entry by entry from
// it with what the builder accepts; the diagnostics stand at lines of the
// text.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "../tests/support/roundtrip.h"
#include "../tests/support/handle_compare.h"

namespace {

// The entries of a parsed M3U or streaming result built again through the
// builder, skipping what it refuses: whatever it accepts must come back
// from the written text as built.
void check_built(kavlo_playlist *src) {
  const int format = kavlo_playlist_detected_format(src);
  if (format != KAVLO_FORMAT_M3U && format != KAVLO_FORMAT_STREAMING_LIST) return;
  kavlo_playlist *b = kavlo_playlist_new();
  FUZZ_CHECK(b != nullptr);
  for (int a = 0; a < kavlo_playlist_header_attr_count(src); ++a)
    (void)kavlo_playlist_add_header_attr(b, kavlo_playlist_header_attr_key(src, a), kavlo_playlist_header_attr_value(src, a));
  for (int i = 0; i < kavlo_playlist_item_count(src); ++i) {
    // A title holding a comma may read back as what follows its last one
    // (the M3U reader's title rule, documented): not a round trip.
    if (std::strchr(kavlo_playlist_item_title(src, i), ',') != nullptr) continue;
    const int rc = kavlo_playlist_add_item(b, kavlo_playlist_item_location(src, i), kavlo_playlist_item_title(src, i),
                                           kavlo_playlist_item_duration_ms(src, i));
    FUZZ_CHECK(rc == KAVLO_OK || rc == KAVLO_ERR_INVALID || rc == KAVLO_ERR_NOMEM);
    if (rc != KAVLO_OK) continue;
    for (int a = 0; a < kavlo_playlist_item_attr_count(src, i); ++a)
      (void)kavlo_playlist_add_attr(b, kavlo_playlist_item_attr_key(src, i, a), kavlo_playlist_item_attr_value(src, i, a));
    for (int o = 0; o < kavlo_playlist_item_option_count(src, i); ++o)
      (void)kavlo_playlist_add_option(b, kavlo_playlist_item_option_tag(src, i, o), kavlo_playlist_item_option_key(src, i, o),
                                      kavlo_playlist_item_option_value(src, i, o));
  }
  const std::string failure = kt::round_trip(b->store);
  if (!failure.empty()) std::fprintf(stderr, "built round trip: %s\n", failure.c_str());
  FUZZ_CHECK(failure.empty());
  kavlo_playlist_free(b);
}

// The text itself as the builder's strings: pieces between 0x1F bytes (a
// NUL ends one too), taken in turns as an item's location and title, an
// attribute's key and value, an option's tag, key and value, a header
// attribute's key and value. What the builder accepts must read back.
void check_built_raw(const char *text, size_t len) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < len && pieces.size() < 256; ++i) {
    if (text[i] == '\x1F' || text[i] == '\0') pieces.emplace_back();
    else pieces.back() += text[i];
  }
  kavlo_playlist *b = kavlo_playlist_new();
  FUZZ_CHECK(b != nullptr);
  auto at = [&](size_t k) { return pieces[k % pieces.size()].c_str(); };
  for (size_t k = 0; k < pieces.size(); k += 9) {
    (void)kavlo_playlist_add_header_attr(b, at(k + 7), at(k + 8));
    // A title holding a comma reads back as what follows its last one (the
    // reader's title rule, documented): not a round trip to check.
    if (std::strchr(at(k + 1), ',') != nullptr) continue;
    if (kavlo_playlist_add_item(b, at(k), at(k + 1), static_cast<int64_t>(k) * 997 - 1) != KAVLO_OK) continue;
    (void)kavlo_playlist_add_attr(b, at(k + 2), at(k + 3));
    (void)kavlo_playlist_add_option(b, at(k + 4), at(k + 5), at(k + 6));
  }
  const std::string failure = kt::round_trip(b->store);
  if (!failure.empty()) std::fprintf(stderr, "raw built round trip: %s\n", failure.c_str());
  FUZZ_CHECK(failure.empty());
  kavlo_playlist_free(b);
}

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
    kavlo_playlist *const process_wide = &kavlo::process_playlist();
    const std::string failure = kt::round_trip(kavlo::store());
    if (!failure.empty()) std::fprintf(stderr, "round trip: %s\n", failure.c_str());
    FUZZ_CHECK(failure.empty());
    check_built(process_wide);
  }
  check_built_raw(text.get(), len);
  (void)kavlo_detect(text.get(), len);
  fuzz::read_store();
  kavlo_clear();
  return 0;
}
