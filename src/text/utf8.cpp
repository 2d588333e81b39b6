// UTF-8 checks and cuts (see utf8.h).
#include "utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavlo {

bool is_strict_utf8(std::string_view s) noexcept {
  const auto *q = reinterpret_cast<const unsigned char *>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    if (q[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = utf8_sequence(q + i, n - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

#if defined(__SSE2__)
namespace {

// One 64-byte block: continuation bytes must sit exactly where the lead
// bytes before them announce them. `carry` holds announced continuations
// that spill into the next block.
bool utf8_block(const unsigned char *p, uint64_t &carry) noexcept {
  __m128i v[4];
  for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k));
  // Plain ASCII, the common case, costs one test.
  const __m128i any_high = _mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3]));
  if (_mm_movemask_epi8(any_high) == 0) return carry == 0;
  uint64_t cont = 0, lead2 = 0, lead3 = 0, lead4 = 0, bad = 0;
  for (int k = 0; k < 4; ++k) {
    const int shift = 16 * k;
    auto bits = [&](int mask, int value) {
      const __m128i m = _mm_and_si128(v[k], _mm_set1_epi8(static_cast<char>(mask)));
      return static_cast<uint64_t>(static_cast<unsigned>(
                 _mm_movemask_epi8(_mm_cmpeq_epi8(m, _mm_set1_epi8(static_cast<char>(value))))))
             << shift;
    };
    cont |= bits(0xC0, 0x80);
    lead2 |= bits(0xE0, 0xC0);
    lead3 |= bits(0xF0, 0xE0);
    lead4 |= bits(0xF8, 0xF0);
    bad |= bits(0xF8, 0xF8);
  }
  const uint64_t any = lead2 | lead3 | lead4, long_ = lead3 | lead4;
  const uint64_t expected = (any << 1) | (long_ << 2) | (lead4 << 3) | carry;
  carry = (any >> 63) | (long_ >> 62) | (lead4 >> 61);
  return bad == 0 && expected == cont;
}

}  // namespace

bool is_utf8(const char *p, size_t len) noexcept {
  const auto *u = reinterpret_cast<const unsigned char *>(p);
  uint64_t carry = 0;
  size_t i = 0;
  for (; i + 64 <= len; i += 64)
    if (!utf8_block(u + i, carry)) return false;
  if (i < len) {
    // The zero padding is ASCII: a sequence cut off by the end fails.
    unsigned char tail[64] = {};
    std::memcpy(tail, u + i, len - i);
    if (!utf8_block(tail, carry)) return false;
  }
  return carry == 0;
}
#else
bool is_utf8(const char *p, size_t len) noexcept {
  const auto *u = reinterpret_cast<const unsigned char *>(p);
  size_t i = 0;
  while (i < len) {
    const unsigned char c = u[i];
    const size_t n = utf8_lead_length(c);
    if ((c >= 0x80 && n == 1) || n > len - i) return false;
    for (size_t k = 1; k < n; ++k)
      if ((u[i + k] & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}
#endif

size_t utf8_safe_cut(const char *buf, size_t len, size_t limit) noexcept {
  if (len <= limit) return len;
  auto u = [&](size_t i) { return static_cast<unsigned char>(buf[i]); };
  if ((u(limit) & 0xC0) != 0x80) return limit;  // the cut falls between characters
  size_t lead = limit;
  while (lead > 0 && limit - lead < 3 && (u(lead - 1) & 0xC0) == 0x80) --lead;
  if (lead == 0) return limit;
  --lead;
  unsigned char c = u(lead);
  const size_t seq = utf8_lead_length(c);
  if (seq == 1 || lead + seq <= limit || lead + seq > len) return limit;
  for (size_t i = lead + 1; i < lead + seq; ++i)
    if ((u(i) & 0xC0) != 0x80) return limit;
  return lead;
}

}  // namespace kavlo
