// The result store and its operations: string arena, item and track
// arrays, warnings and the last error.
#include "store.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "kavlo.h"
#include "mem.h"

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
  free_array(s.headers, s.header_capacity);
  free_array(s.header_pairs, s.header_pair_capacity);
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
[[gnu::always_inline]] inline bool attr_append(Store &s, const char *key, std::string_view value) noexcept {
  if (s.attr_used >= s.attr_capacity &&
      !grow_array(s.attrs, s.attr_capacity, s.attr_used + 1,
                  first_capacity(s, 256, sizeof(ItemAttr), 16), UINT32_MAX))
    return false;
  const char *v = copy_string(s, value);
  s.attrs[s.attr_used++] = ItemAttr{key, v != nullptr ? v : ""};
  return true;
}

}  // namespace

void item_attr_add(Store &s, const char *key, std::string_view value) noexcept {
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

void header_attr_add(Store &s, const char *key, std::string_view value) noexcept {
  if (key == nullptr || s.header_attr_count >= max_attrs) return;
  if (s.header_attr_count == 0) s.header_attr_begin = s.attr_used;
  if (attr_append(s, key, value)) ++s.header_attr_count;
}

void item_option_add(Store &s, const char *tag, std::string_view key, std::string_view value) noexcept {
  if (tag == nullptr) return;
  if (append_slot(s.options, s.option_capacity, s.option_used, 64) == nullptr) return;
  const char *k = copy_string(s, key);
  const char *v = copy_string(s, value);
  if (k == nullptr || v == nullptr) return;
  s.options[s.option_used++] = ItemOption{static_cast<size_t>(s.item_count), tag, k, v};
}

void drop_trailing_options(Store &s) noexcept {
  while (s.option_used > 0 && s.options[s.option_used - 1].item >= static_cast<size_t>(s.item_count))
    --s.option_used;
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

bool location_headers(std::string_view location, LocationHeaders &out) noexcept {
  const size_t bar = location.find('|');
  if (bar == std::string_view::npos) return false;
  out.url = location.substr(0, bar);
  out.count = 0;
  bool any = false;
  std::string_view rest = location.substr(bar + 1);
  while (true) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      any = true;
      const std::string_view key = pair.substr(0, eq);
      bool seen = false;
      for (int k = 0; k < out.count && !seen; ++k) seen = out.key[k].view() == key;
      if (!seen && out.count < max_attrs) {
        const std::string_view value = pair.substr(eq + 1);
        out.key[out.count] = {key.data(), key.size()};
        out.value[out.count] = {value.data(), value.size()};
        ++out.count;
      }
    }
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return any;
}

int resolve_headers(Store &s, size_t from) noexcept {
  for (size_t i = from; i < static_cast<size_t>(s.item_count); ++i) {
    const char *location = s.items[i].location;
    if (location == nullptr || std::strchr(location, '|') == nullptr) continue;
    LocationHeaders h;
    if (!location_headers(location, h)) continue;
    if (append_slot(s.headers, s.header_capacity, s.header_used, 16) == nullptr ||
        !grow_array(s.header_pairs, s.header_pair_capacity, s.header_pair_used + static_cast<size_t>(h.count),
                    64, UINT32_MAX))
      return KAVLO_ERR_NOMEM;
    const char *url = h.url.empty() ? nullptr : copy_string(s, h.url);
    if (!h.url.empty() && url == nullptr) return KAVLO_ERR_NOMEM;
    const auto begin = static_cast<uint32_t>(s.header_pair_used);
    for (int k = 0; k < h.count; ++k) {
      const char *key = copy_string(s, h.key[k].view());
      const char *value = copy_string(s, h.value[k].view());
      if (key == nullptr || value == nullptr) return KAVLO_ERR_NOMEM;
      s.header_pairs[s.header_pair_used++] = ItemAttr{key, value};
    }
    s.headers[s.header_used++] = ItemHeaders{i, url, begin, static_cast<uint32_t>(h.count)};
  }
  return KAVLO_OK;
}

bool track_index_add(Store &s, int number, int64_t frames) noexcept {
  if (s.track_count == 0) return false;
  CueTrack &t = s.tracks[s.track_count - 1];
  if (t.index_count >= max_indices) return true;
  if (s.index_used >= s.index_capacity &&
      !grow_array(s.indices, s.index_capacity, s.index_used + 1,
                  first_capacity(s, 64, sizeof(CueIndex), 16), UINT32_MAX))
    return false;
  if (t.index_count == 0) t.index_begin = static_cast<uint32_t>(s.index_used);
  s.indices[s.index_used++] = CueIndex{number, frames};
  ++t.index_count;
  return true;
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

void warnf(Store &s, const char *fmt, ...) noexcept {
  if (s.warning_count >= max_warnings) return;
  char buf[message_size];
  va_list ap;
  va_start(ap, fmt);
  format_message(buf, fmt, ap);
  va_end(ap);
  // A warning whose copy fails keeps its slot: the count and the order of
  // the others stay as raised, and the accessor answers NULL for it.
  s.warnings[s.warning_count++] = copy_string(s, buf);
}

void set_error(Store &s, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  format_message(s.last_error, fmt, ap);
  va_end(ap);
}

}  // namespace kavlo
