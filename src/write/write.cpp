// The playlist writers: the store as extended M3U, as a streaming URL list
// or as a CUE sheet. Each writes what its parser reads back to the same
// result; the rules below follow those parsers' readers line by line.
// The text goes into one block that grows without copying (a mapping of
// its own once large) and is kept for the next write. Stored strings come
// from single lines, so none holds a line break or a NUL.
#include "write.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kavlo.h"
#include "../detect.h"
#include "../mem.h"
#include "../parsers/parsers.h"
#include "../text/text.h"

namespace kavlo {

namespace {

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
Str str(const char *s) noexcept {
  bool unused = false;
  return s != nullptr ? Str{s, measure<'\0', '\0'>(s, unused)} : Str{"", 0};
}

bool ends_in_space(sv v) noexcept { return !v.empty() && is_space(static_cast<unsigned char>(v.back())); }

bool has_space(sv v) noexcept {
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
size_t stored_bytes(const Store &s) noexcept {
  size_t n = 0;
  for (const ArenaChunk *c = s.arena.head; c != nullptr; c = c->next) n += c->used;
  for (const ArenaChunk *c = s.arena.big; c != nullptr; c = c->next) n += c->used;
  return n;
}

// The streaming group of item `i` (the name of the last "NAME,#genre#"
// line before it, "" for none), with a cursor for a walk in item order.
const char *stream_group(const Store &s, size_t &from, size_t i, const char *&name) noexcept {
  while (from < s.group_used && s.groups[from].first_item <= i) name = s.groups[from++].name;
  return name != nullptr ? name : "";
}

// The first "group-title" attribute of item `i` (keys with ASCII letters
// folded), or NULL.
const ItemAttr *group_title(const Store &s, size_t i) noexcept {
  const ItemAttr *a = item_attrs(s, i);
  const int count = item_attr_count(s, i);
  for (int k = 0; k < count; ++k)
    if (a[k].key != nullptr && a[k].value != nullptr && str_ieq(a[k].key, "group-title")) return &a[k];
  return nullptr;
}

// ---- Extended M3U ---------------------------------------------------------
//
// The reader (parse_m3u) trims every line and takes:
//   "#EXTM3U" then attributes; "#PLAYLIST:" TITLE for the list's title;
//   "#EXTGRP:" NAME for the next #EXTINF that
//   has no "group-title" of its own (appended last); "#EXTINF:" N, then
//   attributes up to the last comma outside double quotes, then the title;
//   any other "#" line as an option "#TAG:KEY=VALUE" of the next entry; any
//   other line as a location.
// An attribute is KEY=VALUE, KEY without "=" or white space, VALUE either
// in double quotes (no quote inside) or bare up to the next white space.
// Every value the reader makes is one of those: without a quote, or
// without white space and not starting with a quote. So a value is written
// in quotes, or bare when it holds a quote. Quotes in keys and bare values
// could hide the title's comma; an odd number of them is made even by a
// lone quote word at the end of the attributes, which the reader skips.

// A key's length and quote count, cached by position: lists repeat the
// same keys, which the store shares.
struct KeyInfo {
  const char *key = nullptr;
  size_t n = 0;
  size_t quotes = 0;
};

size_t count_quotes(Str v) noexcept {
  size_t q = 0;
  for (size_t i = 0; i < v.n; ++i) q += v.p[i] == '"';
  return q;
}

// " KEY=VALUE" for each attribute but `skip`: the value in quotes, or
// bare when it holds one. Adds the quotes written outside quoted values to
// `quotes`; false when the block cannot grow.
bool put_attrs(Out &o, const ItemAttr *a, int count, const ItemAttr *skip, KeyInfo *keys,
               size_t &quotes) noexcept {
  for (int k = 0; k < count; ++k) {
    if (a[k].key == nullptr || a[k].value == nullptr || &a[k] == skip) continue;
    KeyInfo &ki = keys[k];
    if (ki.key != a[k].key) {
      ki.key = a[k].key;
      ki.n = std::strlen(a[k].key);
      ki.quotes = count_quotes({ki.key, ki.n});
    }
    if (!o.need(ki.n + 3)) return false;
    o.ch(' ');
    o.put(ki.key, ki.n);
    o.lit("=\"");
    size_t n;
    bool quote = false;
    if (!o.copy<'"', '"'>(a[k].value, n, quote)) return false;
    if (quote) {
      // Bare after all: the value moves over its opening quote.
      char *v = o.cursor() - n;
      std::memmove(v - 1, v, n);
      o.back(1);
      quotes += count_quotes({v - 1, n});
    } else {
      o.ch('"');
    }
    quotes += ki.quotes;
  }
  return true;
}

// A location the reader takes as one: something left after trimming, not
// starting with "#". Every location of an M3U parse is one; a CUE track's
// empty file name is not.
bool m3u_location(const char *loc) noexcept {
  if (loc == nullptr || loc[0] == '\0') return false;
  if (!is_space(static_cast<unsigned char>(loc[0]))) return loc[0] != '#';
  const sv t = trim(loc);
  return !t.empty() && t[0] != '#';
}

// "#TAG", "#TAG:KEY" or "#TAG:KEY=VALUE": the reader splits at the first
// ":" and the first "=" after it. The ":" and "=" are written where the
// parts need them, or where the line would otherwise end in white space,
// which the reader trims.
bool put_option(Out &o, const ItemOption &op) noexcept {
  const Str tag = str(op.tag), key = str(op.key), value = str(op.value);
  const bool eq = value.n != 0 || ends_in_space(key.view());
  const bool colon = eq || key.n != 0 || ends_in_space(tag.view());
  if (!o.line(tag.n + key.n + value.n + 3)) return false;
  o.ch('#');
  o.put(tag);
  if (colon) {
    o.ch(':');
    o.put(key);
  }
  if (eq) {
    o.ch('=');
    o.put(value);
  }
  o.eol();
  return true;
}

bool write_m3u(Out &o, const Store &s) noexcept {
  KeyInfo keys[max_attrs];
  size_t quotes = 0;
  if (!o.need(7)) return false;
  o.lit("#EXTM3U");
  if (!put_attrs(o, s.attrs + s.header_attr_begin, s.header_attr_count, nullptr, keys, quotes) || !o.need(2))
    return false;
  o.eol();
  if (s.title != nullptr) {
    if (!o.need(10)) return false;
    o.lit("#PLAYLIST:");
    if (!o.copy(s.title) || !o.need(2)) return false;
    o.eol();
  }
  for (KeyInfo &k : keys) k = KeyInfo{};

  size_t option = 0, group = 0;
  const char *group_name = nullptr;
  for (int i = 0; i < s.item_count; ++i) {
    const auto index = static_cast<size_t>(i);
    const PlaylistItem &it = s.items[i];
    while (option < s.option_used && s.options[option].item < index) ++option;
    const char *stream = s.group_used != 0 ? stream_group(s, group, index, group_name) : "";
    if (!m3u_location(it.location)) continue;
    for (; option < s.option_used && s.options[option].item == index; ++option)
      if (!put_option(o, s.options[option])) return false;

    // The group: an attribute of an #EXTGRP: line (its key is extgrp_key,
    // the last one, the only "group-title") goes back to such a line, as
    // does the genre of a streaming-list entry without a "group-title".
    // (The first "group-title" is looked for only where it decides.)
    const ItemAttr *a = item_attrs(s, index);
    const int count = item_attr_count(s, index);
    const ItemAttr *extgrp = nullptr;
    const char *group_line = nullptr;
    if (count != 0 && a[count - 1].key == extgrp_key && a[count - 1].value != nullptr &&
        group_title(s, index) == &a[count - 1]) {
      extgrp = &a[count - 1];
      group_line = extgrp->value;
    } else if (stream[0] != '\0' && (count == 0 || group_title(s, index) == nullptr)) {
      group_line = stream;
    }
    if (group_line != nullptr) {
      if (!o.need(8)) return false;
      o.lit("#EXTGRP:");
      if (!o.copy(group_line) || !o.need(2)) return false;
      o.eol();
    }

    const char *title = it.title != nullptr ? it.title : "";
    if (title[0] != '\0' || it.extinf_value != -1 || count != 0 || group_line != nullptr) {
      if (!o.need(8 + 11)) return false;
      o.lit("#EXTINF:");
      o.number(it.extinf_value);
      quotes = 0;
      if (!put_attrs(o, a, count, extgrp, keys, quotes) || !o.need(3)) return false;
      if (quotes % 2 != 0) o.lit(" \"");
      o.ch(',');
      if (!o.copy(title) || !o.need(2)) return false;
      o.eol();
    }
    if (!o.copy(it.location) || !o.need(2)) return false;
    o.eol();
  }
  return true;
}

// ---- Streaming list -------------------------------------------------------
//
// The reader (parse_streaming_list) trims each line and splits it at its
// first ASCII or full-width comma: the name before, the URL after (the
// whole line, name and URL, without one). A URL needs an http, https or
// rtsp scheme; "NAME,#genre#" starts a group. A name cannot hold a comma:
// one that does is written with each ASCII comma as U+201A and each
// full-width one as U+3001. Only items whose location has a stream scheme
// are written.

void put_name(Out &o, sv name) noexcept {
  for (;;) {
    const StreamSeparator sep = stream_separator(name);
    o.put(name.substr(0, sep.pos));
    if (sep.len == 0) return;
    if (sep.len == 1) o.lit("\xE2\x80\x9A");
    else o.lit("\xE3\x80\x81");
    name.remove_prefix(sep.pos + sep.len);
  }
}

// A stream scheme, as the reader looks for it (anywhere), at once for the
// usual place: the start.
bool stream_location(const char *loc) noexcept {
  auto at_start = [loc](const char *scheme, size_t n) {
    for (size_t k = 0; k < n; ++k)
      if (to_lower(static_cast<unsigned char>(loc[k])) != static_cast<unsigned char>(scheme[k])) return false;
    return true;
  };
  return at_start("http://", 7) || at_start("https://", 8) || at_start("rtsp://", 7) || has_stream_scheme(loc);
}

// A name, its commas written as others (see put_name) when it has any.
bool put_stream_name(Out &o, const char *name) noexcept {
  size_t n;
  bool maybe = false;  // an ASCII comma, or the lead byte of U+FF0C
  if (!o.copy<',', '\xEF'>(name, n, maybe)) return false;
  if (!maybe) return true;
  o.back(n);
  return o.need(3 * n) && (put_name(o, sv(name, n)), true);
}

bool write_streaming(Out &o, const Store &s) noexcept {
  const char *current = "";  // the group in force in the text
  size_t group = 0;
  const char *group_name = nullptr;
  for (int i = 0; i < s.item_count; ++i) {
    const auto index = static_cast<size_t>(i);
    const PlaylistItem &it = s.items[i];
    const char *g = s.group_used != 0 ? stream_group(s, group, index, group_name) : "";
    const char *loc = it.location != nullptr ? it.location : "";
    if (!stream_location(loc)) continue;
    if (g[0] == '\0' && item_attr_count(s, index) != 0)
      if (const ItemAttr *t = group_title(s, index)) g = t->value;
    if (g != current && std::strcmp(g, current) != 0) {
      if (!put_stream_name(o, g) || !o.need(10)) return false;
      o.lit(",#genre#");
      o.eol();
      current = g;
    }
    const char *title = it.title != nullptr ? it.title : "";
    // The reader gives an entry without a name its URL as the title.
    if (title[0] == '\0' || (title[0] == loc[0] && std::strcmp(title, loc) == 0)) {
      const size_t at = o.size();
      size_t n;
      bool maybe = false;
      if (!o.copy<',', '\xEF'>(loc, n, maybe)) return false;
      // A URL with a comma needs one before it, or it would be split.
      if (maybe && stream_separator(sv(loc, n)).len != 0 &&
          !o.insert(at, 1, [](char *p) { *p = ','; }))
        return false;
    } else {
      if (!put_stream_name(o, title) || !o.need(1)) return false;
      o.ch(',');
      if (!o.copy(loc)) return false;
    }
    if (!o.need(2)) return false;
    o.eol();
  }
  return true;
}

// ---- CUE sheet -----------------------------------------------------------
//
// The reader (parse_cue) trims each line and splits it at its first space
// into keyword and value. String fields take the value without surrounding
// quotes (strip_quotes: up to the last quote), so "KEYWORD \"VALUE\"" gives
// any value back. REM takes its first word as the key and the rest without
// quotes; FLAGS its value as written; FILE the name before the last space
// (without quotes) and the type after it; TRACK its number, then the data
// type; INDEX, PREGAP and POSTGAP mm:ss:ff, each part digits read modulo
// 2^32.

// The value as it is, or in quotes where the reader would change it.
void put_value(Out &o, Str v) noexcept {
  const bool quote = v.n == 0 || v.p[0] == '"' || has_space(v.view());
  if (quote) o.ch('"');
  o.put(v);
  if (quote) o.ch('"');
}

void put_quoted(Out &o, Str v) noexcept {
  o.ch('"');
  o.put(v);
  o.ch('"');
}

enum class Quote { always, if_needed };

template <size_t N>
bool field_line(Out &o, const char (&keyword)[N], const char *value, const char *indent, size_t indent_n,
                Quote q) noexcept {
  if (value == nullptr) return true;
  if (q == Quote::always) {
    if (!o.need(indent_n + N + 1)) return false;
    o.put_exact(indent, indent_n);
    o.lit(keyword);
    o.lit(" \"");
    if (!o.copy(value) || !o.need(3)) return false;
    o.ch('"');
    o.eol();
    return true;
  }
  const Str v = str(value);
  if (!o.line(indent_n + N + v.n + 2)) return false;
  o.put_exact(indent, indent_n);
  o.lit(keyword);
  o.ch(' ');
  put_value(o, v);
  o.eol();
  return true;
}

bool rem_line(Out &o, const CueRem &r, const char *indent, size_t indent_n) noexcept {
  const Str key = str(r.key), value = str(r.value);
  if (!o.line(indent_n + 4 + key.n + value.n + 3)) return false;
  o.put_exact(indent, indent_n);
  o.lit("REM");
  if (key.n != 0) {
    o.ch(' ');
    o.put(key);
    if (value.n != 0) {
      o.ch(' ');
      put_value(o, value);
    }
  }
  o.eol();
  return true;
}

// mm:ss:ff giving `frames` back: each part is read as 32 bits, so a
// position beyond 2^31 - 1 minutes puts the rest in the seconds, and a
// negative one is written as parts that wrap to negative numbers. An INDEX
// line has its number (`number`, written as 32 bits) before the time.
template <size_t N>
bool time_line(Out &o, const char (&keyword)[N], int64_t frames, const char *indent, size_t indent_n,
               const int *number = nullptr) noexcept {
  if (!o.need(indent_n + N + 11 + 33)) return false;
  o.put_exact(indent, indent_n);
  o.lit(keyword);
  o.ch(' ');
  if (number != nullptr) {
    o.digits(static_cast<uint32_t>(*number), 2);
    o.ch(' ');
  }
  if (frames >= 0 && frames <= UINT32_MAX) {
    // The usual case, in 32 bits.
    const auto f = static_cast<uint32_t>(frames);
    o.digits(f / 4500, 2);
    o.ch(':');
    o.digits(f / 75 % 60, 2);
    o.ch(':');
    o.digits(f % 75, 2);
    o.eol();
    return true;
  }
  const bool negative = frames < 0;
  uint64_t g = negative ? 0 - static_cast<uint64_t>(frames) : static_cast<uint64_t>(frames);
  const uint64_t cap = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  uint64_t part[3];
  part[0] = g / 4500 < cap ? g / 4500 : cap;
  g -= part[0] * 4500;
  part[1] = g / 75 < cap ? g / 75 : cap;
  part[2] = g - part[1] * 75;
  for (int k = 0; k < 3; ++k) {
    if (k != 0) o.ch(':');
    const auto u = static_cast<uint32_t>(part[k]);
    o.digits(negative ? 0u - u : u, 2);
  }
  o.eol();
  return true;
}

// A FILE line whose name and type the reader gives back: the name in
// quotes before the type; without a type, a name without spaces in quotes,
// or a space and a word, as "FILE  x" reads " x".
bool file_line(Out &o, Str name, Str type) noexcept {
  if (!o.line(name.n + type.n + 12)) return false;
  o.lit("FILE ");
  const bool spaced = std::memchr(name.p, ' ', name.n) != nullptr;
  const sv rest = name.n != 0 ? name.view().substr(1) : sv();
  if (type.n == 0 && spaced && name.p[0] == ' ' && !rest.empty() && rest.find(' ') == sv::npos &&
      !ends_in_space(rest)) {
    o.put(name);
  } else {
    put_quoted(o, name);
    // Without a type the reader would split a name with spaces; "WAVE"
    // stands in for a type that no parse leaves out there.
    if (type.n != 0) {
      o.ch(' ');
      o.put(type);
    } else if (spaced) {
      o.lit(" WAVE");
    }
  }
  o.eol();
  return true;
}

bool write_cue(Out &o, const Store &s) noexcept {
  const CueSheet &c = s.cue;
  if (!field_line(o, "TITLE", c.title, "", 0, Quote::always) ||
      !field_line(o, "PERFORMER", c.performer, "", 0, Quote::always) ||
      !field_line(o, "SONGWRITER", c.songwriter, "", 0, Quote::always) ||
      !field_line(o, "CATALOG", c.catalog, "", 0, Quote::if_needed) ||
      !field_line(o, "CDTEXTFILE", c.cdtextfile, "", 0, Quote::always))
    return false;
  for (int k = 0; k < s.sheet_rem_count; ++k)
    if (!rem_line(o, s.rems[k], "", 0)) return false;

  const char *file = nullptr;  // the FILE in force in the text
  size_t extra = 0;
  for (int i = 0; i < s.track_count; ++i) {
    const CueTrack &t = s.tracks[i];
    // A track without a FILE after one with a FILE cannot be written: it
    // falls under that FILE. Only a result built from several sheets has
    // one.
    if (t.file != nullptr &&
        (file == nullptr || (file != t.file && (std::strcmp(file, t.file) != 0 ||
                                                 std::strcmp(track_file_type(t), file + std::strlen(file) + 1) != 0)))) {
      if (!file_line(o, str(t.file), str(track_file_type(t)))) return false;
      file = t.file;
    }
    if (!o.need(2 + 6 + 10 + 1)) return false;
    o.lit("  TRACK ");
    o.digits(static_cast<uint32_t>(t.number), 2);
    if (t.datatype != nullptr && t.datatype[0] != '\0') {
      o.ch(' ');
      if (!o.copy(t.datatype)) return false;
    }
    if (!o.need(2)) return false;
    o.eol();
    const CueTrackExtra *e = track_extra(s, extra, i);
    constexpr char in[] = "    ";
    if (e != nullptr && e->flags != nullptr) {
      const Str flags = str(e->flags);
      if (!o.line(4 + 6 + flags.n)) return false;
      o.lit("    FLAGS");
      if (flags.n != 0) {
        o.ch(' ');
        o.put(flags);
      }
      o.eol();
    }
    if (!field_line(o, "TITLE", t.title, in, 4, Quote::always) ||
        !field_line(o, "PERFORMER", t.performer, in, 4, Quote::always) ||
        (e != nullptr && (!field_line(o, "SONGWRITER", e->songwriter, in, 4, Quote::always) ||
                          !field_line(o, "ISRC", e->isrc, in, 4, Quote::if_needed))))
      return false;
    for (int k = 0; k < t.rem_count; ++k)
      if (!rem_line(o, s.rems[t.rem_begin + static_cast<size_t>(k)], in, 4)) return false;
    if (e != nullptr && e->has_pregap && !time_line(o, "PREGAP", e->pregap, in, 4)) return false;
    const CueIndex *ix = track_indices(s, t);
    for (int k = 0; k < t.index_count; ++k)
      if (!time_line(o, "INDEX", ix[k].frames, in, 4, &ix[k].number)) return false;
    if (e != nullptr && e->has_postgap && !time_line(o, "POSTGAP", e->postgap, in, 4)) return false;
  }
  return true;
}

}  // namespace

int write_playlist(Store &s, int format, unsigned flags, const char **text, size_t *length) noexcept {
  if (length != nullptr) *length = 0;
  if (text == nullptr) return KAVLO_ERR_INVALID;
  *text = nullptr;
  if ((flags & ~(write_bom | write_crlf)) != 0) return KAVLO_ERR_INVALID;
  if (format == KAVLO_FORMAT_AUTO) format = s.detected_format;
  if (format != KAVLO_FORMAT_M3U && format != KAVLO_FORMAT_STREAMING_LIST && format != KAVLO_FORMAT_CUE)
    return KAVLO_ERR_FORMAT;
  if (format == KAVLO_FORMAT_CUE && s.detected_format != KAVLO_FORMAT_CUE) return KAVLO_ERR_FORMAT;

  Out o(s, (flags & write_crlf) != 0);
  // About the size of the text, from the store's own sizes, so that a
  // large write rarely grows.
  const size_t estimate = stored_bytes(s) + static_cast<size_t>(s.item_count) * 24 + s.attr_used * 8 +
                          s.option_used * 16 + static_cast<size_t>(s.track_count) * 48 + s.index_used * 24 +
                          s.rem_used * 12 + 64;
  if (!o.need(estimate)) return KAVLO_ERR_NOMEM;
  const size_t mark = (flags & write_bom) != 0 ? 3 : 0;
  if (mark != 0) o.lit(bom);
  const bool ok = format == KAVLO_FORMAT_M3U             ? write_m3u(o, s)
                  : format == KAVLO_FORMAT_STREAMING_LIST ? write_streaming(o, s)
                                                          : write_cue(o, s);
  if (!ok) return KAVLO_ERR_NOMEM;
  // An HLS marker in the first 64 KiB (an option "#EXT-X-ENDLIST", a title
  // naming one) would have the text refused: blank lines, which the
  // reader skips before the header, push it past them.
  if (format == KAVLO_FORMAT_M3U && looks_hls(o.text() + mark, o.size() - mark)) {
    const size_t eol = o.eol_size();
    if (!o.insert(mark, hls_window, [eol](char *p) {
          for (size_t k = 0; k < hls_window; k += eol) {
            if (eol == 2) p[k] = '\r';
            p[k + eol - 1] = '\n';
          }
        }))
      return KAVLO_ERR_NOMEM;
  }
  // A text that begins with U+FEFF (a streaming-list name) would lose it to
  // the reader as a byte-order mark: a mark before it keeps it.
  if (mark == 0 && o.size() >= 3 && std::memcmp(o.text(), bom, 3) == 0 &&
      !o.insert(0, 3, [](char *p) { std::memcpy(p, bom, 3); }))
    return KAVLO_ERR_NOMEM;
  if (!o.need(1)) return KAVLO_ERR_NOMEM;
  const size_t n = o.size();
  o.ch('\0');
  *text = s.write_text;
  if (length != nullptr) *length = n;
  return KAVLO_OK;
}

}  // namespace kavlo
