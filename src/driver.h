// The parse driver behind every parse entry point, and file reading.
#pragma once

#include <cstddef>

#include "store.h"

namespace kavlo {

// Clears the store, decodes, settles the format and runs one parser.
// Returns a status code.
[[nodiscard]] int do_parse(Store &s, const char *text, size_t len, int format,
                           const char *encoding) noexcept;

// Reads the file whole and runs do_parse with automatic detection.
[[nodiscard]] int parse_file(Store &s, const char *path, const char *encoding) noexcept;

// Decodes without clearing the store and answers the format.
int detect(Store &s, const char *text, size_t len) noexcept;

}  // namespace kavlo
