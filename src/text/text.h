// Text helpers shared by the decoder, the detector and the parsers: ASCII
// character classes, case-insensitive comparison, trimming, quote
// stripping and the line reader. Everything here works on bytes; nothing
// depends on the locale.
#pragma once

#include <cstddef>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// True when `s` begins with `prefix`, ASCII letters folded.
inline bool starts_with_icase(std::string_view s, std::string_view prefix) noexcept {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (to_lower(static_cast<unsigned char>(s[i])) != to_lower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

inline bool str_ieq(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && starts_with_icase(a, b);
}

// Position of the first `c` in `s` at or after `from`, or npos. Inline, for
// the short distances inside a line where a library call costs more than
// the search.
inline size_t find_byte(std::string_view s, size_t from, char c) noexcept {
  size_t i = from;
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(c);
  for (; i + 16 <= s.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s.data() + i));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, needle)));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < s.size(); ++i)
    if (s[i] == c) return i;
  return std::string_view::npos;
}



// True when `s` holds one of the bytes `a`, `b` and `c`. Sixteen bytes at
// a time, the last block overlapping the one before it.
inline bool has_any_byte(std::string_view s, char a, char b, char c) noexcept {
#if defined(__SSE2__)
  if (s.size() >= 16) {
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
    auto hit = [&](size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s.data() + at));
      return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_or_si128(_mm_cmpeq_epi8(v, vb),
                                                                                _mm_cmpeq_epi8(v, vc)))) != 0;
    };
    for (size_t i = 0; i + 16 <= s.size(); i += 16)
      if (hit(i)) return true;
    return hit(s.size() - 16);
  }
#endif
  for (const char x : s)
    if (x == a || x == b || x == c) return true;
  return false;
}

// True when `s` holds "http://", "https://" or "rtsp://" anywhere, with
// ASCII letters folded.
bool has_stream_scheme(std::string_view s) noexcept;

// Position of the last comma of `s` outside double quotes (each quote
// opens or closes a quoted stretch), or npos.
size_t last_unquoted_comma(std::string_view s) noexcept;

// The first position at or after `i` that is not white space.
inline size_t skip_space(std::string_view s, size_t i) noexcept {
  while (i < s.size() && is_space(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

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
  bool cut = false;  // the last line was cut at a NUL byte
};

// Offset of the first CR, LF or NUL at or after `from`, or `len`.
size_t find_line_break_or_nul(const char *p, size_t from, size_t len) noexcept;

// Stores the next line (terminator removed, cut at a NUL: `cut` then
// tells) in `line`; returns false when the text is used up.
inline bool lines_next(LineCursor &cur, std::string_view &line) noexcept {
  if (cur.pos >= cur.len) return false;
  const size_t start = cur.pos;
  size_t end = find_line_break_or_nul(cur.buf, start, cur.len);
  const size_t content_end = end;
  // A NUL cuts what the parsers see of the line; the line itself still
  // runs to the next CR or LF.
  cur.cut = false;
  while (end < cur.len && cur.buf[end] == '\0') {
    cur.cut = true;
    end = find_line_break_or_nul(cur.buf, end + 1, cur.len);
  }
  line = std::string_view(cur.buf + start, content_end - start);
  if (end >= cur.len) {
    cur.pos = cur.len;
  } else {
    cur.pos = end + 1;
    if (cur.buf[end] == '\r' && cur.pos < cur.len && cur.buf[cur.pos] == '\n') ++cur.pos;
  }
  return true;
}

}  // namespace kavlo
