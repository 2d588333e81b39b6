// Node-API addon over kavlo's playlist handles.
//
// Each parse has a handle of its own: it parses, and its result is read
// through the accessors into flat tables (Tables below), and is freed on
// the thread that parsed, whose next parse reuses its memory. Writing a
// result back as playlist text parses its input again (write_again).
// parseAsync and parseFileAsync do all of that on a thread of libuv's pool,
// so several run at once; the main thread only turns the tables into
// JavaScript values, which lib/result.js then makes into the result
// objects (the shape of the tables is described there).
#include <napi.h>

#include <kavlo.h>

#include "plan.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Marks a key that the object already has: the first value wins, as with
// the library's lookup by key, and the value is left out.
constexpr uint32_t repeated_key = UINT32_MAX;

// A run of strings that becomes one JavaScript string: its UTF-8 bytes, and
// as UTF-16 when they are not all ASCII.
struct Chunk {
  std::string bytes;
  bool ascii = true;
  std::u16string utf16;
};

struct HandleFree {
  void operator()(kavlo_playlist *p) const { kavlo_playlist_free(p); }
};
using Handle = std::unique_ptr<kavlo_playlist, HandleFree>;

// The outcome of one parse: what lib/result.js reads, built on any thread.
struct Tables {
  int status = KAVLO_OK;
  std::string error, encoding;
  bool has_encoding = false, imdb = false, cue = false;
  int format = 0;

  std::vector<Chunk> chunks;
  std::vector<uint32_t> chunk_first, ends;  // ends: of each string in its chunk
  std::vector<int32_t> refs;                // see share()
  int32_t repeat_count = 0;
  std::vector<std::string> keys;

  std::vector<int32_t> durations, release_dates;
  std::vector<double> lines;
  std::vector<uint8_t> item_masks;  // see item_bits
  std::vector<uint32_t> attr_counts, option_counts, header_counts, key_ids;
  std::vector<uint32_t> alternate_counts, group_counts, http_counts;
  uint32_t header_attr_count = 0, warning_count = 0;

  bool has_title = false;
  uint32_t epg_count = 0, diagnostic_count = 0;
  std::vector<double> diagnostic_lines;

  uint8_t sheet_mask = 0;
  uint32_t sheet_rem_count = 0;
  std::vector<int32_t> track_numbers, index_numbers, index_ms;
  std::vector<uint8_t> track_masks;
  std::vector<uint32_t> track_rem_counts, index_counts;
  std::vector<double> pregaps, postgaps, index_frames;
};

// Bits of an item's mask: the strings it has besides those every item has.
enum item_bits : uint8_t {
  has_url = 1,
  has_group = 2,
  has_label = 4,
  has_mode = 8,  // the catch-up fields: mode, source, days, shift
  has_source = 16,
  has_days = 32,
  has_shift = 64,
};

const char *const catchup_fields[] = {"mode", "source", "days", "shift"};

// Whether an attribute key is one the catch-up fields are read from.
bool catchup_key(std::string_view k) {
  auto ieq = [&](std::string_view w) {
    if (k.size() != w.size()) return false;
    for (size_t i = 0; i < k.size(); ++i) {
      char c = k[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != w[i]) return false;
    }
    return true;
  };
  return ieq("catchup") || ieq("catchup-source") || ieq("catchup-days") || ieq("tvg-shift");
}

// Reads a handle's result into Tables. The strings go into chunks in the
// order lib/result.js takes them; short strings that repeat are kept once.
class Collector {
 public:
  explicit Collector(Tables &t) : t_(t), slots_(slot_count) { t_.chunks.emplace_back(); }
  // The strings of a result take about as many bytes as its text.
  void expect(size_t items) { t_.ends.reserve(items * 7), t_.refs.reserve(items * 7), t_.key_ids.reserve(items * 4); }

  void str(const char *s) {
    if (s == nullptr) s = "";
    const size_t n = std::strlen(s);
    const uint32_t k = static_cast<uint32_t>(t_.ends.size());
    t_.refs.push_back(0);
    if (n - 1 < max_shared && share(s, n, k)) {
      t_.ends.push_back(static_cast<uint32_t>(t_.chunks.back().bytes.size()));  // no bytes of its own
      return;
    }
    if (t_.chunks.back().bytes.size() >= chunk_size) {
      t_.chunk_first.push_back(k);
      t_.chunks.emplace_back().bytes.reserve(chunk_size + 4096);
    }
    Chunk &c = t_.chunks.back();
    c.bytes.append(s, n);
    if (c.ascii) {
      uint64_t high = 0;
      size_t i = 0;
      for (uint64_t w; i + 8 <= n; i += 8) std::memcpy(&w, s + i, 8), high |= w;
      for (; i < n; ++i) high |= static_cast<unsigned char>(s[i]);
      c.ascii = (high & 0x8080808080808080u) == 0;
    }
    t_.ends.push_back(static_cast<uint32_t>(c.bytes.size()));
  }

  // The store shares equal keys, so most are found by their address.
  uint32_t key(const char *s) {
    if (s == nullptr) s = "";
    KeySlot &seen = key_cache_[(reinterpret_cast<uintptr_t>(s) >> 3) & 255];
    if (seen.s == s) return seen.id;
    std::string_view v(s);
    auto [it, added] = key_ids_.try_emplace(v, static_cast<uint32_t>(t_.keys.size()));
    if (added) t_.keys.emplace_back(v), catchup_keys_.push_back(catchup_key(v));
    seen = {s, it->second};
    return it->second;
  }

  // Key ids and values of `count` pairs; a key repeated within them is
  // marked and its value left out.
  // Returns whether one of the keys is read for the catch-up fields.
  template <typename Key, typename Value>
  bool pairs(int count, Key key_of, Value value_of) {
    const size_t first = t_.key_ids.size();
    bool catchup = false;
    for (int a = 0; a < count; ++a) {
      uint32_t id = key(key_of(a));
      catchup = catchup || catchup_keys_[id];
      for (size_t j = first; j < t_.key_ids.size(); ++j)
        if (t_.key_ids[j] == id) id = repeated_key;
      t_.key_ids.push_back(id);
      if (id != repeated_key) str(value_of(a));
    }
    return catchup;
  }

  // The chunks in UTF-16 where they are not ASCII, string ends in code units.
  void finish();

 private:
  static constexpr size_t chunk_size = 1 << 20, max_shared = 32, slot_count = 1 << 12;
  struct Slot {
    const char *s = nullptr;  // the library's copy, valid while the handle lives
    uint32_t n = 0, tag = 0, first = 0;
    int32_t repeat = 0;
  };

  // String k equals an earlier one: refs[k] is -r for repeat r, and the
  // earlier one's ref becomes r; the first one of a repeat keeps the bytes.
  bool share(const char *s, size_t n, uint32_t k) {
    uint64_t a = 0, b = 0;
    std::memcpy(&a, s, n < 8 ? n : 8);
    if (n > 8) std::memcpy(&b, s + n - 8, 8);
    if (n > 16) {
      uint64_t c, d;
      std::memcpy(&c, s + 8, 8);
      std::memcpy(&d, s + n - 16, 8);
      a ^= c * 0x9e3779b97f4a7c15u;
      b ^= d * 0xc2b2ae3d27d4eb4fu;
    }
    uint64_t h = (a * 0x9e3779b97f4a7c15u) ^ (b * 0xff51afd7ed558ccdu) ^ n;
    h ^= h >> 29;
    const uint32_t tag = static_cast<uint32_t>(h >> 32);
    // A cache rather than a set: a miss takes the slot, so the strings that
    // keep coming back stay while the unique ones pass through.
    Slot &slot = slots_[h & (slot_count - 1)];
    if (slot.tag == tag && slot.n == n && slot.s != nullptr && (slot.s == s || std::memcmp(slot.s, s, n) == 0)) {
      if (slot.repeat == 0) t_.refs[slot.first] = slot.repeat = ++t_.repeat_count;
      t_.refs[k] = -slot.repeat;
      return true;
    }
    slot = {s, static_cast<uint32_t>(n), tag, k, 0};
    return false;
  }

  struct KeySlot {
    const char *s = nullptr;
    uint32_t id = 0;
  };

  Tables &t_;
  std::vector<Slot> slots_;
  KeySlot key_cache_[256];
  std::unordered_map<std::string_view, uint32_t> key_ids_;
  std::vector<bool> catchup_keys_;  // per key id
};

// UTF-8 to UTF-16 with U+FFFD for each maximal ill-formed part, as
// TextDecoder does: stored text kept as undecodable bytes is not UTF-8.
// `out` has room for n units (never more are written); returns the end.
char16_t *utf16_put(char16_t *out, const unsigned char *s, size_t n) {
  for (size_t i = 0; i < n;) {
    uint64_t w;
    if (i + 8 <= n && (std::memcpy(&w, s + i, 8), (w & 0x8080808080808080u) == 0)) {
      for (int b = 0; b < 8; ++b) *out++ = s[i + b];
      i += 8;
      continue;
    }
    const unsigned c = s[i];
    if (c < 0x80) {
      *out++ = static_cast<char16_t>(c);
      ++i;
      continue;
    }
    // Well-formed two- and three-byte sequences (most text that is not
    // ASCII: Latin, Cyrillic, CJK) at once.
    if (c >= 0xC2 && c <= 0xDF && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
      *out++ = static_cast<char16_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
      continue;
    }
    if (c >= 0xE1 && c <= 0xEF && c != 0xED && i + 2 < n && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80) {
      *out++ = static_cast<char16_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
      i += 3;
      continue;
    }
    unsigned need = 0, cp = 0, lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) need = 1, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) need = 2, cp = c & 0x0F, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) need = 3, cp = c & 0x07, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
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
  return out;
}

void Collector::finish() {
  t_.chunk_first.insert(t_.chunk_first.begin(), 0);
  t_.chunk_first.push_back(static_cast<uint32_t>(t_.ends.size()));
  for (size_t c = 0; c < t_.chunks.size(); ++c) {
    Chunk &ch = t_.chunks[c];
    if (ch.ascii) continue;
    // No more units than bytes: a unit for each of 1 to 3 bytes, two for 4.
    ch.utf16.resize(ch.bytes.size());
    char16_t *const begin = ch.utf16.data();
    char16_t *out = begin;
    uint32_t from = 0;
    for (uint32_t k = t_.chunk_first[c]; k < t_.chunk_first[c + 1]; ++k) {
      const uint32_t to = t_.ends[k];
      out = utf16_put(out, reinterpret_cast<const unsigned char *>(ch.bytes.data()) + from, to - from);
      from = to;
      t_.ends[k] = static_cast<uint32_t>(out - begin);
    }
    ch.utf16.resize(static_cast<size_t>(out - begin));
    std::string().swap(ch.bytes);
  }
}

const char *const sheet_fields[] = {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE"};
const char *const track_fields[] = {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS", "DATATYPE"};

void collect(kavlo_playlist *p, Tables &t) {
  Collector c(t);
  t.format = kavlo_playlist_detected_format(p);
  t.imdb = kavlo_playlist_m3u_is_imdb_date_playlist(p) != 0;
  if (const char *e = kavlo_playlist_encoding(p)) t.encoding = e, t.has_encoding = true;
  const int n = kavlo_playlist_item_count(p);
  c.expect(static_cast<size_t>(n));
  for (auto *v : {&t.attr_counts, &t.option_counts, &t.header_counts, &t.alternate_counts, &t.group_counts,
                  &t.http_counts})
    v->reserve(n);
  // The catch-up fields come from the item's attributes, else the #EXTM3U
  // line's: only an item or header with such a key needs asking.
  bool header_catchup = false;
  for (const char *f : {"catchup", "catchup-source", "catchup-days", "tvg-shift"})
    header_catchup = header_catchup || kavlo_playlist_header_attr(p, f) != nullptr;
  t.durations.reserve(n), t.release_dates.reserve(n), t.lines.reserve(n), t.item_masks.reserve(n);
  for (int i = 0; i < n; ++i) {
    c.str(kavlo_playlist_item_title(p, i));
    c.str(kavlo_playlist_item_location(p, i));
    t.durations.push_back(kavlo_playlist_item_duration_ms(p, i));
    t.release_dates.push_back(kavlo_playlist_item_release_date(p, i));
    t.lines.push_back(static_cast<double>(kavlo_playlist_item_line(p, i)));
    const int attrs = kavlo_playlist_item_attr_count(p, i);
    t.attr_counts.push_back(static_cast<uint32_t>(attrs));
    const bool catchup = c.pairs(attrs, [&](int a) { return kavlo_playlist_item_attr_key(p, i, a); },
            [&](int a) { return kavlo_playlist_item_attr_value(p, i, a); });
    const int options = kavlo_playlist_item_option_count(p, i);
    t.option_counts.push_back(static_cast<uint32_t>(options));
    for (int o = 0; o < options; ++o) {
      c.str(kavlo_playlist_item_option_tag(p, i, o));
      c.str(kavlo_playlist_item_option_key(p, i, o));
      c.str(kavlo_playlist_item_option_value(p, i, o));
    }
    const char *url = kavlo_playlist_item_url(p, i);
    if (url) c.str(url);
    const int headers = kavlo_playlist_item_header_count(p, i);
    t.header_counts.push_back(static_cast<uint32_t>(headers));
    c.pairs(headers, [&](int h) { return kavlo_playlist_item_header_key(p, i, h); },
            [&](int h) { return kavlo_playlist_item_header_value(p, i, h); });
    uint8_t mask = url ? has_url : 0;
    const int alternates = kavlo_playlist_item_alternate_count(p, i);
    t.alternate_counts.push_back(static_cast<uint32_t>(alternates));
    for (int a = 0; a < alternates; ++a) c.str(kavlo_playlist_item_alternate(p, i, a));
    if (const char *label = kavlo_playlist_item_label(p, i)) c.str(label), mask |= has_label;
    if (const char *group = kavlo_playlist_item_group(p, i)) c.str(group), mask |= has_group;
    const int groups = kavlo_playlist_item_group_count(p, i);
    t.group_counts.push_back(static_cast<uint32_t>(groups));
    for (int g = 0; g < groups; ++g) c.str(kavlo_playlist_item_group_at(p, i, g));
    const int http = kavlo_playlist_item_http_count(p, i);
    t.http_counts.push_back(static_cast<uint32_t>(http));
    c.pairs(http, [&](int h) { return kavlo_playlist_item_http_key(p, i, h); },
            [&](int h) { return kavlo_playlist_item_http_value(p, i, h); });
    if (catchup || header_catchup)
      for (unsigned f = 0; f < 4; ++f)
        if (const char *v = kavlo_playlist_item_catchup(p, i, catchup_fields[f]))
          c.str(v), mask |= static_cast<uint8_t>(has_mode << f);
    t.item_masks.push_back(mask);
  }
  const int header = kavlo_playlist_header_attr_count(p);
  t.header_attr_count = static_cast<uint32_t>(header);
  c.pairs(header, [&](int a) { return kavlo_playlist_header_attr_key(p, a); },
          [&](int a) { return kavlo_playlist_header_attr_value(p, a); });
  t.cue = t.format == KAVLO_FORMAT_CUE;
  if (t.cue) {
    for (unsigned f = 0; f < 5; ++f)
      if (const char *v = kavlo_playlist_cue_meta(p, sheet_fields[f])) t.sheet_mask |= 1u << f, c.str(v);
    const int rems = kavlo_playlist_cue_rem_count(p);
    t.sheet_rem_count = static_cast<uint32_t>(rems);
    for (int r = 0; r < rems; ++r) c.str(kavlo_playlist_cue_rem_key(p, r)), c.str(kavlo_playlist_cue_rem_value(p, r));
    const int tracks = kavlo_playlist_cue_track_count(p);
    for (int k = 0; k < tracks; ++k) {
      t.track_numbers.push_back(kavlo_playlist_cue_track_number(p, k));
      uint8_t mask = 0;
      for (unsigned f = 0; f < 7; ++f)
        if (const char *v = kavlo_playlist_cue_track_field(p, k, track_fields[f])) mask |= 1u << f, c.str(v);
      t.track_masks.push_back(mask);
      t.pregaps.push_back(static_cast<double>(kavlo_playlist_cue_track_pregap(p, k)));
      t.postgaps.push_back(static_cast<double>(kavlo_playlist_cue_track_postgap(p, k)));
      const int trems = kavlo_playlist_cue_track_rem_count(p, k);
      t.track_rem_counts.push_back(static_cast<uint32_t>(trems));
      for (int r = 0; r < trems; ++r)
        c.str(kavlo_playlist_cue_track_rem_key(p, k, r)), c.str(kavlo_playlist_cue_track_rem_value(p, k, r));
      const int indices = kavlo_playlist_cue_track_index_count(p, k);
      t.index_counts.push_back(static_cast<uint32_t>(indices));
      for (int x = 0; x < indices; ++x) {
        t.index_numbers.push_back(kavlo_playlist_cue_track_index_number(p, k, x));
        t.index_frames.push_back(static_cast<double>(kavlo_playlist_cue_track_index_frames(p, k, x)));
        t.index_ms.push_back(kavlo_playlist_cue_track_index_ms(p, k, x));
      }
    }
  }
  const int warnings = kavlo_playlist_warning_count(p);
  t.warning_count = static_cast<uint32_t>(warnings);
  for (int w = 0; w < warnings; ++w) c.str(kavlo_playlist_warning(p, w));
  if (const char *title = kavlo_playlist_title(p)) c.str(title), t.has_title = true;
  const int epg = kavlo_playlist_epg_count(p);
  t.epg_count = static_cast<uint32_t>(epg);
  for (int e = 0; e < epg; ++e) c.str(kavlo_playlist_epg(p, e));
  const int diagnostics = kavlo_playlist_diagnostic_count(p);
  t.diagnostic_count = static_cast<uint32_t>(diagnostics);
  t.diagnostic_lines.reserve(diagnostics);
  for (int d = 0; d < diagnostics; ++d) {
    t.diagnostic_lines.push_back(static_cast<double>(kavlo_playlist_diagnostic_line(p, d)));
    c.str(kavlo_playlist_diagnostic_message(p, d));
    c.str(kavlo_playlist_diagnostic_subject(p, d));
  }
  c.finish();
}

// ---- One parse: its input and its outcome ---------------------------------

struct Job {
  bool file = false;
  std::string path;                 // a file, or
  const char *data = "";            // the bytes of a text (never null)
  size_t size = 0;
  std::unique_ptr<char[]> owned;    // a string input as UTF-8
  int format = KAVLO_FORMAT_AUTO;
  std::string encoding;             // "" is the library's own chain
  Tables t;

  // Parses and reads the result; any thread, no JavaScript.
  void run() noexcept {
    kavlo_playlist *p = kavlo_playlist_new();
    if (p == nullptr) {
      t.status = KAVLO_ERR_NOMEM;
      return;
    }
    const char *enc = encoding.c_str();
    t.status = file ? kavlo_playlist_parse_file_as(p, path.c_str(), format, enc)
                    : kavlo_playlist_parse(p, data, size, format, enc);
    Handle owned(p);
    try {
      if (t.status == KAVLO_OK) collect(p, t);
      else t.error = kavlo_playlist_last_error(p);
    } catch (const std::bad_alloc &) {
      t = Tables{};
      t.status = KAVLO_ERR_NOMEM;
    }
  }
};

// A typed array over the vector's memory, handed to JavaScript without a
// copy and released with the array.
template <typename T>
Napi::Value typed(Napi::Env env, std::vector<T> &v) {
  const size_t n = v.size();
  Napi::ArrayBuffer buf;
  if (n == 0) {
    buf = Napi::ArrayBuffer::New(env, 0);
  } else {
    auto owned = std::make_unique<std::vector<T>>(std::move(v));
    buf = Napi::ArrayBuffer::New(env, owned->data(), n * sizeof(T),
                                 [](Napi::Env, void *, std::vector<T> *o) { delete o; }, owned.get());
    owned.release();
  }
  if constexpr (std::is_same_v<T, uint8_t>) return Napi::Uint8Array::New(env, n, buf, 0);
  if constexpr (std::is_same_v<T, int32_t>) return Napi::Int32Array::New(env, n, buf, 0);
  if constexpr (std::is_same_v<T, uint32_t>) return Napi::Uint32Array::New(env, n, buf, 0);
  if constexpr (std::is_same_v<T, double>) return Napi::Float64Array::New(env, n, buf, 0);
}

Napi::Value chunk_text(Napi::Env env, const Chunk &c) {
  napi_value v;
  const napi_status st = c.ascii ? napi_create_string_latin1(env, c.bytes.data(), c.bytes.size(), &v)
                                 : napi_create_string_utf16(env, c.utf16.data(), c.utf16.size(), &v);
  if (st != napi_ok) throw Napi::Error::New(env, "out of memory");
  return Napi::Value(env, v);
}

// The tables as JavaScript values (the shape lib/result.js describes), or
// the failure as {status, error}.
Napi::Value to_js(Napi::Env env, Tables &t) {
  Napi::Object o = Napi::Object::New(env);
  o.Set("status", t.status);
  if (t.status != KAVLO_OK) {
    o.Set("error", t.error);
    return o;
  }
  o.Set("format", kavlo_format_name(t.format));
  o.Set("imdb", t.imdb);
  o.Set("encoding", t.has_encoding ? Napi::Value(Napi::String::New(env, t.encoding)) : env.Null());
  Napi::Array texts = Napi::Array::New(env, t.chunks.size());
  for (uint32_t c = 0; c < t.chunks.size(); ++c) texts.Set(c, chunk_text(env, t.chunks[c]));
  o.Set("texts", texts);
  o.Set("textFirst", typed(env, t.chunk_first));
  o.Set("ends", typed(env, t.ends));
  o.Set("refs", typed(env, t.refs));
  o.Set("repeatCount", t.repeat_count);
  Napi::Array keys = Napi::Array::New(env, t.keys.size());
  for (uint32_t k = 0; k < t.keys.size(); ++k) keys.Set(k, t.keys[k]);
  o.Set("keys", keys);
  o.Set("keyIds", typed(env, t.key_ids));
  o.Set("durations", typed(env, t.durations));
  o.Set("releaseDates", typed(env, t.release_dates));
  o.Set("lines", typed(env, t.lines));
  o.Set("itemMasks", typed(env, t.item_masks));
  o.Set("attrCounts", typed(env, t.attr_counts));
  o.Set("optionCounts", typed(env, t.option_counts));
  o.Set("headerCounts", typed(env, t.header_counts));
  o.Set("alternateCounts", typed(env, t.alternate_counts));
  o.Set("groupCounts", typed(env, t.group_counts));
  o.Set("httpCounts", typed(env, t.http_counts));
  o.Set("headerAttrCount", t.header_attr_count);
  o.Set("cue", t.cue);
  o.Set("sheetMask", t.sheet_mask);
  o.Set("sheetRemCount", t.sheet_rem_count);
  o.Set("trackNumbers", typed(env, t.track_numbers));
  o.Set("trackMasks", typed(env, t.track_masks));
  o.Set("pregaps", typed(env, t.pregaps));
  o.Set("postgaps", typed(env, t.postgaps));
  o.Set("trackRemCounts", typed(env, t.track_rem_counts));
  o.Set("indexCounts", typed(env, t.index_counts));
  o.Set("indexNumbers", typed(env, t.index_numbers));
  o.Set("indexFrames", typed(env, t.index_frames));
  o.Set("indexMs", typed(env, t.index_ms));
  o.Set("warningCount", t.warning_count);
  o.Set("hasTitle", t.has_title);
  o.Set("epgCount", t.epg_count);
  o.Set("diagnosticLines", typed(env, t.diagnostic_lines));
  return o;
}

// ---- Arguments: (input, format, encoding) and (path, format, encoding) ----
// lib/options.js has checked the options; here are the input types.

void read_text(const Napi::Value &v, Job &j) {
  if (v.IsString()) {
    napi_env env = v.Env();
    size_t len = 0, written = 0;
    if (napi_get_value_string_utf8(env, v, nullptr, 0, &len) != napi_ok) throw Napi::Error::New(env);
    j.owned.reset(new (std::nothrow) char[len + 1]);  // not cleared: all of it is written
    if (!j.owned) throw Napi::Error::New(env, "out of memory");
    if (napi_get_value_string_utf8(env, v, j.owned.get(), len + 1, &written) != napi_ok) throw Napi::Error::New(env);
    j.data = j.owned.get();
    j.size = written;
    return;
  }
  const char *data = nullptr;
  if (v.IsTypedArray() || v.IsDataView()) {
    napi_value ab;
    void *p = nullptr;
    if (v.IsDataView()) {
      napi_get_dataview_info(v.Env(), v, &j.size, &p, &ab, nullptr);
    } else {
      auto ta = v.As<Napi::TypedArray>();
      p = static_cast<char *>(ta.ArrayBuffer().Data()) + ta.ByteOffset();
      j.size = ta.ByteLength();
    }
    data = static_cast<const char *>(p);
  } else if (v.IsArrayBuffer()) {
    auto ab = v.As<Napi::ArrayBuffer>();
    data = static_cast<const char *>(ab.Data());
    j.size = ab.ByteLength();
  } else {
    throw Napi::TypeError::New(v.Env(), "input must be a string, Buffer, TypedArray, DataView or ArrayBuffer");
  }
  j.data = j.size != 0 && data != nullptr ? data : "";
}

void read_path(const Napi::Value &v, Job &j) {
  j.file = true;
  if (v.IsBuffer()) {
    auto b = v.As<Napi::Buffer<char>>();
    j.path.assign(b.Data(), b.Length());
  } else {
    j.path = v.As<Napi::String>().Utf8Value();
  }
  if (j.path.find('\0') != std::string::npos) throw Napi::TypeError::New(v.Env(), "path must not contain NUL bytes");
}

void read_options(const Napi::CallbackInfo &info, Job &j) {
  j.format = info[1].As<Napi::Number>().Int32Value();
  j.encoding = info[2].As<Napi::String>().Utf8Value();
}

Napi::Value run_now(const Napi::CallbackInfo &info, bool file) {
  Job j;
  file ? read_path(info[0], j) : read_text(info[0], j);
  read_options(info, j);
  j.run();
  return to_js(info.Env(), j.t);
}

class Worker : public Napi::AsyncWorker {
 public:
  Worker(Napi::Env env, std::unique_ptr<Job> job, Napi::Value input)
      : Napi::AsyncWorker(env, "kavlo.parse"), deferred_(Napi::Promise::Deferred::New(env)), job_(std::move(job)) {
    if (input.IsObject()) input_ = Napi::Persistent(input.As<Napi::Object>());  // kept alive while read
  }
  Napi::Promise promise() { return deferred_.Promise(); }
  void Execute() override { job_->run(); }
  void OnOK() override {
    Napi::HandleScope scope(Env());
    try {
      deferred_.Resolve(to_js(Env(), job_->t));
    } catch (const Napi::Error &e) {
      deferred_.Reject(e.Value());
    }
  }

 private:
  Napi::Promise::Deferred deferred_;
  std::unique_ptr<Job> job_;
  Napi::ObjectReference input_;
};

Napi::Value run_later(const Napi::CallbackInfo &info, bool file) {
  auto j = std::make_unique<Job>();
  file ? read_path(info[0], *j) : read_text(info[0], *j);
  read_options(info, *j);
  auto *w = new Worker(info.Env(), std::move(j), file ? info.Env().Undefined() : info[0]);
  Napi::Promise p = w->promise();
  w->Queue();
  return p;
}

// ---- Writing -----------------------------------------------------------

// The written text as a string, or as a Buffer of its bytes.
Napi::Value text_value(Napi::Env env, const char *text, size_t len, bool bytes) {
  if (bytes) return Napi::Buffer<char>::Copy(env, text, len);
  return Napi::String::New(env, text, len);
}

// (input, file, format, encoding, write format, flags, bytes): the input
// parsed again as it was for the result, and written; the status when
// either fails. A result keeps no handle: one held for each result would
// keep its memory from the next parse, which then maps and clears new
// pages (parses ran at half their speed).
Napi::Value write_again(const Napi::CallbackInfo &info) {
  Napi::Env env = info.Env();
  Job j;
  info[1].ToBoolean() ? read_path(info[0], j) : read_text(info[0], j);
  j.format = info[2].As<Napi::Number>().Int32Value();
  j.encoding = info[3].As<Napi::String>().Utf8Value();
  Handle p(kavlo_playlist_new());
  if (!p) return Napi::Number::New(env, KAVLO_ERR_NOMEM);
  const char *enc = j.encoding.c_str();
  int rc = j.file ? kavlo_playlist_parse_file_as(p.get(), j.path.c_str(), j.format, enc)
                  : kavlo_playlist_parse(p.get(), j.data, j.size, j.format, enc);
  const char *text = nullptr;
  size_t len = 0;
  if (rc == KAVLO_OK)
    rc = kavlo_playlist_write(p.get(), info[4].As<Napi::Number>().Int32Value(),
                              info[5].As<Napi::Number>().Uint32Value(), &text, &len);
  if (rc != KAVLO_OK) return Napi::Number::New(env, rc);
  return text_value(env, text, len, info[6].ToBoolean());
}

// (text, shape, durations, format, flags, bytes): the text of a list laid
// out as plan.h describes, or {status, item, what, name} where the builder
// refused it.
Napi::Value write_list(const Napi::CallbackInfo &info) {
  Napi::Env env = info.Env();
  Job j;  // the text as UTF-8
  read_text(info[0], j);
  auto shape = info[1].As<Napi::Uint32Array>();
  auto durations = info[2].As<Napi::Float64Array>();
  Handle p(kavlo_playlist_new());
  kavlo_plan::Refusal why;
  int rc = p ? kavlo_plan::build(p.get(), j.data, j.size, shape.Data(), shape.ElementLength(), durations.Data(),
                                 durations.ElementLength(), why)
             : KAVLO_ERR_NOMEM;
  const char *text = nullptr;
  size_t len = 0;
  if (rc == KAVLO_OK) {
    rc = kavlo_playlist_write(p.get(), info[3].As<Napi::Number>().Int32Value(),
                              info[4].As<Napi::Number>().Uint32Value(), &text, &len);
    if (rc == KAVLO_OK) return text_value(env, text, len, info[5].ToBoolean());
    why = kavlo_plan::Refusal{};
  }
  Napi::Object o = Napi::Object::New(env);
  o.Set("status", rc);
  o.Set("item", static_cast<double>(why.item));
  o.Set("what", why.what);
  o.Set("name", why.name);
  return o;
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("writeAgain", Napi::Function::New(env, write_again));
  exports.Set("writeList", Napi::Function::New(env, write_list));
  exports.Set("parse", Napi::Function::New(env, [](const Napi::CallbackInfo &i) { return run_now(i, false); }));
  exports.Set("parseFile", Napi::Function::New(env, [](const Napi::CallbackInfo &i) { return run_now(i, true); }));
  exports.Set("parseAsync", Napi::Function::New(env, [](const Napi::CallbackInfo &i) { return run_later(i, false); }));
  exports.Set("parseFileAsync", Napi::Function::New(env, [](const Napi::CallbackInfo &i) { return run_later(i, true); }));
  exports.Set("detect", Napi::Function::New(env, [](const Napi::CallbackInfo &info) {
    Job j;
    read_text(info[0], j);
    return Napi::String::New(info.Env(), kavlo_format_name(kavlo_detect_text(j.data, j.size, "auto")));
  }));
  exports.Set("json", Napi::Function::New(env, [](const Napi::CallbackInfo &info) {
    Job j;
    read_text(info[0], j);
    read_options(info, j);
    std::unique_ptr<kavlo_playlist, void (*)(kavlo_playlist *)> p(kavlo_playlist_new(), kavlo_playlist_free);
    Napi::Object o = Napi::Object::New(info.Env());
    const int status = p ? kavlo_playlist_parse(p.get(), j.data, j.size, j.format, j.encoding.c_str()) : KAVLO_ERR_NOMEM;
    o.Set("status", status);
    o.Set(status == KAVLO_OK ? "json" : "error", status == KAVLO_OK ? kavlo_playlist_json_full(p.get())
                                                                    : kavlo_playlist_last_error(p.get()));
    return o;
  }));
  exports.Set("version", Napi::String::New(env, kavlo_version()));
  return exports;
}

}  // namespace

NODE_API_MODULE(kavlo, Init)
