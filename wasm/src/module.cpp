// The WebAssembly module's own side: one playlist handle parses the bytes
// JavaScript wrote into the heap, and its result is laid out as tables
// (numbers in arrays, strings back to back in chunks) that the JavaScript
// side copies out and turns into the result objects.
//
// The strings are numbered in the order the result builder (the Node.js
// package's lib/result.js, shared by both packages) reads them:
//   per item: title, location, the values of its attributes (repeated keys
//     skipped), tag, key and value of each option, url (item mask bit 0),
//     the values of its headers (repeated keys skipped), its alternates,
//     label (bit 2), group (bit 1), groups, the values of its request
//     headers (http), its catch-up mode, source, days and shift (bits 3 to
//     6);
//   the values of the #EXTM3U line's attributes;
//   the sheet's fields (mask bits 0 to 4: title, performer, songwriter,
//     catalog, cdtextfile), key and value of each of its REM lines;
//   per track: its fields (mask bits 0 to 6: title, performer, songwriter,
//     isrc, file, flags, datatype), key and value of each REM line;
//   the warnings; the title (scalar has_title), the EPG addresses, message
//     and subject of each diagnostic.
// The key of every pair, in string order, is an id into a table of
// distinct keys, 0xffffffff for a key its object already had.
#include <emscripten/emscripten.h>

#include <kavlo.h>

#include "plan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

namespace {

constexpr uint32_t repeated_key = UINT32_MAX;

// A growable array of plain values on the C heap; push() and grow() say
// false when memory runs out, the array then unchanged.
template <typename T>
struct Array {
  T *data = nullptr;
  uint32_t size = 0, cap = 0;

  bool grow(size_t need) {
    if (need <= cap) return true;
    size_t n = cap ? cap : 64;
    while (n < need) n *= 2;
    if (n > UINT32_MAX / sizeof(T)) n = UINT32_MAX / sizeof(T);
    if (n < need) return false;
    void *p = std::realloc(data, n * sizeof(T));
    if (p == nullptr) return false;
    data = static_cast<T *>(p);
    cap = static_cast<uint32_t>(n);
    return true;
  }
  bool push(T v) {
    if (size == cap && !grow(size_t{size} + 1)) return false;
    data[size++] = v;
    return true;
  }
  bool append(const T *p, size_t n) {
    if (!grow(size_t{size} + n)) return false;
    if (n) std::memcpy(data + size, p, n * sizeof(T));
    size += static_cast<uint32_t>(n);
    return true;
  }
  void clear() { size = 0; }
  void release() {
    std::free(data);
    *this = Array();
  }
};

// The tables, in the order of `Tables::views`; index.js names them in the
// same order.
enum Table {
  t_bytes,          // every string, back to back, as UTF-8
  t_utf16,          // the chunks that are not ASCII, as UTF-16
  t_chunk_offsets,  // per chunk: its offset in t_bytes (ASCII) or t_utf16 (in code units)
  t_chunk_sizes,    // per chunk: its length in code units
  t_chunk_wide,     // per chunk: 1 when it is in t_utf16
  t_text_first,     // per chunk: its first string; then the string count
  t_ends,           // per string: its end in its chunk, in code units
  t_refs,           // per string: > 0 kept as repeat n, < 0 repeat n, 0 neither
  t_key_bytes,      // the distinct keys, back to back, as UTF-8
  t_key_ends,       // per key: its end in t_key_bytes
  t_key_ids,        // per pair: the id of its key, or repeated_key
  t_durations,
  t_release_dates,
  t_lines,
  t_item_masks,
  t_attr_counts,
  t_option_counts,
  t_header_counts,
  t_alternate_counts,
  t_group_counts,
  t_http_counts,
  t_track_numbers,
  t_track_masks,
  t_pregaps,
  t_postgaps,
  t_track_rem_counts,
  t_index_counts,
  t_index_numbers,
  t_index_frames,
  t_index_ms,
  t_diagnostic_lines,
  table_count
};

// Numbers of the result, after the tables' views in `Tables`.
enum Scalar {
  s_format,
  s_imdb,
  s_cue,
  s_sheet_mask,
  s_sheet_rem_count,
  s_warning_count,
  s_repeat_count,
  s_header_attr_count,
  s_has_title,
  s_epg_count,
  scalar_count
};

struct View {
  uint32_t ptr, count;
};

// What JavaScript reads after a parse: a view per table, then the numbers.
struct Tables {
  View views[table_count];
  int32_t scalars[scalar_count];
};

// Ids of distinct keys: an open-addressing table over the key texts.
// Lists repeat the same keys in the same order, so the key last seen at
// each position is tried first.
class Keys {
 public:
  Array<char> bytes;
  Array<uint32_t> ends;

  Keys() {
    for (auto &s : recent_) s = repeated_key;
  }

  void clear() {
    bytes.clear();
    ends.clear();
    for (uint32_t i = 0; i < slots_.size; ++i) slots_.data[i] = repeated_key;
    for (auto &s : recent_) s = repeated_key;
  }
  void release() {
    bytes.release();
    ends.release();
    slots_.release();
  }

  // The id of `key`, repeated_key when memory ran out (`ok` then false).
  uint32_t id(const char *key, int position, bool &ok) {
    const std::string_view k(key ? key : "");
    if (position >= 0 && position < 64 && recent_[position] != repeated_key && text(recent_[position]) == k)
      return recent_[position];
    if (ends.size * 2 >= slots_.size && !rehash(slots_.size ? slots_.size * 2 : 64)) {
      ok = false;
      return repeated_key;
    }
    const uint32_t mask = slots_.size - 1;
    uint32_t at = static_cast<uint32_t>(std::hash<std::string_view>{}(k)) & mask;
    while (slots_.data[at] != repeated_key) {
      if (text(slots_.data[at]) == k) return remember(position, slots_.data[at]);
      at = (at + 1) & mask;
    }
    const uint32_t id = ends.size;
    if (!bytes.append(k.data(), k.size()) || !ends.push(bytes.size)) {
      ok = false;
      return repeated_key;
    }
    slots_.data[at] = id;
    return remember(position, id);
  }

 private:
  std::string_view text(uint32_t id) const {
    const uint32_t from = id == 0 ? 0 : ends.data[id - 1];
    return std::string_view(bytes.data + from, ends.data[id] - from);
  }
  uint32_t remember(int position, uint32_t id) {
    if (position >= 0 && position < 64) recent_[position] = id;
    return id;
  }
  bool rehash(uint32_t n) {
    Array<uint32_t> fresh;
    if (!fresh.grow(n)) return false;
    fresh.size = n;
    for (uint32_t i = 0; i < n; ++i) fresh.data[i] = repeated_key;
    for (uint32_t id = 0; id < ends.size; ++id) {
      uint32_t at = static_cast<uint32_t>(std::hash<std::string_view>{}(text(id))) & (n - 1);
      while (fresh.data[at] != repeated_key) at = (at + 1) & (n - 1);
      fresh.data[at] = id;
    }
    slots_.release();
    slots_ = fresh;
    return true;
  }

  Array<uint32_t> slots_;
  uint32_t recent_[64];
};

// Marks the second and later of equal ids in one object (at most 64 keys:
// the library's limit for attributes and headers).
class FirstWins {
 public:
  void reset() { count_ = 0; }
  uint32_t take(uint32_t id) {
    if (id == repeated_key) return id;
    for (int i = 0; i < count_; ++i)
      if (seen_[i] == id) return repeated_key;
    if (count_ < 64) seen_[count_++] = id;
    return id;
  }

 private:
  uint32_t seen_[64];
  int count_ = 0;
};

// Strings go to JavaScript in chunks of about this many bytes, one string
// each, which the result builder cuts with slice(); a longer string has a
// chunk of its own.
constexpr uint32_t chunk_bytes = uint32_t{1} << 20;
// Short strings that repeat (group names, tags, a title again in tvg-name)
// are sent once: each string JavaScript need not make is time its garbage
// collector saves.
constexpr size_t max_repeat_len = 64;
constexpr uint32_t seen_size = uint32_t{1} << 14, seen_probes = 4;

struct Seen {
  uint32_t hash, id_plus_one;
};

class Producer {
 public:
  Tables tables = {};

  void release() {
    for_each_array([](auto &a) { a.release(); });
    keys_.release();
    tables = {};
  }

  // Lays out the result held by `p`. False when memory ran out.
  bool produce(const kavlo_playlist *p) {
    for_each_array([](auto &a) { a.clear(); });
    keys_.clear();
    for (auto &s : seen_) s = Seen{0, 0};
    repeat_count_ = 0;
    tables = {};
    ok_ = true;
    const int format = kavlo_playlist_detected_format(p);
    int32_t *sc = tables.scalars;
    sc[s_format] = format;
    sc[s_imdb] = kavlo_playlist_m3u_is_imdb_date_playlist(p);
    items(p);
    const int header = kavlo_playlist_header_attr_count(p);
    pairs(header, [p](int a) { return kavlo_playlist_header_attr_key(p, a); },
          [p](int a) { return kavlo_playlist_header_attr_value(p, a); });
    sc[s_header_attr_count] = header;
    if (format == KAVLO_FORMAT_CUE) {
      sc[s_cue] = 1;
      sheet(p);
    }
    const int warnings = kavlo_playlist_warning_count(p);
    for (int w = 0; w < warnings; ++w) add(kavlo_playlist_warning(p, w));
    sc[s_warning_count] = warnings;
    sc[s_has_title] = present(kavlo_playlist_title(p)) ? 1 : 0;
    const int epg = kavlo_playlist_epg_count(p);
    for (int e = 0; e < epg; ++e) add(kavlo_playlist_epg(p, e));
    sc[s_epg_count] = epg;
    const int diagnostics = kavlo_playlist_diagnostic_count(p);
    for (int d = 0; d < diagnostics; ++d) {
      put(diagnostic_lines_, static_cast<double>(kavlo_playlist_diagnostic_line(p, d)));
      add(kavlo_playlist_diagnostic_message(p, d));
      add(kavlo_playlist_diagnostic_subject(p, d));
    }
    sc[s_repeat_count] = repeat_count_;
    cut();
    if (!ok_) return false;
    publish();
    return true;
  }

 private:
  template <typename F>
  void for_each_array(F f) {
    f(bytes_), f(utf16_), f(chunk_offsets_), f(chunk_sizes_), f(chunk_wide_), f(text_first_), f(ends_);
    f(byte_ends_), f(refs_), f(key_ids_), f(durations_), f(release_dates_), f(lines_), f(item_masks_);
    f(attr_counts_), f(option_counts_), f(header_counts_), f(track_numbers_), f(track_masks_), f(pregaps_);
    f(postgaps_), f(track_rem_counts_), f(index_counts_), f(index_numbers_), f(index_frames_), f(index_ms_);
    f(alternate_counts_), f(group_counts_), f(http_counts_), f(diagnostic_lines_);
  }

  template <typename T>
  void put(Array<T> &a, T v) {
    if (!a.push(v)) ok_ = false;
  }

  // The next string (NULL as ""). A short one equal to one sent before,
  // found by its hash, becomes a reference to it.
  void add(const char *s) {
    const size_t len = s ? std::strlen(s) : 0;
    int32_t ref = 0;
    if (len - 1 < max_repeat_len) {
      const std::string_view text(s, len);
      const auto hash = static_cast<uint32_t>(std::hash<std::string_view>{}(text));
      for (uint32_t probe = 0; probe < seen_probes; ++probe) {
        Seen &slot = seen_[(hash + probe) & (seen_size - 1)];
        if (slot.id_plus_one == 0) {
          slot = Seen{hash, byte_ends_.size + 1};
          break;
        }
        if (slot.hash != hash) continue;
        const uint32_t j = slot.id_plus_one - 1;
        const uint32_t from = j == 0 ? 0 : byte_ends_.data[j - 1];
        if (std::string_view(bytes_.data + from, byte_ends_.data[j] - from) == text) {
          if (refs_.data[j] == 0) refs_.data[j] = ++repeat_count_;
          ref = -refs_.data[j];
          break;
        }
      }
    }
    if (ref == 0 && !bytes_.append(s, len)) ok_ = false;
    put(byte_ends_, bytes_.size);
    put(refs_, ref);
  }

  // `count` keys and values of one object: the key ids go to the key
  // table (repeated_key for a key the object already had, whose value is
  // not sent).
  // Returns whether a key is one the catch-up fields are read from.
  template <typename KeyOf, typename ValueOf>
  bool pairs(int count, KeyOf key_of, ValueOf value_of) {
    first_.reset();
    bool catchup = false;
    for (int a = 0; a < count; ++a) {
      const char *key = key_of(a);
      catchup = catchup || catchup_key(key);
      const uint32_t id = first_.take(keys_.id(key, a, ok_));
      put(key_ids_, id);
      if (id != repeated_key) add(value_of(a));
    }
    return catchup;
  }

  static bool catchup_key(const char *key) {
    if (key == nullptr) return false;
    const size_t n = std::strlen(key);
    if (n != 7 && n != 9 && n != 12 && n != 14) return false;
    char folded[15];
    for (size_t i = 0; i < n; ++i) folded[i] = key[i] >= 'A' && key[i] <= 'Z' ? static_cast<char>(key[i] + 32) : key[i];
    const std::string_view k(folded, n);
    return k == "catchup" || k == "tvg-shift" || k == "catchup-days" || k == "catchup-source";
  }

  // Whether the field is set (to any text, "" too, as the accessors tell
  // it); its text goes to the strings when it is.
  bool present(const char *s) {
    if (s == nullptr) return false;
    add(s);
    return true;
  }

  void items(const kavlo_playlist *p) {
    const auto n = static_cast<size_t>(kavlo_playlist_item_count(p));
    if (!durations_.grow(n) || !refs_.grow(n * 3) || !byte_ends_.grow(n * 3)) ok_ = false;
    // The catch-up fields come from the item's attributes, else the
    // #EXTM3U line's: only an item or header with such a key needs asking.
    bool header_catchup = false;
    for (int a = 0, count = kavlo_playlist_header_attr_count(p); a < count; ++a)
      header_catchup = header_catchup || catchup_key(kavlo_playlist_header_attr_key(p, a));
    for (int i = 0; i < static_cast<int>(n) && ok_; ++i) {
      add(kavlo_playlist_item_title(p, i));
      add(kavlo_playlist_item_location(p, i));
      const int attrs = kavlo_playlist_item_attr_count(p, i);
      const bool catchup = pairs(attrs, [p, i](int a) { return kavlo_playlist_item_attr_key(p, i, a); },
            [p, i](int a) { return kavlo_playlist_item_attr_value(p, i, a); });
      const int options = kavlo_playlist_item_option_count(p, i);
      for (int o = 0; o < options; ++o) {
        add(kavlo_playlist_item_option_tag(p, i, o));
        add(kavlo_playlist_item_option_key(p, i, o));
        add(kavlo_playlist_item_option_value(p, i, o));
      }
      uint8_t mask = present(kavlo_playlist_item_url(p, i)) ? 1 : 0;
      const int headers = kavlo_playlist_item_header_count(p, i);
      pairs(headers, [p, i](int h) { return kavlo_playlist_item_header_key(p, i, h); },
            [p, i](int h) { return kavlo_playlist_item_header_value(p, i, h); });
      const int alternates = kavlo_playlist_item_alternate_count(p, i);
      for (int a = 0; a < alternates; ++a) add(kavlo_playlist_item_alternate(p, i, a));
      if (present(kavlo_playlist_item_label(p, i))) mask |= 4;
      if (present(kavlo_playlist_item_group(p, i))) mask |= 2;
      const int groups = kavlo_playlist_item_group_count(p, i);
      for (int g = 0; g < groups; ++g) add(kavlo_playlist_item_group_at(p, i, g));
      const int http = kavlo_playlist_item_http_count(p, i);
      pairs(http, [p, i](int h) { return kavlo_playlist_item_http_key(p, i, h); },
            [p, i](int h) { return kavlo_playlist_item_http_value(p, i, h); });
      if (catchup || header_catchup) {
        static constexpr const char *fields[] = {"mode", "source", "days", "shift"};
        for (int f = 0; f < 4; ++f)
          if (present(kavlo_playlist_item_catchup(p, i, fields[f]))) mask |= static_cast<uint8_t>(8 << f);
      }
      put(item_masks_, mask);
      put(alternate_counts_, static_cast<uint32_t>(alternates));
      put(group_counts_, static_cast<uint32_t>(groups));
      put(http_counts_, static_cast<uint32_t>(http));
      put(durations_, static_cast<int32_t>(kavlo_playlist_item_duration_ms(p, i)));
      put(release_dates_, static_cast<int32_t>(kavlo_playlist_item_release_date(p, i)));
      put(lines_, static_cast<double>(kavlo_playlist_item_line(p, i)));
      put(attr_counts_, static_cast<uint32_t>(attrs));
      put(option_counts_, static_cast<uint32_t>(options));
      put(header_counts_, static_cast<uint32_t>(headers));
    }
  }

  void sheet(const kavlo_playlist *p) {
    static constexpr const char *sheet_fields[] = {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE"};
    static constexpr const char *track_fields[] = {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS",
                                                   "DATATYPE"};
    int32_t mask = 0;
    for (int f = 0; f < 5; ++f)
      if (present(kavlo_playlist_cue_meta(p, sheet_fields[f]))) mask |= 1 << f;
    const int sheet_rems = kavlo_playlist_cue_rem_count(p);
    for (int r = 0; r < sheet_rems; ++r) {
      add(kavlo_playlist_cue_rem_key(p, r));
      add(kavlo_playlist_cue_rem_value(p, r));
    }
    tables.scalars[s_sheet_mask] = mask;
    tables.scalars[s_sheet_rem_count] = sheet_rems;
    const int tracks = kavlo_playlist_cue_track_count(p);
    for (int t = 0; t < tracks && ok_; ++t) {
      uint8_t bits = 0;
      for (int f = 0; f < 7; ++f)
        if (present(kavlo_playlist_cue_track_field(p, t, track_fields[f])))
          bits |= static_cast<uint8_t>(1u << f);
      const int rems = kavlo_playlist_cue_track_rem_count(p, t);
      for (int r = 0; r < rems; ++r) {
        add(kavlo_playlist_cue_track_rem_key(p, t, r));
        add(kavlo_playlist_cue_track_rem_value(p, t, r));
      }
      const int indices = kavlo_playlist_cue_track_index_count(p, t);
      for (int x = 0; x < indices; ++x) {
        put(index_numbers_, static_cast<int32_t>(kavlo_playlist_cue_track_index_number(p, t, x)));
        put(index_frames_, static_cast<double>(kavlo_playlist_cue_track_index_frames(p, t, x)));
        put(index_ms_, static_cast<int32_t>(kavlo_playlist_cue_track_index_ms(p, t, x)));
      }
      put(track_numbers_, static_cast<int32_t>(kavlo_playlist_cue_track_number(p, t)));
      put(track_masks_, bits);
      put(pregaps_, static_cast<double>(kavlo_playlist_cue_track_pregap(p, t)));
      put(postgaps_, static_cast<double>(kavlo_playlist_cue_track_postgap(p, t)));
      put(track_rem_counts_, static_cast<uint32_t>(rems));
      put(index_counts_, static_cast<uint32_t>(indices));
    }
  }

  static bool all_ascii(const char *p, size_t n) {
    uint64_t acc = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      acc |= w;
    }
    for (; i < n; ++i) acc |= static_cast<unsigned char>(p[i]);
    return (acc & 0x8080808080808080ull) == 0;
  }

  // Appends the UTF-16 form of `n` bytes of UTF-8. A string of the text the
  // library kept byte for byte (no encoding read it) is not UTF-8: each
  // maximal ill-formed part becomes one U+FFFD, as TextDecoder makes it.
  void put_utf16(const unsigned char *s, size_t n) {
    if (!utf16_.grow(size_t{utf16_.size} + n)) {  // never more units than bytes
      ok_ = false;
      return;
    }
    char16_t *out = utf16_.data + utf16_.size;
    for (size_t i = 0; i < n;) {
      const unsigned c = s[i];
      if (c < 0x80) {
        *out++ = static_cast<char16_t>(c);
        ++i;
        continue;
      }
      unsigned need = 0, cp = 0, lo = 0x80, hi = 0xBF;
      if (c >= 0xC2 && c <= 0xDF) {
        need = 1, cp = c & 0x1F;
      } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2, cp = c & 0x0F, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
      } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3, cp = c & 0x07, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
      }
      size_t j = i + 1;
      for (unsigned got = 0; got < need; ++got, ++j, lo = 0x80, hi = 0xBF) {
        if (j >= n || s[j] < lo || s[j] > hi) break;
        cp = (cp << 6) | (s[j] & 0x3F);
      }
      if (need == 0 || j - i != need + 1) {
        *out++ = u'\uFFFD';
        i = need == 0 ? i + 1 : j;
        continue;
      }
      if (cp >= 0x10000) {
        *out++ = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      } else {
        *out++ = static_cast<char16_t>(cp);
      }
      i = j;
    }
    utf16_.size = static_cast<uint32_t>(out - utf16_.data);
  }

  // Splits the strings into chunks: ASCII ones stay where they are, the
  // others are written out as UTF-16, and each string's end is counted in
  // its chunk's code units.
  void cut() {
    if (!ok_) return;
    const uint32_t count = byte_ends_.size;
    if (!ends_.grow(count)) {
      ok_ = false;
      return;
    }
    ends_.size = count;
    uint32_t k = 0;
    while (k < count && ok_) {
      const uint32_t begin = k == 0 ? 0 : byte_ends_.data[k - 1];
      uint32_t last = k + 1;  // one past the chunk's last string
      while (last < count && byte_ends_.data[last] - begin <= chunk_bytes) ++last;
      const uint32_t end = byte_ends_.data[last - 1];
      const bool ascii = all_ascii(bytes_.data + begin, end - begin);
      put(text_first_, k);
      put(chunk_wide_, static_cast<uint8_t>(ascii ? 0 : 1));
      if (ascii) {
        put(chunk_offsets_, begin);
        put(chunk_sizes_, end - begin);
        for (uint32_t j = k; j < last; ++j) ends_.data[j] = byte_ends_.data[j] - begin;
      } else {
        const uint32_t start = utf16_.size;
        uint32_t from = begin;
        for (uint32_t j = k; j < last && ok_; ++j) {
          put_utf16(reinterpret_cast<const unsigned char *>(bytes_.data) + from, byte_ends_.data[j] - from);
          from = byte_ends_.data[j];
          ends_.data[j] = utf16_.size - start;
        }
        put(chunk_offsets_, start);
        put(chunk_sizes_, utf16_.size - start);
      }
      k = last;
    }
    put(text_first_, count);
  }

  template <typename T>
  void view(Table t, const Array<T> &a) {
    tables.views[t] = View{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(a.data)), a.size};
  }

  void publish() {
    view(t_bytes, bytes_);
    view(t_utf16, utf16_);
    view(t_chunk_offsets, chunk_offsets_);
    view(t_chunk_sizes, chunk_sizes_);
    view(t_chunk_wide, chunk_wide_);
    view(t_text_first, text_first_);
    view(t_ends, ends_);
    view(t_refs, refs_);
    view(t_key_bytes, keys_.bytes);
    view(t_key_ends, keys_.ends);
    view(t_key_ids, key_ids_);
    view(t_durations, durations_);
    view(t_release_dates, release_dates_);
    view(t_lines, lines_);
    view(t_item_masks, item_masks_);
    view(t_attr_counts, attr_counts_);
    view(t_option_counts, option_counts_);
    view(t_header_counts, header_counts_);
    view(t_alternate_counts, alternate_counts_);
    view(t_group_counts, group_counts_);
    view(t_http_counts, http_counts_);
    view(t_track_numbers, track_numbers_);
    view(t_track_masks, track_masks_);
    view(t_pregaps, pregaps_);
    view(t_postgaps, postgaps_);
    view(t_track_rem_counts, track_rem_counts_);
    view(t_index_counts, index_counts_);
    view(t_index_numbers, index_numbers_);
    view(t_index_frames, index_frames_);
    view(t_index_ms, index_ms_);
    view(t_diagnostic_lines, diagnostic_lines_);
  }

  bool ok_ = true;
  Array<char> bytes_;
  Array<char16_t> utf16_;
  Array<uint32_t> chunk_offsets_, chunk_sizes_, text_first_, ends_, byte_ends_;
  Array<uint8_t> chunk_wide_;
  Array<int32_t> refs_;
  int32_t repeat_count_ = 0;
  Seen seen_[seen_size] = {};
  Keys keys_;
  FirstWins first_;
  Array<uint32_t> key_ids_;
  Array<int32_t> durations_, release_dates_;
  Array<double> lines_;
  Array<uint8_t> item_masks_;
  Array<uint32_t> attr_counts_, option_counts_, header_counts_, alternate_counts_, group_counts_, http_counts_;
  Array<int32_t> track_numbers_;
  Array<uint8_t> track_masks_;
  Array<double> pregaps_, postgaps_;
  Array<uint32_t> track_rem_counts_, index_counts_;
  Array<int32_t> index_numbers_, index_ms_;
  Array<double> index_frames_, diagnostic_lines_;
};

kavlo_playlist *g_playlist = nullptr;
Producer g_producer;

// The text of the last write, and where a built list was refused.
struct Written {
  uint32_t text, length;
  int32_t item;  // -1 for the #EXTM3U line
  uint32_t what, name;
};
Written g_written = {};
kavlo_playlist *g_built = nullptr;  // the handle of the last built list

int written(kavlo_playlist *p, int format, unsigned flags) {
  const char *text = nullptr;
  size_t length = 0;
  const int rc = kavlo_playlist_write(p, format, flags, &text, &length);
  g_written = Written{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text)), static_cast<uint32_t>(length), -1,
                      0, 0};
  return rc;
}

}  // namespace

extern "C" {

// The module's one playlist, made on first use; NULL without memory.
EMSCRIPTEN_KEEPALIVE kavlo_playlist *kavlo_wasm_playlist() {
  if (g_playlist == nullptr) g_playlist = kavlo_playlist_new();
  return g_playlist;
}

// Parses `len` bytes at `text` into the module's playlist and, when that
// works and `tables` is not 0, lays out its result (kavlo_wasm_tables()).
// Returns the status; the error text is kavlo_playlist_last_error() of
// kavlo_wasm_playlist().
EMSCRIPTEN_KEEPALIVE int kavlo_wasm_parse(const char *text, size_t len, int format, const char *encoding,
                                          int tables) {
  kavlo_playlist *p = kavlo_wasm_playlist();
  if (p == nullptr) return KAVLO_ERR_NOMEM;
  int rc = kavlo_playlist_parse(p, text, len, format, encoding);
  if (rc == KAVLO_OK && tables != 0 && !g_producer.produce(p)) {
    kavlo_playlist_clear(p);
    g_producer.release();
    rc = KAVLO_ERR_NOMEM;
  }
  return rc;
}

// The tables of the last parse that worked (see Tables).
EMSCRIPTEN_KEEPALIVE const Tables *kavlo_wasm_tables() { return &g_producer.tables; }

// Writes the module's playlist in `format` with `flags`
// (kavlo_playlist_write()); the text is kavlo_wasm_written()'s.
EMSCRIPTEN_KEEPALIVE int kavlo_wasm_write(int format, unsigned flags) {
  kavlo_playlist *p = kavlo_wasm_playlist();
  return p == nullptr ? KAVLO_ERR_NOMEM : written(p, format, flags);
}

// Builds a list from the layout of plan.h (the result builder's
// lib/write.js makes it) in a handle of its own and writes it. The text,
// or where the builder refused the list, is kavlo_wasm_written()'s.
EMSCRIPTEN_KEEPALIVE int kavlo_wasm_build(const char *text, size_t len, const uint32_t *shape, size_t shape_len,
                                          const double *durations, size_t count, int format, unsigned flags) {
  kavlo_playlist_free(g_built);
  g_built = kavlo_playlist_new();
  g_written = Written{0, 0, -1, 0, 0};
  if (g_built == nullptr) return KAVLO_ERR_NOMEM;
  kavlo_plan::Refusal why;
  const int rc = kavlo_plan::build(g_built, text, len, shape, shape_len, durations, count, why);
  if (rc == KAVLO_OK) return written(g_built, format, flags);
  g_written.item = static_cast<int32_t>(why.item);
  g_written.what = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(why.what));
  g_written.name = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(why.name));
  return rc;
}

EMSCRIPTEN_KEEPALIVE const Written *kavlo_wasm_written() { return &g_written; }

// Gives back what the module keeps for the next parse: the playlist, the
// tables and the last built list.
EMSCRIPTEN_KEEPALIVE void kavlo_wasm_release() {
  kavlo_playlist_free(g_playlist);
  g_playlist = nullptr;
  kavlo_playlist_free(g_built);
  g_built = nullptr;
  g_written = {};
  g_producer.release();
}

EMSCRIPTEN_KEEPALIVE void *kavlo_wasm_alloc(size_t n) { return std::malloc(n == 0 ? 1 : n); }
EMSCRIPTEN_KEEPALIVE void kavlo_wasm_free(void *p) { std::free(p); }

}  // extern "C"
