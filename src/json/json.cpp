// JSON export: the store written straight into one output block, which
// grows without copying (a mapping of its own once large) and is kept for
// the next call, so that a repeated export neither allocates nor faults in
// fresh pages. Strings are validated as strict UTF-8 while they are copied;
// one invalid string refuses the whole document.
#include "json.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kavlo.h"
#include "../mem.h"
#include "../views.h"
#include "../store/locations.h"
#include "../text/utf8.h"

namespace kavlo {

namespace {

// Bytes kept free past the write limit: 16-byte stores of a block of a
// string may reach beyond the bytes that count.
constexpr size_t slack = 32;
constexpr size_t first_block = 4096;

// Two decimal digits per entry, "00" to "99".
constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

#if defined(__SSE2__)
#if defined(__SANITIZE_ADDRESS__)
#define KAVLO_JSON_WHOLE_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVLO_JSON_WHOLE_BLOCKS 0
#endif
#endif
#ifndef KAVLO_JSON_WHOLE_BLOCKS
#define KAVLO_JSON_WHOLE_BLOCKS 1
#endif

// The 16 bytes of a string from q on. A block may reach past the string's
// NUL; it is read whole only when it stays inside the page of q, a byte of
// the string, so the read cannot fault.
// Otherwise (and under AddressSanitizer, which would report the bytes past
// the string) the bytes up to the NUL are copied, and zeros follow.
inline __m128i load_block(const unsigned char *q) noexcept {
  if (KAVLO_JSON_WHOLE_BLOCKS && (reinterpret_cast<uintptr_t>(q) & 4095) <= 4096 - 16)
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
  alignas(16) unsigned char tmp[16] = {};
  for (size_t i = 0; i < 16 && q[i] != 0; ++i) tmp[i] = q[i];
  return _mm_load_si128(reinterpret_cast<const __m128i *>(tmp));
}
#endif

#if !defined(__SSE2__)
// Bytes that cannot be copied as they are: control characters, the quote,
// the backslash, and every byte of a multi-byte character (checked).
constexpr bool plain_byte(unsigned char c) noexcept { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }
#endif

// The output cursor. Every write first makes room with need(); a block
// that cannot grow ends the document.
class Writer {
 public:
  explicit Writer(Store &s) noexcept
      : s_(s), p_(s.json_text), end_(s.json_text ? s.json_text + s.json_capacity - slack : nullptr) {}

  // Room for `n` more bytes (plus the slack).
  bool need(size_t n) noexcept { return static_cast<size_t>(end_ - p_) >= n || grow(n); }

  // First size of the block: about the size of the document, from the
  // store's own sizes, so that a large export rarely grows.
  bool start(size_t estimate) noexcept { return s_.json_text != nullptr || need(estimate); }

  template <size_t N>
  bool lit(const char (&text)[N]) noexcept {
    if (!need(N - 1)) return false;
    std::memcpy(p_, text, N - 1);
    p_ += N - 1;
    return true;
  }

  bool ch(char c) noexcept {
    if (!need(1)) return false;
    *p_++ = c;
    return true;
  }

  bool num(int64_t v) noexcept {
    if (!need(21)) return false;
    uint64_t u = static_cast<uint64_t>(v);
    if (v < 0) {
      *p_++ = '-';
      u = 0 - u;
    }
    digits(u);
    return true;
  }

  // A string value or member name, quoted and escaped; false when it is
  // not strict UTF-8 or the block cannot grow. One pass, 16 bytes at a
  // time: the terminating NUL is found as one of the bytes that stop a
  // block.
  bool str(const char *text) noexcept {
    const auto *q = reinterpret_cast<const unsigned char *>(text);
    if (!need(2)) return false;
    *p_++ = '"';
    for (;;) {
#if defined(__SSE2__)
      if (!need(16)) return false;
      const __m128i v = load_block(q);
      // A signed compare below 0x20 catches NUL, the control characters
      // and every byte of 0x80 and above.
      const __m128i special =
          _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                       _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(p_), v);
      if (mask == 0) {
        q += 16;
        p_ += 16;
        continue;
      }
      const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      q += k;
      p_ += k;
#else
      while (plain_byte(*q)) {
        if (!need(1)) return false;
        *p_++ = static_cast<char>(*q++);
      }
#endif
      const unsigned char c = *q;
      if (c == 0) break;
      if (c >= 0x80) {
        // A run of multi-byte characters is checked and copied here, one
        // character at a time, before the next block.
        do {
          const size_t len = utf8_sequence(q, SIZE_MAX);
          if (len == 0 || !need(4)) return false;
          p_[0] = static_cast<char>(q[0]);
          p_[1] = static_cast<char>(q[1]);
          if (len > 2) p_[2] = static_cast<char>(q[2]);
          if (len > 3) p_[3] = static_cast<char>(q[3]);
          q += len;
          p_ += len;
        } while (*q >= 0x80);
      } else {
        if (!need(6)) return false;
        p_ = escape(p_, c);
        ++q;
      }
    }
    if (!need(1)) return false;
    *p_++ = '"';
    return true;
  }

  // ,"name":N for a count or a position: one reservation for the member
  // and its digits, which are written in place from the back.
  template <size_t N>
  bool member_count(const char (&name)[N], uint64_t v) noexcept {
    if (!need(N - 1 + 20)) return false;
    std::memcpy(p_, name, N - 1);
    p_ += N - 1;
    digits(v);
    return true;
  }

  // The decimal digits of `v` at the cursor (room for 20 reserved), written
  // in place from the back.
  void digits(uint64_t v) noexcept {
    // Digits from the bit length: t10 is log10(v) or one less.
    static constexpr uint64_t pow10[20] = {1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL,
        10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL, 100000000000ULL, 1000000000000ULL,
        10000000000000ULL, 100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL,
        100000000000000000ULL, 1000000000000000000ULL, 10000000000000000000ULL};
    const unsigned t10 = static_cast<unsigned>(64 - __builtin_clzll(v | 1)) * 1233 >> 12;
    const size_t n = v == 0 ? 1 : t10 + (v >= pow10[t10]);
    char *t = p_ + n;
    p_ = t;
    while (v >= 100) {
      t -= 2;
      std::memcpy(t, digit_pairs + (v % 100) * 2, 2);
      v /= 100;
    }
    if (v >= 10) {
      t -= 2;
      std::memcpy(t, digit_pairs + v * 2, 2);
    } else {
      *--t = static_cast<char>('0' + v);
    }
  }

  // The finished text, NUL-terminated, or NULL when it could not be made.
  const char *finish() noexcept {
    if (!need(1)) return nullptr;
    *p_ = '\0';
    return s_.json_text;
  }

 private:
  static char *escape(char *p, unsigned char c) noexcept {
    static constexpr char hex[] = "0123456789ABCDEF";
    char shorthand = 0;
    switch (c) {
      case '"': shorthand = '"'; break;
      case '\\': shorthand = '\\'; break;
      case '\b': shorthand = 'b'; break;
      case '\t': shorthand = 't'; break;
      case '\n': shorthand = 'n'; break;
      case '\f': shorthand = 'f'; break;
      case '\r': shorthand = 'r'; break;
      default: break;
    }
    *p++ = '\\';
    if (shorthand != 0) {
      *p++ = shorthand;
      return p;
    }
    std::memcpy(p, "u00", 3);
    p[3] = hex[c >> 4];
    p[4] = hex[c & 15];
    return p + 5;
  }

  bool grow(size_t n) noexcept {
    const size_t used = s_.json_text ? static_cast<size_t>(p_ - s_.json_text) : 0;
    if (n > SIZE_MAX / 4 - used - slack) return false;
    const size_t want = used + n + slack;
    size_t cap = s_.json_capacity < first_block ? first_block : s_.json_capacity;
    while (cap < want) cap = cap <= SIZE_MAX / 4 ? cap * 2 : want;
    if (cap >= large_block) cap = mapped_size(cap);  // use the whole mapping
    void *q = block_resize(s_.json_text, s_.json_capacity, cap);
    if (q == nullptr) return false;
    s_.json_text = static_cast<char *>(q);
    s_.json_capacity = cap;
    p_ = s_.json_text + used;
    end_ = s_.json_text + cap - slack;
    return true;
  }

  Store &s_;
  char *p_;
  char *end_;
};

const char *or_empty(const char *s) noexcept { return s != nullptr ? s : ""; }

// Bytes of strings the store holds, a measure of the document's size.
size_t stored_bytes(const Store &s) noexcept {
  size_t n = 0;
  for (const ArenaChunk *c = s.arena.head; c != nullptr; c = c->next) n += c->used;
  for (const ArenaChunk *c = s.arena.big; c != nullptr; c = c->next) n += c->used;
  return n;
}

// Where the full document stands in the store's arrays that run alongside
// the items and tracks: options, groups and REM lines are kept in source
// order.
struct SideCursors {
  size_t option = 0;
  size_t group = 0;
  const char *group_name = nullptr;
  size_t rem = 0;
  size_t extra = 0;
  size_t location = 0;
  size_t http = 0;
  size_t extgrp = 0;
  size_t line_high = 0;
  uint32_t high = 0;
  const ItemDefaults *defaults = nullptr;  // of the full document
};

bool present(const char *s) noexcept { return s != nullptr && s[0] != '\0'; }

// ,"name":"value" for a string that is set and not empty.
template <size_t N>
bool opt_str(Writer &w, const char (&member)[N], const char *value) noexcept {
  return !present(value) || (w.lit(member) && w.str(value));
}

// An object of key/value pairs, keys in the order given (which may repeat).
bool pairs(Writer &w, const ItemAttr *a, int count) noexcept {
  if (!w.ch('{')) return false;
  bool first = true;
  for (int k = 0; k < count; ++k) {
    if (a[k].key == nullptr || a[k].value == nullptr) continue;
    if ((!first && !w.ch(',')) || !w.str(a[k].key) || !w.ch(':') || !w.str(a[k].value)) return false;
    first = false;
  }
  return w.ch('}');
}

// "rem":[{"key":..,"value":..},...] for `count` REM lines from `from`.
bool rem_array(Writer &w, const Store &s, size_t from, int count) noexcept {
  if (!w.lit(",\"rem\":[")) return false;
  for (int k = 0; k < count; ++k) {
    const CueRem &r = s.rems[from + static_cast<size_t>(k)];
    if ((k != 0 && !w.ch(',')) || !w.lit("{\"key\":") || !w.str(r.key) || !w.lit(",\"value\":") ||
        !w.str(r.value) || !w.ch('}'))
      return false;
  }
  return w.ch(']');
}

// An array of strings.
template <size_t N>
bool string_array(Writer &w, const char (&member)[N], const char *const *strings, size_t count) noexcept {
  if (!w.lit(member)) return false;
  for (size_t k = 0; k < count; ++k)
    if ((k != 0 && !w.ch(',')) || !w.str(strings[k])) return false;
  return w.ch(']');
}

// "url", "headers", "alternates" and "label" of a location that carries
// more than its address.
bool write_location(Writer &w, const Store &s, const ItemLocation &l) noexcept {
  if (l.url != nullptr && !(w.lit(",\"url\":") && w.str(l.url))) return false;
  if (l.count != 0) {
    if (!w.lit(",\"headers\":{")) return false;
    for (uint32_t k = 0; k < l.count; ++k) {
      const HeaderPair &p = s.header_pairs[l.begin + k];
      if ((k != 0 && !w.ch(',')) || !w.str(p.key) || !w.ch(':') || !w.str(p.value)) return false;
    }
    if (!w.ch('}')) return false;
  }
  if (l.alternate_count != 0 &&
      !string_array(w, ",\"alternates\":[", s.alternates + l.alternate_begin, l.alternate_count))
    return false;
  return opt_str(w, ",\"label\":", l.label);
}

// "http" and "catchup" of an item.
bool write_http_catchup(Writer &w, const Store &s, size_t index, const ItemLocation *l, SideCursors &x) noexcept {
  HttpRange tags;
  while (x.http < s.http_used && s.http[x.http].item < index) ++x.http;
  tags.begin = s.http + x.http;
  while (x.http < s.http_used && s.http[x.http].item == index) ++x.http;
  tags.end = s.http + x.http;
  HttpSet http;
  Catchup catchup;
  item_view(s, index, l, tags, *x.defaults, &http, &catchup);
  if (http.count != 0) {
    if (!w.lit(",\"http\":{")) return false;
    for (int k = 0; k < http.count; ++k)
      if ((k != 0 && !w.ch(',')) || !w.str(http.name[k]) || !w.ch(':') || !w.str(http.value[k])) return false;
    if (!w.ch('}')) return false;
  }
  if (!catchup.any()) return true;
  if (!w.lit(",\"catchup\":{")) return false;
  bool first = true;
  for (const auto &[name, value] : {std::pair{"mode", catchup.mode}, std::pair{"source", catchup.source},
                                    std::pair{"days", catchup.days}, std::pair{"shift", catchup.shift}}) {
    if (value == nullptr) continue;
    if ((!first && !w.ch(',')) || !w.str(name) || !w.ch(':') || !w.str(value)) return false;
    first = false;
  }
  return w.ch('}');
}

// The item members of the full document: line, options, the location's
// parts, the streaming group, the #EXTGRP: groups, http and catchup.
[[gnu::always_inline]] inline bool write_item_full_members(Writer &w, const Store &s, const PlaylistItem &it,
                                                     size_t index, SideCursors &x) noexcept {
  while (x.line_high < s.line_high_used && s.line_highs[x.line_high].item <= index)
    x.high = s.line_highs[x.line_high++].high;
  if (!w.member_count(",\"line\":", static_cast<size_t>((uint64_t{x.high} << 32) | it.line))) return false;
  while (x.option < s.option_used && s.options[x.option].item < index) ++x.option;
  if (x.option < s.option_used && s.options[x.option].item == index) {
    if (!w.lit(",\"options\":[")) return false;
    for (bool first = true; x.option < s.option_used && s.options[x.option].item == index; ++x.option) {
      const ItemOption &o = s.options[x.option];
      if ((!first && !w.ch(',')) || !w.lit("{\"tag\":") || !w.str(o.tag) || !w.lit(",\"key\":") ||
          !w.str(o.key) || !w.lit(",\"value\":") || !w.str(o.value) || !w.ch('}'))
        return false;
      first = false;
    }
    if (!w.ch(']')) return false;
  }
  const ItemLocation *l = item_location(s, x.location, index);
  if (l != nullptr && !write_location(w, s, *l)) return false;
  if (s.group_used != 0) {
    while (x.group < s.group_used && s.groups[x.group].first_item <= index) x.group_name = s.groups[x.group++].name;
    if (!opt_str(w, ",\"group\":", x.group_name)) return false;
  }
  while (x.extgrp < s.extgrp_used && s.extgrps[x.extgrp].item < index) ++x.extgrp;
  if (x.extgrp < s.extgrp_used && s.extgrps[x.extgrp].item == index) {
    if (!w.lit(",\"groups\":[")) return false;
    for (bool first = true; x.extgrp < s.extgrp_used && s.extgrps[x.extgrp].item == index; ++x.extgrp) {
      if ((!first && !w.ch(',')) || !w.str(s.extgrps[x.extgrp].name)) return false;
      first = false;
    }
    if (!w.ch(']')) return false;
  }
  return write_http_catchup(w, s, index, l, x);
}

// The root members of the full document after "version" and "header".
bool write_root_full_members(Writer &w, const Store &s) noexcept {
  if (!opt_str(w, ",\"title\":", s.title)) return false;
  if (s.epg_count > 0 && !string_array(w, ",\"epg\":[", s.epg, static_cast<size_t>(s.epg_count))) return false;
  const size_t count = diagnostic_count(s);
  if (count == 0) return true;
  if (!w.lit(",\"diagnostics\":[")) return false;
  bool first = true;
  for (size_t k = 0; k < count; ++k) {
    Diagnostic d;
    if (!diagnostic_at(s, k, d)) continue;
    if ((!first && !w.ch(',')) || !w.member_count("{\"line\":", d.line) || !w.lit(",\"message\":") ||
        !w.str(d.message) || !w.lit(",\"subject\":") || !w.str(d.subject) || !w.ch('}'))
      return false;
    first = false;
  }
  return w.ch(']');
}

// The document's objects, one function each. A longer variant of the
// document (Full) appends its members at the end of the root, item, CUE and
// track objects, before each closes.
template <bool Full>
bool write_item(Writer &w, const Store &s, const PlaylistItem &it, size_t index, SideCursors &x) noexcept {
  if (!w.lit("{\"title\":") || !w.str(or_empty(it.title)) || !w.lit(",\"location\":") ||
      !w.str(or_empty(it.location)) || !w.lit(",\"duration_ms\":") || !w.num(item_duration_ms(it)))
    return false;
  const int release_date = item_release_date(s, it);
  if (release_date != 0 && !(w.lit(",\"release_date\":") && w.num(release_date))) return false;
  if (const int count = item_attr_count(s, index); count != 0) {
    if (!w.lit(",\"attrs\":{")) return false;
    const ItemAttr *a = item_attrs(s, index);
    bool first = true;
    for (int k = 0; k < count; ++k) {
      if (a[k].key == nullptr || a[k].value == nullptr) continue;
      if (!first && !w.ch(',')) return false;
      first = false;
      if (!w.str(a[k].key) || !w.ch(':') || !w.str(a[k].value)) return false;
    }
    if (!w.ch('}')) return false;
  }
  if constexpr (Full) {
    if (!write_item_full_members(w, s, it, index, x)) return false;
  }
  return w.ch('}');
}

template <bool Full>
bool write_track(Writer &w, const Store &s, const CueTrack &t, int index, SideCursors &x) noexcept {
  if (!w.lit("{\"number\":") || !w.num(t.number)) return false;
  if (t.title != nullptr && !(w.lit(",\"title\":") && w.str(t.title))) return false;
  if (t.file != nullptr && !(w.lit(",\"file\":") && w.str(t.file))) return false;
  if (!w.lit(",\"indices\":[")) return false;
  const CueIndex *ix = track_indices(s, t);
  for (int k = 0; k < t.index_count; ++k) {
    // Milliseconds as the store's accessor computes them, taken as a
    // 32-bit value.
    const int64_t ms = ix[k].frames * 1000 / 75;
    if ((k != 0 && !w.ch(',')) || !w.lit("{\"n\":") || !w.num(ix[k].number) || !w.lit(",\"frames\":") ||
        !w.num(ix[k].frames) || !w.lit(",\"ms\":") ||
        !w.num(static_cast<int32_t>(static_cast<uint32_t>(ms))) || !w.ch('}'))
      return false;
  }
  if (!w.ch(']')) return false;
  if constexpr (Full) {
    const CueTrackRare *e = track_rare(s, x.extra, index);
    if (!opt_str(w, ",\"performer\":", t.performer) ||
        !opt_str(w, ",\"songwriter\":", e ? e->songwriter : nullptr) ||
        !opt_str(w, ",\"isrc\":", e ? e->isrc : nullptr) || !opt_str(w, ",\"flags\":", e ? e->flags : nullptr) ||
        !opt_str(w, ",\"datatype\":", t.datatype))
      return false;
    if (e != nullptr) {
      if (e->has_pregap && !(w.lit(",\"pregap\":") && w.num(e->pregap))) return false;
      if (e->has_postgap && !(w.lit(",\"postgap\":") && w.num(e->postgap))) return false;
    }
    if (t.rem_count > 0 && !rem_array(w, s, x.rem, t.rem_count)) return false;
    x.rem += static_cast<size_t>(t.rem_count);
  }
  return w.ch('}');
}

template <bool Full>
bool write_cue(Writer &w, const Store &s, SideCursors &x) noexcept {
  if (!w.lit(",\"cue\":{")) return false;
  bool first = true;
  if (s.cue.title != nullptr) {
    if (!w.lit("\"title\":") || !w.str(s.cue.title)) return false;
    first = false;
  }
  if (s.cue.performer != nullptr) {
    if ((!first && !w.ch(',')) || !w.lit("\"performer\":") || !w.str(s.cue.performer)) return false;
    first = false;
  }
  if ((!first && !w.ch(',')) || !w.lit("\"tracks\":[")) return false;
  // The sheet's REM lines come first in the store, then each track's.
  x.rem = static_cast<size_t>(s.sheet_rem_count);
  for (int i = 0; i < s.track_count; ++i)
    if ((i != 0 && !w.ch(',')) || !write_track<Full>(w, s, s.tracks[i], i, x)) return false;
  if (!w.ch(']')) return false;
  if constexpr (Full) {
    if (!opt_str(w, ",\"songwriter\":", s.cue.songwriter) || !opt_str(w, ",\"catalog\":", s.cue.catalog) ||
        !opt_str(w, ",\"cdtextfile\":", s.cue.cdtextfile))
      return false;
    if (s.sheet_rem_count > 0 && !rem_array(w, s, 0, s.sheet_rem_count)) return false;
  }
  return w.ch('}');
}

template <bool Full>
bool write_document(Writer &w, const Store &s) noexcept {
  if (!w.lit("{\"format\":") || !w.str(format_name(s.detected_format)) || !w.lit(",\"item_count\":") ||
      !w.num(s.item_count) || !w.lit(",\"imdb_date_playlist\":") ||
      !(s.imdb_date_playlist != 0 ? w.lit("true") : w.lit("false")) || !w.lit(",\"items\":["))
    return false;
  SideCursors x;
  // The header's defaults only in the frame of the full document: a larger
  // frame made the ordinary export of a CUE sheet about 10% slower.
  std::conditional_t<Full, ItemDefaults, char> defaults{};
  if constexpr (Full) {
    header_defaults(s, defaults);
    x.defaults = &defaults;
  }
  for (int i = 0; i < s.item_count; ++i)
    if ((i != 0 && !w.ch(',')) || !write_item<Full>(w, s, s.items[i], static_cast<size_t>(i), x))
      return false;
  if (!w.ch(']')) return false;
  if (s.detected_format == KAVLO_FORMAT_CUE && !write_cue<Full>(w, s, x)) return false;
  if (s.warning_count > 0) {
    if (!w.lit(",\"warnings\":[")) return false;
    bool first = true;
    for (int i = 0; i < s.warning_count; ++i) {
      if (s.warnings[i] == nullptr) continue;
      if ((!first && !w.ch(',')) || !w.str(s.warnings[i])) return false;
      first = false;
    }
    if (!w.ch(']')) return false;
  }
  if constexpr (Full) {
    if (!w.lit(",\"version\":") || !w.str(KAVLO_VERSION)) return false;
    if (s.header_attr_count > 0 &&
        !(w.lit(",\"header\":") && pairs(w, s.attrs + s.header_attr_begin, s.header_attr_count)))
      return false;
    if (!write_root_full_members(w, s)) return false;
  }
  return w.ch('}');
}

template <bool Full>
const char *write_json(Store &s) noexcept {
  Writer w(s);
  // Strings of CUE items are shared with the tracks and written twice.
  size_t estimate = stored_bytes(s) + static_cast<size_t>(s.item_count) * 64 + s.attr_used * 8 +
                    static_cast<size_t>(s.track_count) * 48 + s.index_used * 40 + 256;
  if (s.detected_format == KAVLO_FORMAT_CUE) estimate += stored_bytes(s);
  if (Full)
    estimate += static_cast<size_t>(s.item_count) * 16 + s.option_used * 32 + s.rem_used * 24 +
                static_cast<size_t>(s.track_count) * 64 + s.http_used * 24 + s.extgrp_used * 8 +
                diagnostic_count(s) * 64;
  if (!w.start(estimate) || !write_document<Full>(w, s)) return "{}";
  const char *text = w.finish();
  return text != nullptr ? text : "{}";
}

}  // namespace

const char *result_json(Store &s) noexcept { return write_json<false>(s); }

const char *result_json_full(Store &s) noexcept { return write_json<true>(s); }

}  // namespace kavlo
