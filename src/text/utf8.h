// UTF-8 in one place: the structural check the decoder uses on whole
// texts, the strict check the JSON writer and the builders need, the
// length and the encoding of one character, and a cut that never splits
// one. Everything works on bytes; nothing here allocates.
#pragma once

#include <cstddef>
#include <string_view>

namespace kavlo {

// The length a lead byte announces: 2, 3 or 4 for the leads of multi-byte
// characters (0xC0-0xF7), else 1 (ASCII, a continuation or a stray byte,
// which walks then step over one at a time).
constexpr size_t utf8_lead_length(unsigned char c) noexcept {
  return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
}

// Length of the strict UTF-8 sequence at q (lead byte 0x80 or above), or 0
// when it is overlong, a surrogate, above U+10FFFF, cut off or stray.
// `avail` is the number of bytes left in the string; a NUL-terminated
// string may give SIZE_MAX, since its NUL is no continuation byte and each
// byte is read only when the one before it belongs to the sequence.
inline size_t utf8_sequence(const unsigned char *q, size_t avail) noexcept {
  const unsigned c = q[0];
  auto cont = [&](size_t i) { return (q[i] & 0xC0) == 0x80; };
  if (c < 0xC2) return 0;
  if (c < 0xE0) return avail >= 2 && cont(1) ? 2 : 0;
  if (avail < 3) return 0;
  const unsigned c1 = q[1];
  if (c < 0xF0) {
    const bool ok1 = c == 0xE0 ? (c1 >= 0xA0 && c1 <= 0xBF)
                     : c == 0xED ? (c1 >= 0x80 && c1 <= 0x9F)
                                 : (c1 & 0xC0) == 0x80;
    return ok1 && cont(2) ? 3 : 0;
  }
  if (c > 0xF4 || avail < 4) return 0;
  const bool ok1 = c == 0xF0 ? (c1 >= 0x90 && c1 <= 0xBF)
                   : c == 0xF4 ? (c1 >= 0x80 && c1 <= 0x8F)
                               : (c1 & 0xC0) == 0x80;
  return ok1 && cont(2) && cont(3) ? 4 : 0;
}

// The length of the character at p (of n > 0 bytes left): 1 for ASCII,
// else as utf8_sequence.
inline size_t utf8_char_length(const unsigned char *p, size_t n) noexcept {
  return p[0] < 0x80 ? 1 : utf8_sequence(p, n);
}

// Writes code point `cp` (at most U+10FFFF, not a surrogate) as UTF-8 at
// `out`; returns its length, 1 to 4.
inline size_t utf8_encode(unsigned cp, char out[4]) noexcept {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// True when `s` is strict UTF-8 (no overlong form, surrogate or code
// point above U+10FFFF), as the JSON writer requires.
bool is_strict_utf8(std::string_view s) noexcept;

// True when `p` is structurally valid UTF-8: each lead byte announces its
// continuation bytes and they follow (overlong forms and surrogates pass;
// the JSON writer refuses them later). 64 bytes at a time with SSE2.
bool is_utf8(const char *p, size_t len) noexcept;

// Length of the prefix of `buf` (whose text is `len` bytes, of which at
// least `limit` + 3 are in the buffer when available) that fits in `limit`
// bytes without splitting a well-formed UTF-8 character.
size_t utf8_safe_cut(const char *buf, size_t len, size_t limit) noexcept;

}  // namespace kavlo
