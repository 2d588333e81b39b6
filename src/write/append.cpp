// Results built from the items of others: copies of chosen items of one
// store appended to another, with everything the items carry (attributes,
// options, request headers, streaming group, and for a CUE sheet the
// track), so that filters and merges are written like any parsed result;
// and results built entry by entry from strings a program gives.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kavlo.h"
#include "write.h"
#include "../mem.h"
#include "../parsers/parsers.h"
#include "../text/text.h"
#include "../views.h"
#include "../store/locations.h"
#include "../text/utf8.h"

namespace kavlo {

namespace {

// A store that has not parsed since it was made or cleared (no text was
// decoded into it) and holds nothing yet. Appending to it takes the
// source's format and what belongs to its whole result.
bool holds_nothing(const Store &s) noexcept {
  const CueSheet &c = s.cue;
  return s.encoding == nullptr && s.item_count == 0 && s.track_count == 0 && s.header_attr_count == 0 && s.sheet_rem_count == 0 &&
         c.title == nullptr && c.performer == nullptr && c.songwriter == nullptr && c.catalog == nullptr &&
         c.cdtextfile == nullptr;
}

// The counts of a store's arrays and its result-wide fields, so that a
// failed append gives the store back as it was. Strings copied meanwhile
// stay in the arena until the next clear.
struct Mark {
  explicit Mark(const Store &s) noexcept
      : item_count(s.item_count), attr_used(s.attr_used), attr_range_used(s.attr_range_used),
        option_used(s.option_used), group_used(s.group_used), track_count(s.track_count),
        index_used(s.index_used), rem_used(s.rem_used), sheet_rem_count(s.sheet_rem_count),
        rare_used(s.rare_used), line_high_used(s.line_high_used), line_high_last(s.line_high_last),
        location_used(s.location_used), header_pair_used(s.header_pair_used), alternate_used(s.alternate_used),
        http_used(s.http_used), extgrp_used(s.extgrp_used), loss_used(s.loss_used), losses_dropped(s.losses_dropped),
        title(s.title), epg_count(s.epg_count),
        header_attr_begin(s.header_attr_begin), header_attr_count(s.header_attr_count), cue(s.cue),
        detected_format(s.detected_format), imdb(s.imdb_date_playlist) {}
  void restore(Store &s) const noexcept {
    s.item_count = item_count;
    s.attr_used = attr_used;
    s.attr_range_used = attr_range_used;
    s.option_used = option_used;
    s.group_used = group_used;
    s.track_count = track_count;
    s.index_used = index_used;
    s.rem_used = rem_used;
    s.sheet_rem_count = sheet_rem_count;
    s.rare_used = rare_used;
    s.line_high_used = line_high_used;
    s.line_high_last = line_high_last;
    s.location_used = location_used;
    s.header_pair_used = header_pair_used;
    s.alternate_used = alternate_used;
    s.http_used = http_used;
    s.extgrp_used = extgrp_used;
    s.loss_used = loss_used;
    s.losses_dropped = losses_dropped;
    s.title = title;
    s.epg_count = epg_count;
    s.header_attr_begin = header_attr_begin;
    s.header_attr_count = header_attr_count;
    s.cue = cue;
    s.detected_format = detected_format;
    s.imdb_date_playlist = imdb;
  }
  int item_count;
  size_t attr_used, attr_range_used, option_used, group_used;
  int track_count;
  size_t index_used, rem_used;
  int sheet_rem_count;
  size_t rare_used, line_high_used;
  uint32_t line_high_last;
  size_t location_used, header_pair_used, alternate_used, http_used, extgrp_used, loss_used, losses_dropped;
  const char *title;
  int epg_count;
  size_t header_attr_begin;
  int header_attr_count;
  CueSheet cue;
  int detected_format;
  int imdb;
};

// Copies into the destination store; the first failure sticks.
class Copier {
 public:
  explicit Copier(Store &dst) noexcept : d_(dst) {}
  bool ok() const noexcept { return ok_; }
  void fail() noexcept { ok_ = false; }

  // A copy of a string of the source (NULL stays NULL).
  const char *copy(const char *s) noexcept {
    if (s == nullptr || !ok_) return nullptr;
    const char *c = copy_string(d_, s);
    if (c == nullptr) ok_ = false;
    return c;
  }

  // The same, shared with the copy made last for the same source string
  // (keys of attributes by position, option tags, data types, files).
  struct Shared {
    const char *from = nullptr;
    const char *to = nullptr;
  };
  const char *copy(const char *s, Shared &last) noexcept {
    if (s == nullptr || s != last.from) {
      last.from = s;
      last.to = s == extgrp_key ? extgrp_key : copy(s);
    }
    return last.to;
  }

  bool attr(const char *key, const char *value) noexcept {
    if (!ok_ || key == nullptr || value == nullptr) return ok_;
    if (d_.attr_used >= d_.attr_capacity &&
        !grow_array(d_.attrs, d_.attr_capacity, d_.attr_used + 1, 256, UINT32_MAX))
      return ok_ = false;
    d_.attrs[d_.attr_used++] = ItemAttr{key, value};
    return true;
  }

  template <class T, class Count>
  T *slot(T *&array, Count &capacity, size_t used) noexcept {
    if (!ok_) return nullptr;
    T *p = append_slot(array, capacity, used, 16);
    if (p == nullptr) ok_ = false;
    return p;
  }

 private:
  Store &d_;
  bool ok_ = true;
};

// The streaming group of item `i`: the name of the last group that starts
// at or before it, "" for none.
const char *group_of(const Store &s, size_t i) noexcept {
  const ItemGroup *end = s.groups + s.group_used;
  const ItemGroup *g = std::upper_bound(static_cast<const ItemGroup *>(s.groups), end, i,
                                        [](size_t item, const ItemGroup &x) { return item < x.first_item; });
  return g == static_cast<const ItemGroup *>(s.groups) || (g - 1)->name == nullptr ? "" : (g - 1)->name;
}

// The group in force at the end of a store.
const char *last_group(const Store &s) noexcept {
  return s.group_used == 0 || s.groups[s.group_used - 1].name == nullptr ? "" : s.groups[s.group_used - 1].name;
}

struct Caches {
  Copier::Shared key[max_attrs];
  Copier::Shared tag, datatype, file;
};

// The item's attributes, options and streaming group, for item `i` of the
// source that just became the destination's last item.
void copy_item_members(Store &d, const Store &src, size_t i, Copier &c, Caches &k) noexcept {
  const size_t j = static_cast<size_t>(d.item_count - 1);
  if (const int count = item_attr_count(src, i); count != 0) {
    const ItemAttr *a = item_attrs(src, i);
    const auto begin = static_cast<uint32_t>(d.attr_used);
    uint32_t n = 0;
    for (int x = 0; x < count && c.ok(); ++x) {
      if (a[x].key == nullptr || a[x].value == nullptr) continue;
      if (c.attr(c.copy(a[x].key, k.key[x]), c.copy(a[x].value))) ++n;
    }
    if (c.ok() && n != 0) {
      if (d.attr_range_used <= j) {
        if (!grow_array(d.attr_ranges, d.attr_range_capacity, j + 1, first_item_capacity, INT_MAX)) {
          c.fail();
          return;
        }
        for (size_t r = d.attr_range_used; r <= j; ++r) d.attr_ranges[r] = ItemAttrRange{0, 0};
        d.attr_range_used = j + 1;
      }
      d.attr_ranges[j] = ItemAttrRange{begin, n};
    }
  }
  for (auto [o, end] = item_records(src.options, src.option_used, i, src.stamp); o != end && c.ok(); ++o) {
    const char *tag = c.copy(o->tag, k.tag);
    const char *key = c.copy(o->key);
    const char *value = c.copy(o->value);
    if (ItemOption *slot = c.slot(d.options, d.option_capacity, d.option_used)) {
      *slot = ItemOption{j, tag, key, value};
      ++d.option_used;
    }
  }
  // The request headers of its tag lines and its #EXTGRP: groups.
  for (auto [h, end] = item_records(src.http, src.http_used, i, src.stamp); h != end && c.ok(); ++h) {
    const char *name = c.copy(h->name);
    const char *value = c.copy(h->value);
    if (ItemHttp *slot = c.slot(d.http, d.http_capacity, d.http_used)) {
      *slot = ItemHttp{j, name, value, h->source};
      ++d.http_used;
    }
  }
  for (auto [g, end] = item_records(src.extgrps, src.extgrp_used, i, src.stamp); g != end && c.ok(); ++g) {
    const char *name = c.copy(g->name);
    if (ItemName *slot = c.slot(d.extgrps, d.extgrp_capacity, d.extgrp_used)) {
      *slot = ItemName{j, name};
      ++d.extgrp_used;
    }
  }
  const char *group = group_of(src, i);
  if (c.ok() && std::strcmp(group, last_group(d)) != 0) {
    const char *name = c.copy(group);
    if (ItemGroup *slot = c.slot(d.groups, d.group_capacity, d.group_used)) {
      *slot = ItemGroup{j, name};
      ++d.group_used;
    }
  }
}

// Track `i` of a CUE source with its fields, indices, REM lines, gaps and
// its item.
void copy_track(Store &d, const Store &src, size_t i, Copier &c, Caches &k) noexcept {
  const CueTrack &from = src.tracks[i];
  if (!c.ok()) return;
  if (d.track_count >= d.track_capacity &&
      !grow_array(d.tracks, d.track_capacity, static_cast<size_t>(d.track_count) + 1,
                  first_track_capacity, INT32_MAX)) {
    c.fail();
    return;
  }
  CueTrack t = from;
  t.datatype = c.copy(from.datatype, k.datatype);
  t.title = c.copy(from.title);
  t.performer = c.copy(from.performer);
  if (from.file != nullptr && from.file != k.file.from) {
    k.file.from = from.file;
    k.file.to = copy_string_pair(d, from.file, track_file_type(from));
    if (k.file.to == nullptr) c.fail();
  }
  t.file = from.file != nullptr ? k.file.to : nullptr;
  t.index_begin = static_cast<uint32_t>(d.index_used);
  if (from.index_count != 0) {
    if (!c.ok() || !grow_array(d.indices, d.index_capacity, d.index_used + static_cast<size_t>(from.index_count),
                               64, UINT32_MAX)) {
      c.fail();
      return;
    }
    std::memcpy(d.indices + d.index_used, track_indices(src, from),
                static_cast<size_t>(from.index_count) * sizeof(CueIndex));
    d.index_used += static_cast<size_t>(from.index_count);
  }
  t.rem_begin = d.rem_used;
  for (int r = 0; r < from.rem_count && c.ok(); ++r) {
    const CueRem &rem = src.rems[from.rem_begin + static_cast<size_t>(r)];
    const CueRem copy{c.copy(rem.key), c.copy(rem.value)};
    if (CueRem *slot = c.slot(d.rems, d.rem_capacity, d.rem_used)) {
      *slot = copy;
      ++d.rem_used;
    }
  }
  if (!c.ok()) return;
  const int index = d.track_count;
  d.tracks[d.track_count++] = t;
  if (const CueTrackRare *e = find_track_rare(src, static_cast<int>(i))) {
    const CueTrackRare copy{index,         e->has_pregap,         e->has_postgap,   e->pregap, e->postgap,
                             c.copy(e->songwriter), c.copy(e->isrc), c.copy(e->flags)};
    if (CueTrackRare *slot = c.slot(d.rares, d.rare_capacity, d.rare_used)) {
      *slot = copy;
      ++d.rare_used;
    }
  }
  if (c.ok() && (item_add_stored(d, t.file, t.title) != KAVLO_OK || item_set_line(d, from.line) != KAVLO_OK))
    c.fail();
}

// What belongs to the source's whole result: its format, the attributes
// of its #EXTM3U line, its title and EPG addresses, its CUE sheet fields
// and REM lines.
void take_result(Store &d, const Store &src, Copier &c) noexcept {
  d.detected_format = src.detected_format;
  d.header_attr_begin = d.attr_used;
  for (int k = 0; k < src.header_attr_count && c.ok(); ++k) {
    const ItemAttr &a = src.attrs[src.header_attr_begin + static_cast<size_t>(k)];
    if (c.attr(c.copy(a.key), c.copy(a.value))) ++d.header_attr_count;
  }
  d.title = c.copy(src.title);
  for (int k = 0; k < src.epg_count && c.ok(); ++k)
    if (const char *e = c.copy(src.epg[k])) d.epg[d.epg_count++] = e;
  if (src.detected_format != KAVLO_FORMAT_CUE) return;
  d.cue = CueSheet{c.copy(src.cue.title), c.copy(src.cue.performer), c.copy(src.cue.songwriter),
                   c.copy(src.cue.catalog), c.copy(src.cue.cdtextfile)};
  for (int k = 0; k < src.sheet_rem_count && c.ok(); ++k) {
    const CueRem copy{c.copy(src.rems[k].key), c.copy(src.rems[k].value)};
    if (CueRem *slot = c.slot(d.rems, d.rem_capacity, d.rem_used)) {
      *slot = copy;
      ++d.rem_used;
      ++d.sheet_rem_count;
    }
  }
}

}  // namespace

int append_items(Store &dst, const Store &src, const int *items, size_t count) noexcept {
  if (&dst == &src || (items == nullptr && count != 0)) return KAVLO_ERR_INVALID;
  const size_t n = items != nullptr ? count : static_cast<size_t>(src.item_count);
  const bool src_cue = src.detected_format == KAVLO_FORMAT_CUE;
  for (size_t k = 0; items != nullptr && k < n; ++k)
    if (items[k] < 0 || items[k] >= src.item_count || (src_cue && items[k] >= src.track_count))
      return KAVLO_ERR_INVALID;
  const bool blank = holds_nothing(dst);
  if (!blank && dst.detected_format == KAVLO_FORMAT_CUE && !src_cue) return KAVLO_ERR_FORMAT;
  if (n > static_cast<size_t>(INT_MAX - dst.item_count)) return KAVLO_ERR_NOMEM;

  const Mark mark(dst);
  Copier c(dst);
  if (blank) take_result(dst, src, c);
  const bool tracks = src_cue && dst.detected_format == KAVLO_FORMAT_CUE;
  const auto first = static_cast<size_t>(dst.item_count);
  Caches caches;
  for (size_t k = 0; k < n && c.ok(); ++k) {
    const size_t i = items != nullptr ? static_cast<size_t>(items[k]) : k;
    if (tracks) {
      copy_track(dst, src, i, c, caches);
      continue;
    }
    const PlaylistItem &it = src.items[i];
    const char *location = c.copy(it.location);
    const char *title = c.copy(it.title);
    if (!c.ok() || item_add_stored(dst, location, title) != KAVLO_OK ||
        item_set_line(dst, static_cast<size_t>(item_line(src, i))) != KAVLO_OK) {
      c.fail();
      break;
    }
    dst.items[dst.item_count - 1].extinf_value = it.extinf_value;
    copy_item_members(dst, src, i, c, caches);
  }
  if (!c.ok() || resolve_headers(dst, first) != KAVLO_OK) {
    mark.restore(dst);
    return KAVLO_ERR_NOMEM;
  }
  if (dst.detected_format == KAVLO_FORMAT_M3U) decide_imdb(dst);
  touch(dst);
  return KAVLO_OK;
}

// ---- Entries a program gives -------------------------------------------
//
// Each string is checked against what the M3U reader can give back (see
// the writer's rules in write.cpp), so that the written text reads back
// as the built result: a failed check stores nothing.

namespace {

// Strict UTF-8 without CR or LF, which would end the line.
bool line_text(const char *s) noexcept {
  if (s == nullptr) return false;
  const std::string_view v(s);
  return v.find_first_of("\r\n") == std::string_view::npos && is_strict_utf8(v);
}

// What the reader takes as a location line: something left after
// trimming, not starting with "#".
bool location_text(const char *s) noexcept {
  if (!line_text(s)) return false;
  const std::string_view t = trim(std::string_view(s));
  return !t.empty() && t[0] != '#';
}

// An attribute key: not empty, no "=" or white space.
bool attr_key(const char *k) noexcept {
  if (!line_text(k) || k[0] == '\0') return false;
  for (const char *c = k; *c != '\0'; ++c)
    if (*c == '=' || is_space(static_cast<unsigned char>(*c))) return false;
  return true;
}

// An attribute value: one without a quote is written in quotes; one with
// a quote is written bare, so it may hold no white space and not begin
// with a quote.
bool attr_value(const char *v) noexcept {
  if (!line_text(v)) return false;
  if (std::strchr(v, '"') == nullptr) return true;
  if (v[0] == '"') return false;
  for (const char *c = v; *c != '\0'; ++c)
    if (is_space(static_cast<unsigned char>(*c))) return false;
  return true;
}

// An option's tag: a tag name (a letter, then letters, digits, "-" and
// "_") that the reader keeps as an option, not one it acts on.
bool option_tag(const char *t) noexcept {
  if (t == nullptr) return false;
  const auto letter = [](unsigned char c) { return to_lower(c) >= 'a' && to_lower(c) <= 'z'; };
  if (!letter(static_cast<unsigned char>(t[0]))) return false;
  for (const char *c = t + 1; *c != '\0'; ++c)
    if (!letter(static_cast<unsigned char>(*c)) && !is_digit(static_cast<unsigned char>(*c)) && *c != '-' &&
        *c != '_')
      return false;
  const std::string_view v(t);
  return !starts_with_icase(v, "EXTINF") && !str_ieq(v, "EXTGRP") && !str_ieq(v, "EXTM3U") &&
         !str_ieq(v, "PLAYLIST");
}

// A result items may be added to: one that holds nothing, or an M3U or
// streaming-list result.
bool buildable(const Store &s) noexcept {
  return holds_nothing(s) || s.detected_format == KAVLO_FORMAT_M3U ||
         s.detected_format == KAVLO_FORMAT_STREAMING_LIST;
}

// An attribute pair at the end of the attribute array.
bool push_attr(Store &s, const char *key, const char *value) noexcept {
  Copier c(s);
  const char *k = c.copy(key);
  const char *v = c.copy(value);
  return c.attr(k, v);
}

}  // namespace

int build_item(Store &s, const char *location, const char *title, int64_t duration_ms) noexcept {
  if (!buildable(s) || !location_text(location) || (title != nullptr && !line_text(title)) ||
      duration_ms < -1 || duration_ms > int64_t{2147483} * 1000 || s.item_count == INT_MAX)
    return KAVLO_ERR_INVALID;
  const Mark mark(s);
  const bool blank = holds_nothing(s);
  const std::string_view t = title != nullptr ? trim(std::string_view(title)) : std::string_view();
  const int seconds = duration_ms < 0 ? -1 : static_cast<int>(duration_ms / 1000);
  if (item_add(s, trim(std::string_view(location)), t, seconds) != KAVLO_OK ||
      s.items[s.item_count - 1].location == nullptr || s.items[s.item_count - 1].title == nullptr ||
      resolve_item_location(s, static_cast<size_t>(s.item_count - 1)) != KAVLO_OK) {
    mark.restore(s);
    return KAVLO_ERR_NOMEM;
  }
  if (blank) s.detected_format = KAVLO_FORMAT_M3U;
  // An IMDb date playlist: every title "tt..." with a number of 1 or more
  // (decided as the M3U parser does, one item at a time).
  if (s.detected_format == KAVLO_FORMAT_M3U) {
    const PlaylistItem &it = s.items[s.item_count - 1];
    const bool date = it.title[0] == 't' && it.title[1] == 't' && it.extinf_value >= 1;
    s.imdb_date_playlist = date && (s.item_count == 1 || s.imdb_date_playlist != 0) ? 1 : 0;
  }
  touch(s);
  return KAVLO_OK;
}

int build_attr(Store &s, const char *key, const char *value) noexcept {
  if (s.item_count == 0 || !buildable(s) || !attr_key(key) || !attr_value(value)) return KAVLO_ERR_INVALID;
  const size_t item = static_cast<size_t>(s.item_count - 1);
  const ItemAttrRange r = item < s.attr_range_used ? s.attr_ranges[item] : ItemAttrRange{0, 0};
  // Only the attributes of the last item may end the array.
  if (r.count >= static_cast<uint32_t>(max_attrs) || (r.count != 0 && r.begin + r.count != s.attr_used))
    return KAVLO_ERR_INVALID;
  const Mark mark(s);
  if (s.attr_range_used <= item) {
    if (!grow_array(s.attr_ranges, s.attr_range_capacity, item + 1, first_item_capacity, INT_MAX)) return KAVLO_ERR_NOMEM;
    for (size_t k = s.attr_range_used; k <= item; ++k) s.attr_ranges[k] = ItemAttrRange{0, 0};
    s.attr_range_used = item + 1;
  }
  const auto begin = static_cast<uint32_t>(s.attr_used);
  if (!push_attr(s, key, value)) {
    mark.restore(s);
    return KAVLO_ERR_NOMEM;
  }
  ItemAttrRange &range = s.attr_ranges[item];
  if (range.count == 0) range.begin = begin;
  ++range.count;
  touch(s);
  return KAVLO_OK;
}

int build_option(Store &s, const char *tag, const char *key, const char *value) noexcept {
  if (key == nullptr) key = "";
  if (value == nullptr) value = "";
  // The reader trims the line: a value cannot end in white space.
  const size_t value_len = std::strlen(value);
  if (s.item_count == 0 || !buildable(s) || !option_tag(tag) || !line_text(key) || !line_text(value) ||
      std::strchr(key, '=') != nullptr || (value_len != 0 && is_space(static_cast<unsigned char>(value[value_len - 1]))))
    return KAVLO_ERR_INVALID;
  const size_t item = static_cast<size_t>(s.item_count - 1);
  if (s.option_used != 0 && s.options[s.option_used - 1].item > item) return KAVLO_ERR_INVALID;
  const Mark mark(s);
  Copier c(s);
  const ItemOption o{item, c.copy(tag), c.copy(key), c.copy(value)};
  ItemOption *slot = c.slot(s.options, s.option_capacity, s.option_used);
  if (slot == nullptr) {
    mark.restore(s);
    return KAVLO_ERR_NOMEM;
  }
  *slot = o;
  ++s.option_used;
  touch(s);
  return KAVLO_OK;
}

int build_header_attr(Store &s, const char *key, const char *value) noexcept {
  if (s.item_count != 0 || !buildable(s) || !attr_key(key) || !attr_value(value) ||
      s.header_attr_count >= max_attrs ||
      (s.header_attr_count != 0 && s.header_attr_begin + static_cast<size_t>(s.header_attr_count) != s.attr_used))
    return KAVLO_ERR_INVALID;
  const Mark mark(s);
  const bool blank = holds_nothing(s);
  if (s.header_attr_count == 0) s.header_attr_begin = s.attr_used;
  if (!push_attr(s, key, value)) {
    mark.restore(s);
    return KAVLO_ERR_NOMEM;
  }
  ++s.header_attr_count;
  if (str_ieq(key, "x-tvg-url") || str_ieq(key, "url-tvg")) {
    size_t dropped = 0;
    std::string_view first_dropped;
    keep_epg(s, value, dropped, first_dropped);
  }
  if (blank) s.detected_format = KAVLO_FORMAT_M3U;
  touch(s);
  return KAVLO_OK;
}

}  // namespace kavlo
