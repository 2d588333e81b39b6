// The result store and its operations: the item and track arrays and the
// records beside them (the arena, the messages and the locations' suffixes
// have files of their own).
#include "store.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "kavlo.h"
#include "../mem.h"
#include "../text/text.h"

namespace kavlo {

namespace {

constinit kavlo_playlist g_default{};


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

void clear(Store &s) noexcept {
  free_array(s.items, s.item_capacity);
  free_array(s.tracks, s.track_capacity);
  free_array(s.attrs, s.attr_capacity);
  free_array(s.indices, s.index_capacity);
  free_array(s.options, s.option_capacity);
  free_array(s.groups, s.group_capacity);
  free_array(s.rems, s.rem_capacity);
  free_array(s.rares, s.rare_capacity);
  free_array(s.line_highs, s.line_high_capacity);
  free_array(s.attr_ranges, s.attr_range_capacity);
  free_array(s.suffixed, s.suffixed_capacity);
  free_array(s.locations, s.location_capacity);
  free_array(s.header_pairs, s.header_pair_capacity);
  free_array(s.alternates, s.alternate_capacity);
  free_array(s.http, s.http_capacity);
  free_array(s.extgrps, s.extgrp_capacity);
  free_array(s.losses, s.loss_capacity);
  arena_release(s.arena);
  block_free(s.json_text, s.json_capacity);
  block_free(s.write_text, s.write_capacity);
  block_free(s.decoded_text, s.decoded_capacity);
  std::memset(static_cast<void *>(&s), 0, sizeof s);
  touch(s);
}

void touch(Store &s) noexcept {
  static std::atomic<uint64_t> last{0};
  s.stamp = last.fetch_add(1, std::memory_order_relaxed) + 1;
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

CueTrackRare *last_track_rare(Store &s) noexcept {
  if (s.track_count == 0) return nullptr;
  const int t = s.track_count - 1;
  if (s.rare_used == 0 || s.rares[s.rare_used - 1].track != t) {
    if (append_slot(s.rares, s.rare_capacity, s.rare_used, 16) == nullptr) return nullptr;
    s.rares[s.rare_used++] = CueTrackRare{t, false, false, 0, 0, nullptr, nullptr, nullptr};
  }
  return &s.rares[s.rare_used - 1];
}

int track_add(Store &s, int number, const char *datatype, const char *file, size_t line) noexcept {
  if (s.track_count >= s.track_capacity &&
      !grow_array(s.tracks, s.track_capacity, static_cast<size_t>(s.track_count) + 1,
                  first_capacity(s, first_track_capacity, sizeof(CueTrack), 64), INT32_MAX))
    return KAVLO_ERR_NOMEM;
  CueTrack &t = s.tracks[s.track_count++];
  t = CueTrack{};
  t.line = line;
  t.number = number;
  t.datatype = datatype;
  t.file = file;
  return KAVLO_OK;
}

void cue_field_set(Store &s, CueField field, std::string_view value) noexcept {
  CueTrack *t = s.track_count > 0 ? &s.tracks[s.track_count - 1] : nullptr;
  const char **slot = nullptr;
  switch (field) {
    case CueField::title: slot = t ? &t->title : &s.cue.title; break;
    case CueField::performer: slot = t ? &t->performer : &s.cue.performer; break;
    case CueField::catalog: slot = t ? nullptr : &s.cue.catalog; break;
    case CueField::cdtextfile: slot = t ? nullptr : &s.cue.cdtextfile; break;
    case CueField::songwriter:
    case CueField::isrc:
    case CueField::flags:
      if (t == nullptr && field != CueField::songwriter) break;
      if (t == nullptr) {
        slot = &s.cue.songwriter;
      } else if (CueTrackRare *e = last_track_rare(s)) {
        slot = field == CueField::songwriter ? &e->songwriter : field == CueField::isrc ? &e->isrc : &e->flags;
      }
      break;
  }
  if (slot != nullptr) *slot = copy_string(s, value);
}

void track_gap_set(Store &s, bool post, int64_t frames) noexcept {
  CueTrackRare *e = last_track_rare(s);
  if (e == nullptr) return;
  if (post) {
    e->postgap = frames;
    e->has_postgap = true;
  } else {
    e->pregap = frames;
    e->has_pregap = true;
  }
}

const CueTrackRare *find_track_rare(const Store &s, int t) noexcept {
  size_t lo = 0, hi = s.rare_used;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (s.rares[mid].track < t) lo = mid + 1;
    else hi = mid;
  }
  return lo < s.rare_used && s.rares[lo].track == t ? &s.rares[lo] : nullptr;
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

}  // namespace kavlo
