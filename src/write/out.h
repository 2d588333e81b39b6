// The writers' output cursor and what the three writers share. Internal
// to src/write/.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "../mem.h"
#include "../store/store.h"
#include "../text/text.h"

namespace kavlo::write_detail {

using sv = std::string_view;

constexpr size_t first_block = 4096;
// As much of a text as the HLS test reads (looks_hls).
constexpr size_t hls_window = 65536;
constexpr char bom[] = "\xEF\xBB\xBF";

// Bytes kept free past every reservation: short strings are copied in
// whole 16-byte blocks.
constexpr size_t slack = 16;

#if defined(__SSE2__)
#if defined(__SANITIZE_ADDRESS__)
#define KAVLO_WRITE_WHOLE_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVLO_WRITE_WHOLE_BLOCKS 0
#endif
#endif
#ifndef KAVLO_WRITE_WHOLE_BLOCKS
#define KAVLO_WRITE_WHOLE_BLOCKS 1
#endif
#else
#define KAVLO_WRITE_WHOLE_BLOCKS 0
#endif

// True when the 16 bytes from `p` on stay inside the page of `p`, so that
// reading them whole cannot fault even past the string's NUL (which the
// sanitizers would report: their builds read byte by byte).
inline bool block_readable(const char *p) noexcept {
  return KAVLO_WRITE_WHOLE_BLOCKS && (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16;
}

// The length of the NUL-terminated `s`, and whether it holds `a` or `b`
// (bytes other than NUL): one pass, 16 bytes at a time.
template <char A, char B>
inline size_t measure(const char *s, bool &found) noexcept {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), va = _mm_set1_epi8(A), vb = _mm_set1_epi8(B);
  for (;;) {
    if (!block_readable(s + i)) {
      if (s[i] == '\0') return i;
      found = found || s[i] == A || s[i] == B;
      ++i;
      continue;
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
    const auto end = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    const auto hit = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb))));
    if (end != 0) {
      found = found || (hit & ((end & (0u - end)) - 1)) != 0;
      return i + static_cast<size_t>(__builtin_ctz(end));
    }
    found = found || hit != 0;
    i += 16;
  }
#else
  for (; s[i] != '\0'; ++i) found = found || s[i] == A || s[i] == B;
  return i;
#endif
}

struct Str {
  const char *p;
  size_t n;
  sv view() const noexcept { return {p, n}; }
};
inline Str str(const char *s) noexcept {
  bool unused = false;
  return s != nullptr ? Str{s, measure<'\0', '\0'>(s, unused)} : Str{"", 0};
}

inline bool ends_in_space(sv v) noexcept { return !v.empty() && is_space(static_cast<unsigned char>(v.back())); }

inline bool has_space(sv v) noexcept {
  for (char c : v)
    if (is_space(static_cast<unsigned char>(c))) return true;
  return false;
}

// The output cursor. need() makes room; the puts after it do not check.
class Out {
 public:
  Out(Store &s, bool crlf) noexcept : s_(s), crlf_(crlf) {
    if (s.write_text != nullptr) {
      p_ = s.write_text;
      end_ = s.write_text + s.write_capacity;
    }
  }

  bool need(size_t n) noexcept { return static_cast<size_t>(end_ - p_) > n + slack || grow(n + slack); }
  // Room for a line of `n` bytes and its end.
  bool line(size_t n) noexcept { return need(n + 2); }

  // Bytes of a stored string (never a literal: a short one is read as a
  // whole block).
  void put(const char *d, size_t n) noexcept {
#if defined(__SSE2__)
    if (n <= 16 && n != 0 && block_readable(d)) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(p_), _mm_loadu_si128(reinterpret_cast<const __m128i *>(d)));
      p_ += n;
      return;
    }
#endif
    std::memcpy(p_, d, n);
    p_ += n;
  }
  void put(Str v) noexcept { put(v.p, v.n); }
  void put(sv v) noexcept { put(v.data(), v.size()); }
  void put_exact(const char *d, size_t n) noexcept {
    std::memcpy(p_, d, n);
    p_ += n;
  }
  template <size_t N>
  void lit(const char (&text)[N]) noexcept { put_exact(text, N - 1); }
  void ch(char c) noexcept { *p_++ = c; }
  void eol() noexcept {
    if (crlf_) *p_++ = '\r';
    *p_++ = '\n';
  }
  size_t eol_size() const noexcept { return crlf_ ? 2 : 1; }

  // Decimal digits of `v`, at least `width` (1 or 2) of them; room for 10.
  void digits(uint32_t v, int width = 1) noexcept {
    if (v < 100 && (width == 2 || v >= 10)) {
      p_[0] = static_cast<char>('0' + v / 10);
      p_[1] = static_cast<char>('0' + v % 10);
      p_ += 2;
      return;
    }
    char buf[10];
    int n = 0;
    do {
      buf[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (width == 2 && n == 1) buf[n++] = '0';
    while (n > 0) *p_++ = buf[--n];
  }
  // A signed number, as the #EXTINF reader takes it back; room for 11.
  void number(int32_t v) noexcept {
    if (v < 0) *p_++ = '-';
    digits(v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
  }

  // Copies the NUL-terminated stored string `s` to the cursor in one pass,
  // 16 bytes at a time, making room as it goes: sets `n` to its length and
  // `found` when it holds the byte A or B (not NUL). False when the block
  // cannot grow.
  template <char A, char B>
  bool copy(const char *s, size_t &n, bool &found) noexcept {
    const size_t start = size();
    for (;;) {
      if (!need(16)) return false;
#if defined(__SSE2__)
      if (block_readable(s)) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p_), v);
        const auto end = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
        const auto hit = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(A)), _mm_cmpeq_epi8(v, _mm_set1_epi8(B)))));
        if (end != 0) {
          found = found || (hit & ((end & (0u - end)) - 1)) != 0;
          p_ += __builtin_ctz(end);
          n = size() - start;
          return true;
        }
        found = found || hit != 0;
        p_ += 16;
        s += 16;
        continue;
      }
#endif
      for (int k = 0; k < 16; ++k, ++s) {
        if (*s == '\0') {
          n = size() - start;
          return true;
        }
        found = found || *s == A || *s == B;
        *p_++ = *s;
      }
    }
  }
  bool copy(const char *s) noexcept {
    size_t n;
    bool found = false;
    return copy<'\0', '\0'>(s != nullptr ? s : "", n, found);
  }

  size_t size() const noexcept { return s_.write_text != nullptr ? static_cast<size_t>(p_ - s_.write_text) : 0; }
  char *text() noexcept { return s_.write_text; }
  char *cursor() noexcept { return p_; }
  void back(size_t n) noexcept { p_ -= n; }

  // Puts `n` bytes made by `fill` at offset `at`, moving what follows.
  template <class Fill>
  bool insert(size_t at, size_t n, Fill &&fill) noexcept {
    if (!need(n)) return false;
    char *base = s_.write_text;
    std::memmove(base + at + n, base + at, size() - at);
    fill(base + at);
    p_ += n;
    return true;
  }

 private:
  bool grow(size_t n) noexcept {
    const size_t used = size();
    if (n > SIZE_MAX / 4 - used) return false;
    // (n includes the slack.)
    const size_t want = used + n + 1;
    size_t cap = s_.write_capacity < first_block ? first_block : s_.write_capacity;
    while (cap < want) cap = cap <= SIZE_MAX / 4 ? cap * 2 : want;
    if (cap >= large_block) cap = mapped_size(cap);  // the whole mapping
    void *q = block_resize(s_.write_text, s_.write_capacity, cap);
    if (q == nullptr) return false;
    s_.write_text = static_cast<char *>(q);
    s_.write_capacity = cap;
    p_ = s_.write_text + used;
    end_ = s_.write_text + cap;
    return true;
  }

  Store &s_;
  char *p_ = nullptr;
  char *end_ = nullptr;
  bool crlf_;
};

// Bytes of strings the store holds, a measure of the text's size.
inline size_t stored_bytes(const Store &s) noexcept {
  size_t n = 0;
  for (const ArenaChunk *c = s.arena.head; c != nullptr; c = c->next) n += c->used;
  for (const ArenaChunk *c = s.arena.big; c != nullptr; c = c->next) n += c->used;
  return n;
}

// The streaming group of item `i` (the name of the last "NAME,#genre#"
// line before it, "" for none), with a cursor for a walk in item order.
inline const char *stream_group(const Store &s, size_t &from, size_t i, const char *&name) noexcept {
  while (from < s.group_used && s.groups[from].first_item <= i) name = s.groups[from++].name;
  return name != nullptr ? name : "";
}

// The first "group-title" attribute of item `i` (keys with ASCII letters
// folded), or NULL.
inline const ItemAttr *group_title(const Store &s, size_t i) noexcept {
  const ItemAttr *a = item_attrs(s, i);
  const int count = item_attr_count(s, i);
  for (int k = 0; k < count; ++k)
    if (a[k].key != nullptr && a[k].value != nullptr && str_ieq(a[k].key, "group-title")) return &a[k];
  return nullptr;
}

// The three formats, each into `o`; false when the block cannot grow.
bool write_m3u(Out &o, const Store &s) noexcept;
bool write_streaming(Out &o, const Store &s) noexcept;
bool write_cue(Out &o, const Store &s) noexcept;

}  // namespace kavlo::write_detail
