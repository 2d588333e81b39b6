// Text helpers: ASCII classes, trimming, quotes and the line reader.
#include "text.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavlo {

bool str_ieq(const char *a, const char *b) noexcept {
  if (a == nullptr || b == nullptr) return a == b;
  for (;; ++a, ++b) {
    unsigned char x = to_lower(static_cast<unsigned char>(*a));
    unsigned char y = to_lower(static_cast<unsigned char>(*b));
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool str_ieq(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && starts_with_icase(a, b);
}

bool starts_with_icase(std::string_view s, std::string_view prefix) noexcept {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (to_lower(static_cast<unsigned char>(s[i])) !=
        to_lower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool contains_icase(std::string_view hay, std::string_view lower_needle) noexcept {
  if (lower_needle.empty()) return true;
  if (hay.size() < lower_needle.size()) return false;
  const unsigned char first = static_cast<unsigned char>(lower_needle[0]);
  const size_t last = hay.size() - lower_needle.size();
  for (size_t i = 0; i <= last; ++i) {
    if (to_lower(static_cast<unsigned char>(hay[i])) != first) continue;
    size_t k = 1;
    while (k < lower_needle.size() &&
           to_lower(static_cast<unsigned char>(hay[i + k])) ==
               static_cast<unsigned char>(lower_needle[k]))
      ++k;
    if (k == lower_needle.size()) return true;
  }
  return false;
}

std::string_view trim(std::string_view s) noexcept {
  size_t b = 0, e = s.size();
  while (b < e && is_space(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && is_space(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string_view strip_quotes(std::string_view s) noexcept {
  if (s.empty() || s[0] != '"') return s;
  size_t last = s.rfind('"');
  if (last == 0) return s.substr(1);
  return s.substr(1, last - 1);
}

size_t find_line_break_or_nul(const char *p, size_t from, size_t len) noexcept {
  size_t i = from;
#if defined(__SSE2__)
  // Line ends are rare next to ordinary bytes: test 16 at a time.
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), nul = _mm_setzero_si128();
  while (i + 16 <= len) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                               _mm_cmpeq_epi8(v, nul));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
    i += 16;
  }
#endif
  for (; i < len; ++i) {
    char c = p[i];
    if (c == '\n' || c == '\r' || c == '\0') return i;
  }
  return len;
}

bool lines_next(LineCursor &cur, std::string_view &line) noexcept {
  if (cur.pos >= cur.len) return false;
  const size_t start = cur.pos;
  size_t end = find_line_break_or_nul(cur.buf, start, cur.len);
  size_t content_end = end;
  // A NUL cuts what the parsers see of the line; the line itself still runs
  // to the next CR or LF.
  while (end < cur.len && cur.buf[end] == '\0')
    end = find_line_break_or_nul(cur.buf, end + 1, cur.len);
  line = std::string_view(cur.buf + start, content_end - start);
  if (end >= cur.len) {
    cur.pos = cur.len;
  } else if (cur.buf[end] == '\n') {
    cur.pos = end + 1;
  } else {  // CR, possibly followed by LF
    cur.pos = end + 1;
    if (cur.pos < cur.len && cur.buf[cur.pos] == '\n') ++cur.pos;
  }
  return true;
}

}  // namespace kavlo
