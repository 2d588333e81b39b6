// The result store and its operations: string arena, item and track
// arrays, warnings and the last error.
#include "store.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "kavlo.h"
#include "mem.h"
#include "text.h"

namespace kavlo {

namespace {

constinit kavlo_playlist g_default{};

constexpr size_t first_chunk = 4096;
constexpr size_t max_chunk = size_t{16} << 20;
constexpr size_t big_string = size_t{256} << 10;

}  // namespace

Store &store() noexcept { return g_default.store; }
kavlo_playlist &process_playlist() noexcept { return g_default; }

size_t first_capacity(const Store &s, size_t small, size_t record, size_t bytes_per_record) noexcept {
  const size_t reserve = s.text_size / bytes_per_record;
  return reserve > small && reserve * record >= large_block ? reserve : small;
}

const char *format_name(int code) noexcept {
  switch (code) {
    case KAVLO_FORMAT_AUTO: return "auto";
    case KAVLO_FORMAT_M3U: return "m3u";
    case KAVLO_FORMAT_M3U8_HLS: return "m3u8-hls";
    case KAVLO_FORMAT_STREAMING_LIST: return "streaming-list";
    case KAVLO_FORMAT_CUE: return "cue";
    default: return "unknown";
  }
}

namespace {

void free_chunks(ArenaChunk *c) noexcept {
  while (c != nullptr) {
    ArenaChunk *next = c->next;
    block_free(c, c->bytes);
    c = next;
  }
}

ArenaChunk *new_chunk(size_t capacity) noexcept {
  if (capacity > SIZE_MAX / 2) return nullptr;
  size_t bytes = sizeof(ArenaChunk) + capacity;
  if (bytes >= large_block) bytes = mapped_size(bytes);  // use the whole mapping
  auto *c = static_cast<ArenaChunk *>(block_resize(nullptr, 0, bytes));
  if (c == nullptr) return nullptr;
  c->next = nullptr;
  c->capacity = bytes - sizeof(ArenaChunk);
  c->used = 0;
  c->bytes = bytes;
  return c;
}

char *arena_alloc(Arena &a, size_t n) noexcept {
  if (a.head != nullptr && a.head->capacity - a.head->used >= n) {
    char *p = a.head->data() + a.head->used;
    a.head->used += n;
    return p;
  }
  // A large string gets a chunk of its own, so the current chunk keeps its
  // free space.
  if (n > big_string) {
    ArenaChunk *c = new_chunk(n);
    if (c == nullptr) return nullptr;
    c->used = n;
    c->next = a.big;
    a.big = c;
    return c->data();
  }
  size_t size = a.next_size < first_chunk ? first_chunk : a.next_size;
  while (size < n) size *= 2;
  ArenaChunk *c = new_chunk(size);
  if (c == nullptr) return nullptr;
  a.next_size = size < max_chunk ? size * 2 : max_chunk;
  c->next = a.head;
  a.head = c;
  c->used = n;
  return c->data();
}

}  // namespace

void arena_reserve(Arena &a, size_t text_size) noexcept {
  size_t size = first_chunk;
  while (size < max_chunk && size < text_size / 4) size *= 2;
  if (a.head == nullptr && size > a.next_size) a.next_size = size;
}

namespace {

// Length of the prefix of `buf` (whose text is `len` bytes, of which at
// least `limit` + 3 are in the buffer when available) that fits in `limit`
// bytes without splitting a well-formed UTF-8 character.
size_t utf8_safe_cut(const char *buf, size_t len, size_t limit) noexcept {
  if (len <= limit) return len;
  auto u = [&](size_t i) { return static_cast<unsigned char>(buf[i]); };
  if ((u(limit) & 0xC0) != 0x80) return limit;  // the cut falls between characters
  size_t lead = limit;
  while (lead > 0 && limit - lead < 3 && (u(lead - 1) & 0xC0) == 0x80) --lead;
  if (lead == 0) return limit;
  --lead;
  unsigned char c = u(lead);
  size_t seq = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (seq == 0 || lead + seq <= limit || lead + seq > len) return limit;
  for (size_t i = lead + 1; i < lead + seq; ++i)
    if ((u(i) & 0xC0) != 0x80) return limit;
  return lead;
}

}  // namespace

void format_message(char *out, const char *fmt, va_list ap) noexcept {
  char buf[message_size + 4];
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  if (n < 0) {
    out[0] = '\0';
    return;
  }
  size_t len = static_cast<size_t>(n);
  size_t avail = len < sizeof buf - 1 ? len : sizeof buf - 1;
  size_t keep = utf8_safe_cut(buf, avail, message_size - 1);
  std::memcpy(out, buf, keep);
  out[keep] = '\0';
}

void clear(Store &s) noexcept {
  free_array(s.items, s.item_capacity);
  free_array(s.tracks, s.track_capacity);
  free_array(s.attrs, s.attr_capacity);
  free_array(s.indices, s.index_capacity);
  free_array(s.options, s.option_capacity);
  free_array(s.groups, s.group_capacity);
  free_array(s.rems, s.rem_capacity);
  free_array(s.extras, s.extra_capacity);
  free_array(s.line_highs, s.line_high_capacity);
  free_array(s.attr_ranges, s.attr_range_capacity);
  free_array(s.suffixed, s.suffixed_capacity);
  free_array(s.locations, s.location_capacity);
  free_array(s.header_pairs, s.header_pair_capacity);
  free_array(s.alternates, s.alternate_capacity);
  free_array(s.http, s.http_capacity);
  free_array(s.extgrps, s.extgrp_capacity);
  free_array(s.losses, s.loss_capacity);
  free_chunks(s.arena.head);
  free_chunks(s.arena.big);
  block_free(s.json_text, s.json_capacity);
  block_free(s.write_text, s.write_capacity);
  block_free(s.decoded_text, s.decoded_capacity);
  std::memset(static_cast<void *>(&s), 0, sizeof s);
}

const char *copy_string_slow(Store &s, std::string_view text) noexcept {
  if (text.empty()) return "";
  if (text.size() == SIZE_MAX) return nullptr;
  char *p = arena_alloc(s.arena, text.size() + 1);
  if (p == nullptr) return nullptr;
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

const char *copy_string_pair(Store &s, std::string_view first, std::string_view second) noexcept {
  static constexpr char both_empty[2] = {'\0', '\0'};
  if (first.empty() && second.empty()) return both_empty;
  if (first.size() >= SIZE_MAX / 2 || second.size() >= SIZE_MAX / 2) return nullptr;
  char *p = arena_alloc(s.arena, first.size() + second.size() + 2);
  if (p == nullptr) return nullptr;
  // An empty view may have no data pointer at all.
  if (!first.empty()) std::memcpy(p, first.data(), first.size());
  p[first.size()] = '\0';
  if (!second.empty()) std::memcpy(p + first.size() + 1, second.data(), second.size());
  p[first.size() + 1 + second.size()] = '\0';
  return p;
}

namespace {

PlaylistItem *new_item(Store &s) noexcept {
  if (s.item_count >= s.item_capacity &&
      !grow_array(s.items, s.item_capacity, static_cast<size_t>(s.item_count) + 1,
                  first_capacity(s, first_item_capacity, sizeof(PlaylistItem), 32), INT_MAX))
    return nullptr;
  return &s.items[s.item_count++];
}

}  // namespace

int item_add(Store &s, std::string_view location, std::string_view title, int extinf_value) noexcept {
  PlaylistItem *it = new_item(s);
  if (it == nullptr) return KAVLO_ERR_NOMEM;
  *it = PlaylistItem{copy_string(s, location), copy_string(s, title), extinf_value, 0};
  return KAVLO_OK;
}

int item_add_stored(Store &s, const char *location, const char *title) noexcept {
  PlaylistItem *it = new_item(s);
  if (it == nullptr) return KAVLO_ERR_NOMEM;
  *it = PlaylistItem{location != nullptr ? location : "", title != nullptr ? title : "", -1, 0};
  return KAVLO_OK;
}

int line_high_add(Store &s, size_t line) noexcept {
  const size_t item = static_cast<size_t>(s.item_count - 1);
  const auto high = static_cast<uint32_t>(static_cast<uint64_t>(line) >> 32);
  if (append_slot(s.line_highs, s.line_high_capacity, s.line_high_used, 4) == nullptr) return KAVLO_ERR_NOMEM;
  s.line_highs[s.line_high_used++] = LineHigh{item, high};
  s.line_high_last = high;
  return KAVLO_OK;
}

namespace {

// Appends a pair to the attribute array; false when no slot is left. The
// array holds at most 2^32 - 1 pairs, so that ranges fit in 32 bits.
// The value is copied, or taken as it is when the store holds it (a
// `const char *`).
template <class Value>
[[gnu::always_inline]] inline bool attr_append(Store &s, const char *key, Value value) noexcept {
  if (s.attr_used >= s.attr_capacity &&
      !grow_array(s.attrs, s.attr_capacity, s.attr_used + 1,
                  first_capacity(s, 256, sizeof(ItemAttr), 16), UINT32_MAX))
    return false;
  const char *v;
  if constexpr (std::is_same_v<Value, const char *>) v = value;
  else v = copy_string(s, value);
  s.attrs[s.attr_used++] = ItemAttr{key, v != nullptr ? v : ""};
  return true;
}

template <class Value>
void attr_add(Store &s, const char *key, Value value) noexcept {
  if (s.item_count == 0 || key == nullptr) return;
  const size_t item = static_cast<size_t>(s.item_count - 1);
  if (s.attr_range_used <= item) {
    // The items since the last one with attributes have none.
    if (!grow_array(s.attr_ranges, s.attr_range_capacity, item + 1,
                    first_capacity(s, first_item_capacity, sizeof(ItemAttrRange), 32), INT_MAX))
      return;
    for (size_t k = s.attr_range_used; k <= item; ++k) s.attr_ranges[k] = ItemAttrRange{0, 0};
    s.attr_range_used = item + 1;
  }
  ItemAttrRange &r = s.attr_ranges[item];
  if (r.count >= static_cast<uint32_t>(max_attrs)) return;
  const auto begin = static_cast<uint32_t>(s.attr_used);
  if (!attr_append(s, key, value)) return;
  if (r.count == 0) r.begin = begin;
  ++r.count;
}

}  // namespace

void item_attr_add(Store &s, const char *key, std::string_view value) noexcept { attr_add(s, key, value); }

void item_attr_add_stored(Store &s, const char *key, const char *value) noexcept { attr_add(s, key, value); }

void header_attr_add(Store &s, const char *key, std::string_view value) noexcept {
  if (key == nullptr || s.header_attr_count >= max_attrs) return;
  if (s.header_attr_count == 0) s.header_attr_begin = s.attr_used;
  if (attr_append(s, key, value)) ++s.header_attr_count;
}

const ItemOption *item_option_add(Store &s, const char *tag, std::string_view key,
                                  std::string_view value) noexcept {
  if (tag == nullptr) return nullptr;
  if (append_slot(s.options, s.option_capacity, s.option_used, 64) == nullptr) return nullptr;
  const char *k = copy_string(s, key);
  const char *v = copy_string(s, value);
  if (k == nullptr || v == nullptr) return nullptr;
  s.options[s.option_used] = ItemOption{static_cast<size_t>(s.item_count), tag, k, v};
  return &s.options[s.option_used++];
}

void item_http_add(Store &s, HttpSource source, const char *name, const char *value) noexcept {
  if (name == nullptr || value == nullptr || value[0] == '\0') return;
  if (append_slot(s.http, s.http_capacity, s.http_used, 16) == nullptr) return;
  s.http[s.http_used++] = ItemHttp{static_cast<size_t>(s.item_count), name, value, source};
}

const char *item_extgrp_add(Store &s, std::string_view name) noexcept {
  if (append_slot(s.extgrps, s.extgrp_capacity, s.extgrp_used, 16) == nullptr) return nullptr;
  const char *n = copy_string(s, name);
  if (n != nullptr) s.extgrps[s.extgrp_used++] = ItemName{static_cast<size_t>(s.item_count), n};
  return n;
}

void drop_trailing_options(Store &s) noexcept {
  const auto items = static_cast<size_t>(s.item_count);
  while (s.option_used > 0 && s.options[s.option_used - 1].item >= items) --s.option_used;
  while (s.http_used > 0 && s.http[s.http_used - 1].item >= items) --s.http_used;
  while (s.extgrp_used > 0 && s.extgrps[s.extgrp_used - 1].item >= items) --s.extgrp_used;
}

char *arena_block(Store &s, size_t n) noexcept { return arena_alloc(s.arena, n); }

const char *copy_lower(Store &s, std::string_view text) noexcept {
  const char *c = copy_string(s, text);
  if (c == nullptr || c[0] == '\0') return c;
  // The copy is the store's own, in a chunk it writes.
  char *w = const_cast<char *>(c);
  for (size_t i = 0; i < text.size(); ++i) w[i] = static_cast<char>(to_lower(static_cast<unsigned char>(w[i])));
  return c;
}

void item_group_start(Store &s, std::string_view name) noexcept {
  const size_t first = static_cast<size_t>(s.item_count);
  // A group that no item took gives way to the next one.
  if (s.group_used > 0 && s.groups[s.group_used - 1].first_item == first) --s.group_used;
  if (append_slot(s.groups, s.group_capacity, s.group_used, 16) == nullptr) return;
  // A name that cannot be copied still ends the group before it.
  const char *n = copy_string(s, name);
  s.groups[s.group_used++] = ItemGroup{first, n != nullptr ? n : ""};
}

void cue_rem_add(Store &s, std::string_view key, std::string_view value) noexcept {
  int &count = s.track_count > 0 ? s.tracks[s.track_count - 1].rem_count : s.sheet_rem_count;
  if (count == INT_MAX) return;
  if (append_slot(s.rems, s.rem_capacity, s.rem_used, 16) == nullptr) return;
  const char *k = copy_string(s, key);
  const char *v = copy_string(s, value);
  if (k == nullptr || v == nullptr) return;
  if (count == 0 && s.track_count > 0) s.tracks[s.track_count - 1].rem_begin = s.rem_used;
  s.rems[s.rem_used++] = CueRem{k, v};
  ++count;
}

namespace {

constexpr bool is_separator(char c) noexcept { return c == '&' || c == '|'; }

size_t next_separator(std::string_view text, size_t i) noexcept {
  while (i < text.size() && !is_separator(text[i])) ++i;
  return i;
}

}  // namespace

bool header_pairs(std::string_view text, HeaderList &out) noexcept {
  out.count = 0;
  out.dropped = 0;
  out.first_dropped = {};
  bool any = false;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (is_separator(text[i])) {
      ++i;
      continue;
    }
    size_t eq = i;
    while (eq < n && text[eq] != '=' && !is_separator(text[eq])) ++eq;
    if (eq >= n || text[eq] != '=') {
      i = eq;
      continue;
    }
    const std::string_view key = text.substr(i, eq - i);
    const size_t v = eq + 1;
    std::string_view value;
    const bool quoted = v < n && text[v] == '"';
    if (quoted) {
      const size_t close = find_byte(text, v + 1, '"');
      if (close == std::string_view::npos) {
        value = text.substr(v + 1);
        i = n;
      } else {
        value = text.substr(v + 1, close - v - 1);
        i = next_separator(text, close + 1);  // what follows the quote is dropped
      }
    } else {
      i = next_separator(text, v);
      value = text.substr(v, i - v);
    }
    if (key.empty()) continue;
    any = true;
    bool seen = false;
    for (int k = 0; k < out.count && !seen; ++k) seen = str_ieq(out.key[k].view(), key);
    if (seen) continue;
    if (out.count < max_attrs) {
      out.key[out.count] = {key.data(), key.size()};
      out.value[out.count] = {value.data(), value.size()};
      out.quoted[out.count] = quoted;
      ++out.count;
    } else if (out.dropped++ == 0) {
      out.first_dropped = key;
    }
  }
  return any;
}

bool location_headers(std::string_view location, LocationHeaders &out) noexcept {
  const size_t bar = location.find('|');
  if (bar == std::string_view::npos) return false;
  out.url = location.substr(0, bar);
  return header_pairs(location.substr(bar + 1), out);
}

namespace {

// A scheme, "name://", at the start of `s`: a letter, then letters,
// digits, "+", "-" or ".".
bool starts_with_scheme(std::string_view s) noexcept {
  if (s.empty() || to_lower(static_cast<unsigned char>(s[0])) < 'a' || to_lower(static_cast<unsigned char>(s[0])) > 'z')
    return false;
  size_t i = 1;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!((to_lower(c) >= 'a' && to_lower(c) <= 'z') || is_digit(c) || c == '+' || c == '-' || c == '.')) break;
    ++i;
  }
  return s.substr(i, 3) == "://";
}

// An address without its label: the text after its last "$", when not
// empty.
std::string_view split_label(std::string_view address, std::string_view &label) noexcept {
  const size_t dollar = address.rfind('$');
  label = {};
  if (dollar == std::string_view::npos || dollar + 1 >= address.size()) return address;
  label = trim(address.substr(dollar + 1));
  return label.empty() ? address : trim(address.substr(0, dollar));
}

}  // namespace

bool location_addresses(std::string_view location, LocationAddresses &out) noexcept {
  out.alternate_count = 0;
  out.dropped = 0;
  out.first_dropped = {};
  size_t start = 0;
  bool first = true;
  for (size_t i = 0;; ++i) {
    i = find_byte(location, i, '#');
    if (i != std::string_view::npos && !starts_with_scheme(location.substr(skip_space(location, i + 1)))) continue;
    const size_t end = i == std::string_view::npos ? location.size() : i;
    std::string_view label;
    const std::string_view address = split_label(trim(location.substr(start, end - start)), label);
    if (first) {
      out.first = address;
      out.label = label;
      first = false;
    } else if (!address.empty()) {
      if (out.alternate_count < max_attrs) out.alternate[out.alternate_count++] = address;
      else if (out.dropped++ == 0) out.first_dropped = address;
    }
    if (i == std::string_view::npos) break;
    start = i + 1;
  }
  return out.alternate_count > 0 || out.dropped > 0 || !out.label.empty();
}

namespace {

int hex_digit(unsigned char c) noexcept {
  if (is_digit(c)) return c - '0';
  c = to_lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

size_t percent_decode(std::string_view in, char *out) noexcept {
  size_t n = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c == '%' && i + 2 < in.size()) {
      const int hi = hex_digit(static_cast<unsigned char>(in[i + 1]));
      const int lo = hex_digit(static_cast<unsigned char>(in[i + 2]));
      if (hi >= 0 && lo >= 0) {
        out[n++] = static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out[n++] = static_cast<char>(c);
  }
  const std::string_view decoded(out, n);
  for (const char c : decoded)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return SIZE_MAX;
  return is_strict_utf8(decoded) ? n : SIZE_MAX;
}

const char *copy_header_value(Store &s, std::string_view value, bool quoted) noexcept {
  if (quoted || find_byte(value, 0, '%') == std::string_view::npos) return copy_string(s, value);
  char *out = arena_alloc(s.arena, value.size() + 1);
  if (out == nullptr) return nullptr;
  size_t n = percent_decode(value, out);
  if (n == SIZE_MAX) {
    std::memcpy(out, value.data(), value.size());
    n = value.size();
  }
  out[n] = '\0';
  return out;
}

namespace {

// The lower-case name of a header: the key itself when it is lower case.
const char *lower_name(Store &s, const char *key) noexcept {
  for (const char *p = key; *p != '\0'; ++p)
    if (*p >= 'A' && *p <= 'Z') return copy_lower(s, key);
  return key;
}

// Stage of the warnings of the format parsed.
const char *stage(const Store &s) noexcept {
  switch (s.detected_format) {
    case KAVLO_FORMAT_STREAMING_LIST: return "streaming";
    case KAVLO_FORMAT_CUE: return "cue";
    default: return "m3u";
  }
}

// Reads one location into the store; false when it cannot be kept.
bool resolve_location(Store &s, int i, bool streaming) noexcept;

}  // namespace

int item_mark_suffixed(Store &s) noexcept {
  if (append_slot(s.suffixed, s.suffixed_capacity, s.suffixed_used, 16) == nullptr) return KAVLO_ERR_NOMEM;
  s.suffixed[s.suffixed_used++] = s.item_count - 1;
  return KAVLO_OK;
}

uint64_t item_line(const Store &s, size_t i) noexcept {
  // The high bits of the last record at or before the item.
  size_t lo = 0, hi = s.line_high_used;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (s.line_highs[mid].item <= i) lo = mid + 1;
    else hi = mid;
  }
  const uint64_t high = lo == 0 ? 0 : s.line_highs[lo - 1].high;
  return (high << 32) | s.items[i].line;
}

int resolve_item_location(Store &s, size_t i) noexcept {
  const char *location = s.items[i].location;
  const bool streaming = s.detected_format == KAVLO_FORMAT_STREAMING_LIST;
  if (location == nullptr ||
      (streaming ? std::strpbrk(location, "|#$") == nullptr : std::strchr(location, '|') == nullptr))
    return KAVLO_OK;
  return resolve_location(s, static_cast<int>(i), streaming) ? KAVLO_OK : KAVLO_ERR_NOMEM;
}

int resolve_headers(Store &s, size_t from) noexcept {
  const bool streaming = s.detected_format == KAVLO_FORMAT_STREAMING_LIST;
  if (s.suffixes_marked && from == 0) {
    for (size_t k = 0; k < s.suffixed_used; ++k)
      if (!resolve_location(s, s.suffixed[k], streaming)) return KAVLO_ERR_NOMEM;
    return KAVLO_OK;
  }
  // The items of a CUE sheet share the string of their FILE: a location
  // found plain is not looked at again for the next item.
  const char *plain = nullptr;
  for (size_t i = from; i < static_cast<size_t>(s.item_count); ++i) {
    const char *location = s.items[i].location;
    if (location == nullptr || location == plain) continue;
    const bool suffixed =
        streaming ? std::strpbrk(location, "|#$") != nullptr : std::strchr(location, '|') != nullptr;
    if (!suffixed) {
      plain = location;
      continue;
    }
    if (!resolve_location(s, static_cast<int>(i), streaming)) return KAVLO_ERR_NOMEM;
  }
  return KAVLO_OK;
}

namespace {

bool resolve_location(Store &s, int i, bool streaming) noexcept {
  const char *location = s.items[i].location;
  if (location == nullptr) return true;
  LocationAddresses a;
  const bool has_addresses = streaming && location_addresses(location, a);
  const std::string_view first = has_addresses ? a.first : std::string_view(location);
  LocationHeaders h;
  const bool has_headers = location_headers(first, h);
  if (!has_addresses && !has_headers) return true;
  const int pairs = has_headers ? h.count : 0;
  const int alternates = has_addresses ? a.alternate_count : 0;
  if (append_slot(s.locations, s.location_capacity, s.location_used, 16) == nullptr ||
      !grow_array(s.header_pairs, s.header_pair_capacity, s.header_pair_used + static_cast<size_t>(pairs), 64,
                  UINT32_MAX) ||
      !grow_array(s.alternates, s.alternate_capacity, s.alternate_used + static_cast<size_t>(alternates), 16,
                  UINT32_MAX))
    return false;
  const std::string_view url = has_headers ? h.url : first;
  const char *url_copy = url.empty() ? nullptr : copy_string(s, url);
  const char *label = has_addresses && !a.label.empty() ? copy_string(s, a.label) : nullptr;
  if ((!url.empty() && url_copy == nullptr) || (has_addresses && !a.label.empty() && label == nullptr)) return false;
  ItemLocation rec{static_cast<size_t>(i), url_copy, label, static_cast<uint32_t>(s.header_pair_used), 0,
                   static_cast<uint32_t>(s.alternate_used), 0};
  for (int k = 0; k < pairs; ++k) {
    const char *key = copy_string(s, h.key[k].view());
    const char *value = copy_header_value(s, h.value[k].view(), h.quoted[k]);
    const char *name = key != nullptr ? lower_name(s, key) : nullptr;
    if (key == nullptr || value == nullptr || name == nullptr) return false;
    s.header_pairs[s.header_pair_used++] = HeaderPair{key, value, name};
  }
  for (int k = 0; k < alternates; ++k) {
    const char *alternate = copy_string(s, a.alternate[k]);
    if (alternate == nullptr) return false;
    s.alternates[s.alternate_used++] = alternate;
  }
  rec.count = static_cast<uint32_t>(pairs);
  rec.alternate_count = static_cast<uint32_t>(alternates);
  s.locations[s.location_used++] = rec;
  const uint64_t line = item_line(s, static_cast<size_t>(i));
  if (has_headers && h.dropped != 0)
    loss_at(s, line, h.first_dropped, "%s: request headers past the 64th dropped: %zu", stage(s), h.dropped);
  if (has_addresses && a.dropped != 0)
    loss_at(s, line, a.first_dropped, "streaming: alternate addresses past the 64th dropped: %zu", a.dropped);
  return true;
}

}  // namespace

IndexAdd track_index_add(Store &s, int number, int64_t frames) noexcept {
  if (s.track_count == 0) return IndexAdd::failed;
  CueTrack &t = s.tracks[s.track_count - 1];
  if (t.index_count >= max_indices) return IndexAdd::over_cap;
  if (s.index_used >= s.index_capacity &&
      !grow_array(s.indices, s.index_capacity, s.index_used + 1,
                  first_capacity(s, 64, sizeof(CueIndex), 16), UINT32_MAX))
    return IndexAdd::failed;
  if (t.index_count == 0) t.index_begin = static_cast<uint32_t>(s.index_used);
  s.indices[s.index_used++] = CueIndex{number, frames};
  ++t.index_count;
  return IndexAdd::added;
}

CueTrackExtra *last_track_extra(Store &s) noexcept {
  if (s.track_count == 0) return nullptr;
  const int t = s.track_count - 1;
  if (s.extra_used == 0 || s.extras[s.extra_used - 1].track != t) {
    if (append_slot(s.extras, s.extra_capacity, s.extra_used, 16) == nullptr) return nullptr;
    s.extras[s.extra_used++] = CueTrackExtra{t, false, false, 0, 0, nullptr, nullptr, nullptr};
  }
  return &s.extras[s.extra_used - 1];
}

void track_gap_set(Store &s, bool post, int64_t frames) noexcept {
  CueTrackExtra *e = last_track_extra(s);
  if (e == nullptr) return;
  if (post) {
    e->postgap = frames;
    e->has_postgap = true;
  } else {
    e->pregap = frames;
    e->has_pregap = true;
  }
}

const CueTrackExtra *find_track_extra(const Store &s, int t) noexcept {
  size_t lo = 0, hi = s.extra_used;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (s.extras[mid].track < t) lo = mid + 1;
    else hi = mid;
  }
  return lo < s.extra_used && s.extras[lo].track == t ? &s.extras[lo] : nullptr;
}

namespace {

// A subject cut to what a message can hold; "" when it cannot be copied.
const char *copy_subject(Store &s, std::string_view subject) noexcept {
  const size_t keep = utf8_safe_cut(subject.data(), subject.size(), message_size - 1);
  const char *c = copy_string(s, subject.substr(0, keep));
  return c != nullptr ? c : "";
}

void vwarn(Store &s, uint64_t line, std::string_view subject, const char *fmt, va_list ap) noexcept {
  char buf[message_size];
  if (s.warning_count >= max_warnings) {
    if (s.warnings_dropped++ == 0) {
      format_message(buf, fmt, ap);
      s.warnings_dropped_first = copy_string(s, buf);
      s.warnings_dropped_line = line;
    }
    return;
  }
  format_message(buf, fmt, ap);
  // A warning whose copy fails keeps its slot: the count and the order of
  // the others stay as raised, and the accessor answers NULL for it.
  const int k = s.warning_count++;
  s.warnings[k] = copy_string(s, buf);
  s.warning_line[k] = line;
  s.warning_subject[k] = copy_subject(s, subject);
  if (s.warnings[k] != nullptr) s.warning_diagnosed[s.warning_diagnosed_count++] = static_cast<uint16_t>(k);
}

}  // namespace

void warn_at(Store &s, uint64_t line, std::string_view subject, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  vwarn(s, line, subject, fmt, ap);
  va_end(ap);
}

void warnf(Store &s, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  vwarn(s, 0, {}, fmt, ap);
  va_end(ap);
}

void loss_at(Store &s, uint64_t line, std::string_view subject, const char *fmt, ...) noexcept {
  char buf[message_size];
  va_list ap;
  va_start(ap, fmt);
  format_message(buf, fmt, ap);
  va_end(ap);
  if (s.loss_used >= static_cast<size_t>(max_losses)) {
    if (s.losses_dropped++ == 0) {
      s.losses_dropped_first = copy_string(s, buf);
      s.losses_dropped_line = line;
    }
    return;
  }
  // Under memory pressure a loss goes unrecorded.
  if (append_slot(s.losses, s.loss_capacity, s.loss_used, 16) == nullptr) return;
  const char *message = copy_string(s, buf);
  if (message == nullptr) return;
  s.losses[s.loss_used++] = Loss{line, message, copy_subject(s, subject), s.warning_diagnosed_count};
}

void finish_diagnostics(Store &s) noexcept {
  if (s.warnings_dropped != 0)
    std::snprintf(s.warnings_dropped_message, sizeof s.warnings_dropped_message,
                  "warnings past the %dth dropped: %zu", max_warnings, s.warnings_dropped);
  if (s.losses_dropped != 0)
    std::snprintf(s.losses_dropped_message, sizeof s.losses_dropped_message,
                  "diagnostics past the %dth dropped: %zu", max_losses, s.losses_dropped);
}

void set_error(Store &s, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  format_message(s.last_error, fmt, ap);
  va_end(ap);
}

}  // namespace kavlo
