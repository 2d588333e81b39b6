// Copying a result out of the library: the full document read into a
// Snapshot, the accessors as the way when there is no document, and the
// strings cut into chunks for JavaScript.
#include "snapshot.h"

#include <kavlo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace kavlo_node {

Bytes::~Bytes() { std::free(data_); }

void Bytes::swap(Bytes &o) noexcept {
  std::swap(data_, o.data_);
  std::swap(size_, o.size_);
  std::swap(cap_, o.cap_);
}

void Bytes::reserve(size_t n) {
  if (n <= cap_) return;
  const size_t cap = std::max({n, cap_ * 2, size_t{64}});
  // Large blocks grow by remapping, without a copy.
  auto *p = static_cast<char *>(std::realloc(data_, cap));
  if (p == nullptr) throw std::bad_alloc();
  data_ = p;
  cap_ = cap;
}

namespace {

// Ids of distinct keys. Lists repeat the same keys in the same order, so
// the key last seen at each position is tried first.
class KeyTable {
 public:
  explicit KeyTable(Snapshot &s) : s_(s) {}

  uint32_t id(std::string_view key, size_t slot) {
    if (slot < slots_.size() && slots_[slot] != repeated_key && s_.keys[slots_[slot]] == key) return slots_[slot];
    uint32_t id;
    auto it = ids_.find(key);
    if (it != ids_.end()) {
      id = it->second;
    } else {
      id = static_cast<uint32_t>(s_.keys.size());
      const std::string &stored = s_.keys.emplace_back(key);  // a deque: never moves
      ids_.emplace(std::string_view(stored), id);
      if (key == "__proto__") s_.proto_key = id;
    }
    if (slot < 64) {
      if (slot >= slots_.size()) slots_.resize(slot + 1, repeated_key);
      slots_[slot] = id;
    }
    return id;
  }

 private:
  Snapshot &s_;
  std::unordered_map<std::string_view, uint32_t> ids_;
  std::vector<uint32_t> slots_;
};

// Marks the second and later of equal ids in one object.
class FirstWins {
 public:
  void reset() { seen_.clear(); }
  uint32_t take(uint32_t id) {
    for (uint32_t s : seen_)
      if (s == id) return repeated_key;
    seen_.push_back(id);
    return id;
  }

 private:
  std::vector<uint32_t> seen_;
};

template <typename Out>
void put_utf8(Out &out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Reads the full document (compact JSON written by the library) into the
// snapshot. Every read is bounded by the text's end; anything unexpected,
// including members out of the document's order, makes read() return
// false and the accessors take over.
class DocReader {
 public:
  DocReader(Snapshot &s, std::string_view text) : s_(s), p_(text.data()), end_(text.data() + text.size()), keys_(s) {}

  bool read() {
    if (!lit('{')) return false;
    int stage = 0;
    std::string_view k;
    if (lit('}')) return false;  // "{}": no document
    do {
      if (!key(k)) return false;
      if (k == "format") {
        if (!order(stage, 1) || !skip()) return false;
      } else if (k == "imdb_date_playlist") {
        if (!order(stage, 2) || !boolean(s_.imdb)) return false;
      } else if (k == "items") {
        if (!order(stage, 3) || !array([this] { return item(); })) return false;
      } else if (k == "cue") {
        if (!order(stage, 4)) return false;
        s_.has_cue = true;
        if (!sheet()) return false;
      } else if (k == "warnings") {
        if (!order(stage, 5) || !array([this] { return string() && ++s_.warning_count; })) return false;
      } else if (k == "header") {
        if (!order(stage, 6) || !pairs(s_.m3u_header_keys)) return false;
      } else if (!skip()) {
        return false;
      }
    } while (lit(','));
    return lit('}') && p_ == end_;
  }

 private:
  static bool order(int &stage, int next) {
    if (next <= stage) return false;
    stage = next;
    return true;
  }

  bool lit(char c) {
    if (p_ < end_ && *p_ == c) {
      ++p_;
      return true;
    }
    return false;
  }

  template <typename F>
  bool array(F each) {
    if (!lit('[')) return false;
    if (lit(']')) return true;
    do {
      if (!each()) return false;
    } while (lit(','));
    return lit(']');
  }

  // Moves p_ to the next '"' or '\\' (or the end), eight bytes at a time.
  void scan() {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    while (end_ - p_ >= 8) {
      uint64_t w;
      std::memcpy(&w, p_, 8);
      const uint64_t q = w ^ (ones * '"'), b = w ^ (ones * '\\');
      const uint64_t hit = ((q - ones) & ~q & highs) | ((b - ones) & ~b & highs);
      if (hit) {
        p_ += __builtin_ctzll(hit) / 8;
        return;
      }
      p_ += 8;
    }
    while (p_ < end_ && *p_ != '"' && *p_ != '\\') ++p_;
  }

  // Reads a JSON string, unescaped, and appends it to `out`.
  template <typename Out>
  bool raw_string(Out &out) {
    if (!lit('"')) return false;
    for (;;) {
      const char *run = p_;
      scan();
      out.append(run, static_cast<size_t>(p_ - run));
      if (p_ >= end_) return false;
      if (*p_++ == '"') return true;
      if (p_ >= end_) return false;
      const char e = *p_++;
      switch (e) {
        case '"': case '\\': case '/': out.push_back(e); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          uint32_t cp;
          if (!hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF && end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
            p_ += 2;
            uint32_t lo;
            if (!hex4(lo)) return false;
            cp = lo >= 0xDC00 && lo <= 0xDFFF ? 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00) : 0xFFFD;
          } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
          }
          put_utf8(out, cp);
          break;
        }
        default: return false;
      }
    }
  }

  bool hex4(uint32_t &v) {
    if (end_ - p_ < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *p_++;
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  // A string for JavaScript: the next one of the snapshot. A short string
  // equal to one already sent becomes a reference to it: lists repeat
  // group names, tags and often the title in tvg-name, and each string
  // JavaScript need not make is time its garbage collector saves.
  bool string() {
    const size_t start = s_.strings.size();
    if (!raw_string(s_.strings)) return false;
    const size_t len = s_.strings.size() - start;
    int32_t ref = 0;
    if (len <= max_repeat_len) {
      const std::string_view text(s_.strings.data() + start, len);
      const size_t hash = std::hash<std::string_view>{}(text);
      Seen &slot = seen_[hash & (seen_size - 1)];
      const uint32_t k = static_cast<uint32_t>(s_.ends.size());
      if (slot.id_plus_one != 0 && slot.hash == hash) {
        const uint32_t j = slot.id_plus_one - 1;
        const size_t from = j == 0 ? 0 : s_.ends[j - 1];
        if (std::string_view(s_.strings.data() + from, s_.ends[j] - from) == text) {
          if (s_.refs[j] == 0) s_.refs[j] = ++s_.repeat_count;
          ref = -s_.refs[j];
          s_.strings.truncate(start);
        }
      }
      if (ref == 0) slot = {hash, k + 1};
    }
    s_.ends.push_back(s_.strings.size());
    s_.refs.push_back(ref);
    return true;
  }

  // A member name followed by ':'. Names without escapes are viewed where
  // they stand.
  bool key(std::string_view &k) {
    if (!lit('"')) return false;
    const char *start = p_;
    scan();
    if (p_ < end_ && *p_ == '"') {
      k = std::string_view(start, static_cast<size_t>(p_ - start));
      ++p_;
    } else {
      p_ = start - 1;
      key_buf_.clear();
      if (!raw_string(key_buf_)) return false;
      k = key_buf_;
    }
    return lit(':');
  }

  bool integer(int64_t &v) {
    const bool negative = lit('-');
    if (p_ >= end_ || *p_ < '0' || *p_ > '9') return false;
    uint64_t n = 0;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') n = n * 10 + static_cast<uint64_t>(*p_++ - '0');
    v = static_cast<int64_t>(negative ? 0 - n : n);
    return true;
  }

  bool int32(int32_t &v) {
    int64_t n;
    if (!integer(n)) return false;
    v = static_cast<int32_t>(n);
    return true;
  }

  bool boolean(bool &v) {
    if (end_ - p_ >= 4 && std::memcmp(p_, "true", 4) == 0) {
      p_ += 4;
      v = true;
      return true;
    }
    if (end_ - p_ >= 5 && std::memcmp(p_, "false", 5) == 0) {
      p_ += 5;
      v = false;
      return true;
    }
    return false;
  }

  // Skips a value of a member this reader does not know.
  bool skip() {
    if (p_ >= end_) return false;
    switch (*p_) {
      case '"':
        key_buf_.clear();
        return raw_string(key_buf_);
      case '{': {
        ++p_;
        if (lit('}')) return true;
        std::string_view k;
        do {
          if (!key(k) || !skip()) return false;
        } while (lit(','));
        return lit('}');
      }
      case '[':
        return array([this] { return skip(); });
      case 't': case 'f': {
        bool b;
        return boolean(b);
      }
      default: {
        int64_t n;
        return integer(n);
      }
    }
  }

  // An object of string values: keys to `ids`, values to the strings.
  bool pairs(std::vector<uint32_t> &ids, uint32_t *count = nullptr) {
    if (!lit('{')) return false;
    if (lit('}')) return true;
    first_.reset();
    size_t slot = 0;
    std::string_view k;
    do {
      if (!key(k)) return false;
      const uint32_t id = first_.take(keys_.id(k, slot++));
      ids.push_back(id);
      if (count) ++*count;
      if (id == repeated_key) {
        if (!skip()) return false;
      } else if (!string()) {
        return false;
      }
    } while (lit(','));
    return lit('}');
  }

  // An array of objects whose members are all strings, in a fixed order
  // ({"tag","key","value"}, {"key","value"}); counts them.
  bool records(uint32_t &count, int members) {
    return array([&] {
      if (!lit('{')) return false;
      std::string_view k;
      for (int m = 0; m < members; ++m) {
        if ((m > 0 && !lit(',')) || !key(k) || !string()) return false;
      }
      ++count;
      return lit('}');
    });
  }

  bool item() {
    if (!lit('{')) return false;
    int stage = 0;
    int32_t duration = -1, release = 0, line = 0;
    uint8_t mask = 0;
    uint32_t attrs = 0, options = 0, headers = 0;
    std::string_view k;
    do {
      if (!key(k)) return false;
      if (k == "title") {
        if (!order(stage, 1) || !string()) return false;
      } else if (k == "location") {
        if (!order(stage, 2) || !string()) return false;
      } else if (k == "duration_ms") {
        if (!order(stage, 3) || !int32(duration)) return false;
      } else if (k == "release_date") {
        if (!order(stage, 4) || !int32(release)) return false;
      } else if (k == "attrs") {
        if (!order(stage, 5) || !pairs(s_.attr_keys, &attrs)) return false;
      } else if (k == "line") {
        if (!order(stage, 6) || !int32(line)) return false;
      } else if (k == "options") {
        if (!order(stage, 7) || !records(options, 3)) return false;
      } else if (k == "url") {
        if (!order(stage, 8) || !string()) return false;
        mask |= item_has_url;
      } else if (k == "headers") {
        if (!order(stage, 9) || !pairs(s_.header_keys, &headers)) return false;
      } else if (k == "group") {
        if (!order(stage, 10) || !string()) return false;
        mask |= item_has_group;
      } else if (!skip()) {
        return false;
      }
    } while (lit(','));
    if (stage < 2) return false;  // no title or location
    s_.add_item(duration, release, line, mask, attrs, options, headers);
    return lit('}');
  }

  bool sheet() {
    if (!lit('{')) return false;
    int stage = 0;
    std::string_view k;
    if (lit('}')) return true;
    do {
      if (!key(k)) return false;
      int bit = -1;
      if (k == "title") {
        if (!order(stage, 1)) return false;
        bit = 0;
      } else if (k == "performer") {
        if (!order(stage, 2)) return false;
        bit = 1;
      } else if (k == "tracks") {
        if (!order(stage, 3) || !array([this] { return track(); })) return false;
      } else if (k == "songwriter") {
        if (!order(stage, 4)) return false;
        bit = 2;
      } else if (k == "catalog") {
        if (!order(stage, 5)) return false;
        bit = 3;
      } else if (k == "cdtextfile") {
        if (!order(stage, 6)) return false;
        bit = 4;
      } else if (k == "rem") {
        if (!order(stage, 7) || !records(s_.sheet_rem_count, 2)) return false;
      } else if (!skip()) {
        return false;
      }
      if (bit >= 0) {
        if (!string()) return false;
        s_.sheet_mask |= static_cast<uint8_t>(1u << bit);
      }
    } while (lit(','));
    return lit('}');
  }

  bool track() {
    if (!lit('{')) return false;
    int stage = 0;
    int32_t number = 0;
    uint8_t mask = 0;
    double pregap = -1, postgap = -1;
    uint32_t rems = 0, indices = 0;
    std::string_view k;
    // Members holding a string, with their stage and mask bit.
    static constexpr struct {
      std::string_view name;
      int stage, bit;
    } fields[] = {{"title", 2, 0},      {"file", 3, 1},  {"performer", 5, 2}, {"songwriter", 6, 3},
                  {"isrc", 7, 4},       {"flags", 8, 5}, {"datatype", 9, 6}};
    do {
      if (!key(k)) return false;
      bool done = false;
      for (const auto &f : fields) {
        if (k != f.name) continue;
        if (!order(stage, f.stage) || !string()) return false;
        mask |= static_cast<uint8_t>(1u << f.bit);
        done = true;
        break;
      }
      if (done) continue;
      int64_t n;
      if (k == "number") {
        if (!order(stage, 1) || !int32(number)) return false;
      } else if (k == "indices") {
        if (!order(stage, 4) || !array([&] { return index() && ++indices; })) return false;
      } else if (k == "pregap") {
        if (!order(stage, 10) || !integer(n)) return false;
        pregap = static_cast<double>(n);
      } else if (k == "postgap") {
        if (!order(stage, 11) || !integer(n)) return false;
        postgap = static_cast<double>(n);
      } else if (k == "rem") {
        if (!order(stage, 12) || !records(rems, 2)) return false;
      } else if (!skip()) {
        return false;
      }
    } while (lit(','));
    s_.add_track(number, mask, pregap, postgap, rems, indices);
    return lit('}');
  }

  bool index() {
    std::string_view k;
    int32_t n, ms;
    int64_t frames;
    if (!lit('{') || !key(k) || k != "n" || !int32(n) || !lit(',') || !key(k) || k != "frames" ||
        !integer(frames) || !lit(',') || !key(k) || k != "ms" || !int32(ms) || !lit('}'))
      return false;
    s_.add_index(n, static_cast<double>(frames), ms);
    return true;
  }

  static constexpr size_t max_repeat_len = 64;
  static constexpr size_t seen_size = size_t{1} << 12;
  struct Seen {
    size_t hash;
    uint32_t id_plus_one;
  };

  Snapshot &s_;
  const char *p_;
  const char *end_;
  KeyTable keys_;
  std::vector<Seen> seen_ = std::vector<Seen>(seen_size, Seen{0, 0});
  FirstWins first_;
  std::string key_buf_;
};

void add(Snapshot &s, const char *str) { s.add(str ? str : "", str ? std::strlen(str) : 0); }

bool add_present(Snapshot &s, const char *str) {
  if (str == nullptr) return false;
  add(s, str);
  return true;
}

// The accessors' view, for a result without a document (a stored string
// that is not valid UTF-8). It has no line numbers, options, headers,
// groups, REM lines, gaps or track numbers.
void collect_accessors(Snapshot &s) {
  s.imdb = kavlo_m3u_is_imdb_date_playlist() != 0;
  KeyTable keys(s);
  FirstWins first;
  const int n = kavlo_item_count();
  for (int i = 0; i < n; ++i) {
    add(s, kavlo_item_title(i));
    add(s, kavlo_item_location(i));
    const int na = kavlo_item_attr_count(i);
    s.add_item(kavlo_item_duration_ms(i), kavlo_item_release_date(i), 0, 0, static_cast<uint32_t>(na), 0, 0);
    first.reset();
    for (int a = 0; a < na; ++a) {
      const char *key = kavlo_item_attr_key(i, a);
      const uint32_t id = key ? first.take(keys.id(key, static_cast<size_t>(a))) : repeated_key;
      s.attr_keys.push_back(id);
      if (id != repeated_key) add(s, kavlo_item_attr(i, key));
    }
  }
  if (s.format == KAVLO_FORMAT_CUE) {
    s.has_cue = true;
    static constexpr const char *sheet_before[] = {"TITLE", "PERFORMER"};
    static constexpr const char *sheet_after[] = {"SONGWRITER", "CATALOG", "CDTEXTFILE"};
    for (int f = 0; f < 2; ++f)
      if (add_present(s, kavlo_cue_meta(sheet_before[f]))) s.sheet_mask |= static_cast<uint8_t>(1u << f);
    static constexpr const char *track_keys[] = {"TITLE", "FILE", "PERFORMER", "SONGWRITER", "ISRC", "FLAGS",
                                                 "DATATYPE"};
    const int nt = kavlo_cue_track_count();
    for (int t = 0; t < nt; ++t) {
      uint8_t mask = 0;
      for (int f = 0; f < 7; ++f)
        if (add_present(s, kavlo_cue_track_field(t, track_keys[f]))) mask |= static_cast<uint8_t>(1u << f);
      const int ni = kavlo_cue_track_index_count(t);
      s.add_track(0, mask, -1, -1, 0, static_cast<uint32_t>(ni));
      for (int x = 0; x < ni; ++x)
        s.add_index(kavlo_cue_track_index_number(t, x), static_cast<double>(kavlo_cue_track_index_frames(t, x)),
                    kavlo_cue_track_index_ms(t, x));
    }
    for (int f = 0; f < 3; ++f)
      if (add_present(s, kavlo_cue_meta(sheet_after[f]))) s.sheet_mask |= static_cast<uint8_t>(1u << (f + 2));
  }
  const int nw = kavlo_warning_count();
  for (int w = 0; w < nw; ++w) add(s, kavlo_warning(w));
  s.warning_count = static_cast<uint32_t>(nw);
}

bool all_ascii(const char *p, size_t n) {
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

// Appends the UTF-16 form of `n` bytes of UTF-8. The accessors can return
// bytes the library's last decoding fallback kept as they were: each byte
// that does not start a well-formed sequence becomes U+FFFD.
void append_utf16(std::u16string &out, const unsigned char *p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++i;
      continue;
    }
    uint32_t cp = 0, min = 0;
    size_t len = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, cp = c & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (size_t j = 1; ok && j < len; ++j) {
      if ((p[i + j] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + j] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
}

// Strings go to JavaScript in chunks of about this many bytes: one
// JavaScript string per chunk, which index.js cuts with slice(). A slice
// keeps its chunk alive, so chunks are kept small; a longer string gets a
// chunk of its own.
constexpr size_t chunk_bytes = size_t{1} << 20;

}  // namespace

void collect(Snapshot &s) {
  s.format = kavlo_detected_format();
  const char *doc = kavlo_result_json_full();
  const size_t len = std::strlen(doc);
  // The strings, unescaped, are never longer than the document; untouched
  // reserved pages cost nothing.
  s.strings.reserve(len + 64);
  const auto items = static_cast<size_t>(kavlo_item_count());
  for (auto *v : {&s.durations, &s.release_dates, &s.lines}) v->reserve(items);
  for (auto *v : {&s.attr_counts, &s.option_counts, &s.header_counts}) v->reserve(items);
  s.item_masks.reserve(items);
  s.ends.reserve(items * 4);
  s.refs.reserve(items * 4);
  s.attr_keys.reserve(items * 2);
  // The document is kept for Result.json; a large one is copied on a
  // second thread while this one reads it (the lock keeps it in place).
  std::exception_ptr failure;
  std::thread copier;
  if (len >= (size_t{1} << 20)) {
    try {
      copier = std::thread([&] {
        try {
          s.json.append(doc, len);
        } catch (...) {
          failure = std::current_exception();
        }
      });
    } catch (const std::system_error &) {
      // no thread to be had: copied below
    }
  }
  bool read;
  try {
    read = DocReader(s, std::string_view(doc, len)).read();
  } catch (...) {
    if (copier.joinable()) copier.join();
    throw;
  }
  if (copier.joinable()) {
    copier.join();
    if (failure) std::rethrow_exception(failure);
  } else {
    s.json.append(doc, len);
  }
  if (read) return;
  // No document: start again from the accessors.
  Snapshot fresh;
  fresh.format = s.format;
  fresh.json = std::move(s.json);
  s = std::move(fresh);
  collect_accessors(s);
}

void cut(Snapshot &s) {
  const size_t count = s.ends.size();
  s.unit_ends.resize(count);
  size_t k = 0;
  while (k < count) {
    Chunk c;
    c.begin = k == 0 ? 0 : s.ends[k - 1];
    size_t last = k + 1;  // one past the chunk's last string
    while (last < count && s.ends[last] - c.begin <= chunk_bytes) ++last;
    c.end = s.ends[last - 1];
    c.ascii = all_ascii(s.strings.data() + c.begin, c.end - c.begin);
    s.chunk_first.push_back(static_cast<uint32_t>(k));
    if (c.ascii) {
      for (size_t j = k; j < last; ++j) s.unit_ends[j] = static_cast<uint32_t>(s.ends[j] - c.begin);
    } else {
      c.utf16.reserve(c.end - c.begin);
      size_t from = c.begin;
      for (size_t j = k; j < last; ++j) {
        append_utf16(c.utf16, reinterpret_cast<const unsigned char *>(s.strings.data()) + from, s.ends[j] - from);
        from = s.ends[j];
        s.unit_ends[j] = static_cast<uint32_t>(c.utf16.size());
      }
    }
    s.chunks.push_back(std::move(c));
    k = last;
  }
  s.chunk_first.push_back(static_cast<uint32_t>(count));
}

}  // namespace kavlo_node
