// Text helpers shared by the decoder, the detector and the parsers: ASCII
// character classes, case-insensitive comparison, trimming, quote
// stripping and the line reader. Everything here works on bytes; nothing
// depends on the locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace kavlo {

// White space is exactly space, HT, LF, VT, FF and CR. Bytes of 0x80 and
// above are never white space, whatever the locale would say.
constexpr bool is_space(unsigned char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool is_digit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }
constexpr unsigned char to_lower(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}
constexpr unsigned char to_upper(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Equality with ASCII letters folded. Two NULLs are equal; one NULL is
// unequal to anything.
bool str_ieq(const char *a, const char *b) noexcept;
bool str_ieq(std::string_view a, std::string_view b) noexcept;

// True when `s` begins with `prefix`, ASCII letters folded.
bool starts_with_icase(std::string_view s, std::string_view prefix) noexcept;

// Finds `needle` in `hay` with ASCII letters of `hay` folded; `needle` must
// be lower case already.
bool contains_icase(std::string_view hay, std::string_view lower_needle) noexcept;

// `s` without leading and trailing white space.
std::string_view trim(std::string_view s) noexcept;

// Surrounding double quotes removed: a value that starts with a quote gives
// the bytes up to the last quote (or all after the first when it is the only
// one); anything else is returned unchanged.
std::string_view strip_quotes(std::string_view s) noexcept;

// Reads a text line by line without changing it. A line ends at LF, CR or
// CR LF; a text ending with a line end yields no empty last line. A NUL
// byte is not a line end, but the line as seen by the parsers stops at it.
struct LineCursor {
  const char *buf;
  size_t len;
  size_t pos = 0;
};

// Stores the next line (terminator removed, cut at a NUL) in `line`;
// returns false when the text is used up.
bool lines_next(LineCursor &cur, std::string_view &line) noexcept;

// Offset of the first CR, LF or NUL at or after `from`, or `len`.
size_t find_line_break_or_nul(const char *p, size_t from, size_t len) noexcept;

}  // namespace kavlo
