// The "auto" encoding: a name for bytes whose encoding nobody named.
#pragma once

#include <cstddef>

namespace kavlo {

constexpr size_t guess_name_size = 48;

// For bytes whose encoding nobody named: writes into `name` the encoding to
// decode them with and returns true, or returns false when the library's
// own decoding should read them (a byte-order mark, valid UTF-8, or no
// answer).
bool guess_encoding(const char *bytes, size_t len, char (&name)[guess_name_size]) noexcept;

}  // namespace kavlo
