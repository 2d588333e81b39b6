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

bool has_stream_scheme(std::string_view s) noexcept {
  auto ieq = [&](size_t at, std::string_view lower) {
    for (size_t k = 0; k < lower.size(); ++k)
      if (to_lower(static_cast<unsigned char>(s[at + k])) != static_cast<unsigned char>(lower[k]))
        return false;
    return true;
  };
  // Every scheme ends in "://": find those and look at the letters before.
  for (size_t i = s.find("://"); i != std::string_view::npos; i = s.find("://", i + 1)) {
    if (i >= 4 && (ieq(i - 4, "http") || ieq(i - 4, "rtsp"))) return true;
    if (i >= 5 && ieq(i - 5, "https")) return true;
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

// Position of the last comma outside double quotes (every quote toggles),
// or npos. Sixteen bytes at a time: a prefix XOR of the quote bits gives
// the quoted state at every byte.
size_t last_unquoted_comma(std::string_view s) noexcept {
  size_t found = std::string_view::npos;
  size_t i = 0;
  unsigned inside = 0;  // 0 or 0xFFFF: quoted state carried into the block
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), comma = _mm_set1_epi8(',');
  for (; i + 16 <= s.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s.data() + i));
    unsigned q = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)));
    const unsigned c = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)));
    if ((q | c) == 0) continue;
    q ^= q << 1;
    q ^= q << 2;
    q ^= q << 4;
    q ^= q << 8;
    const unsigned state = (q ^ inside) & 0xFFFF;
    const unsigned outside = c & ~state;
    if (outside != 0) found = i + static_cast<size_t>(31 - __builtin_clz(outside));
    inside = (state & 0x8000) ? 0xFFFF : 0;
  }
#endif
  for (; i < s.size(); ++i) {
    if (s[i] == '"') inside ^= 0xFFFF;
    else if (s[i] == ',' && inside == 0) found = i;
  }
  return found;
}

size_t find_line_break_or_nul(const char *p, size_t from, size_t len) noexcept {
  size_t i = from;
#if defined(__SSE2__)
  // Line ends are rare next to ordinary bytes. NUL, LF and CR are all below
  // 14, so a block is first tested for any byte below 14 (tabs pass that
  // test too), and only such a block is looked at closely.
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), nul = _mm_setzero_si128();
  const __m128i thirteen = _mm_set1_epi8(13);
  while (i + 16 <= len) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, thirteen), v)) != 0) {
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                       _mm_cmpeq_epi8(v, nul));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
      if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    i += 16;
  }
#endif
  for (; i < len; ++i) {
    char c = p[i];
    if (c == '\n' || c == '\r' || c == '\0') return i;
  }
  return len;
}

}  // namespace kavlo
