// The parse driver behind every parse entry point, and file reading.
#pragma once

#include <cstddef>

#include "store/store.h"

namespace kavlo {

// How a parse treats the encoding name "auto" and files that are not
// regular: the process-wide functions take "auto" as any other name and
// refuse what cannot be sought; the handle functions guess the encoding
// and read streams to their end.
struct ParseMode {
  bool guess_auto = false;
  bool read_streams = false;
  bool detect_only = false;  // decode and decide the format, parse nothing
};
constexpr ParseMode process_wide_mode{};
constexpr ParseMode handle_mode{true, true};
constexpr ParseMode handle_detect_mode{true, true, true};

// Clears the store, decodes, settles the format and runs one parser.
// Returns a status code.
[[nodiscard]] int do_parse(Store &s, const char *text, size_t len, int format, const char *encoding,
                           ParseMode mode = process_wide_mode) noexcept;

// Reads the file whole and runs do_parse in `format` (KAVLO_FORMAT_AUTO to
// detect it).
[[nodiscard]] int parse_file(Store &s, const char *path, int format, const char *encoding,
                             ParseMode mode = process_wide_mode) noexcept;

// Reads what is left of the open descriptor `fd` and runs do_parse (as a
// handle parses).
[[nodiscard]] int parse_fd(Store &s, int fd, int format, const char *encoding,
                           ParseMode mode = handle_mode) noexcept;

// Decodes without clearing the store and answers the format.
int detect(Store &s, const char *text, size_t len) noexcept;

// The format of a text after decoding, with no trace in any store.
int detect_text(const char *text, size_t len, const char *encoding) noexcept;

}  // namespace kavlo
