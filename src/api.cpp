// Every exported function: a few lines each, forwarding to the engine. The
// handle functions read the store of their handle; the process-wide ones
// are the same functions on the library's own handle. Nothing below can
// throw: the engine is noexcept throughout and allocates through the C
// allocator only.
#include <algorithm>
#include <new>
#include <string_view>

#include "kavlo.h"

#include "driver.h"
#include "json/json.h"
#include "mem.h"
#include "store/store.h"
#include "text/text.h"
#include "views.h"
#include "write/write.h"
#include "store/locations.h"

namespace {

using kavlo::Store;

const kavlo::PlaylistItem *item_at(const Store &s, int i) noexcept {
  return (i >= 0 && i < s.item_count) ? &s.items[i] : nullptr;
}

const kavlo::CueTrack *track_at(const Store &s, int i) noexcept {
  return (i >= 0 && i < s.track_count) ? &s.tracks[i] : nullptr;
}

const kavlo::CueIndex *index_at(const Store &s, int track, int slot) noexcept {
  const kavlo::CueTrack *t = track_at(s, track);
  if (t == nullptr || slot < 0 || slot >= t->index_count) return nullptr;
  return kavlo::track_indices(s, *t) + slot;
}

// The attributes of item `item`, or none when out of range.
struct AttrList {
  const kavlo::ItemAttr *attrs = nullptr;
  int count = 0;
  const kavlo::ItemAttr *at(int k) const noexcept { return k >= 0 && k < count ? &attrs[k] : nullptr; }
  const char *find(const char *key) const noexcept {
    if (key == nullptr) return nullptr;
    for (int k = 0; k < count; ++k)
      if (attrs[k].key != nullptr && kavlo::str_ieq(attrs[k].key, key)) return attrs[k].value;
    return nullptr;
  }
};

AttrList item_attr_list(const Store &s, int item) noexcept {
  if (item_at(s, item) == nullptr) return {};
  const auto i = static_cast<size_t>(item);
  return {kavlo::item_attrs(s, i), kavlo::item_attr_count(s, i)};
}

AttrList header_attr_list(const Store &s) noexcept {
  return {s.attrs + s.header_attr_begin, s.header_attr_count};
}

// The options of item `item`: a range of the option array, which is in item
// order.
struct OptionRange {
  const kavlo::ItemOption *first = nullptr;
  int count = 0;
  const kavlo::ItemOption *at(int k) const noexcept { return k >= 0 && k < count ? first + k : nullptr; }
};

OptionRange item_options(const Store &s, int item) noexcept {
  if (item_at(s, item) == nullptr || s.option_used == 0) return {};
  const auto [first, last] =
      kavlo::item_records<kavlo::ItemOption>(s.options, s.option_used, static_cast<size_t>(item), s.stamp);
  return {first, static_cast<int>(last - first)};
}

const kavlo::ItemLocation *find_location(const Store &s, int item) noexcept {
  return item_at(s, item) != nullptr ? kavlo::find_location(s, static_cast<size_t>(item)) : nullptr;
}

const kavlo::HeaderPair *header_at(const Store &s, int item, int k) noexcept {
  const kavlo::ItemLocation *l = find_location(s, item);
  if (l == nullptr || k < 0 || static_cast<uint32_t>(k) >= l->count) return nullptr;
  return &s.header_pairs[l->begin + static_cast<uint32_t>(k)];
}

// The request headers and catch-up settings of item `item`; false when it
// is out of range.
bool item_view(const Store &s, int item, kavlo::HttpSet *http, kavlo::Catchup *catchup) noexcept {
  if (item_at(s, item) == nullptr) return false;
  // What the #EXTM3U line gives every item, made once per result on this
  // thread (keyed as below).
  struct Defaults {
    const Store *store;
    uint64_t stamp;
    kavlo::ItemDefaults set;
  };
  static KAVLO_PER_THREAD Defaults defaults{nullptr, 0, {}};
  if (defaults.store != &s || defaults.stamp != s.stamp) {
    kavlo::header_defaults(s, defaults.set);
    defaults.store = &s;
    defaults.stamp = s.stamp;
  }
  const auto i = static_cast<size_t>(item);
  kavlo::item_view(s, i, kavlo::find_location(s, i), kavlo::item_http_range(s, i), defaults.set, http, catchup);
  return true;
}

// The request headers of the item asked for last on this thread: hosts
// read them one at a time (the count, then each name and value), and each
// set is made from several records. Keyed by the store's stamp, which
// changes with its result. NULL when `item` is out of range.
const kavlo::HttpSet *http_of(const Store &s, int item) noexcept {
  struct Cache {
    const Store *store;
    uint64_t stamp;
    int item;
    kavlo::HttpSet set;
  };
  static KAVLO_PER_THREAD Cache cache{nullptr, 0, -1, {}};
  if (item_at(s, item) == nullptr) return nullptr;
  if (cache.store != &s || cache.stamp != s.stamp || cache.item != item) {
    item_view(s, item, &cache.set, nullptr);
    cache.store = &s;
    cache.stamp = s.stamp;
    cache.item = item;
  }
  return &cache.set;
}

// The #EXTGRP: groups of item `item`: a range of the groups, which are in
// item order.
struct NameRange {
  const kavlo::ItemName *first = nullptr;
  int count = 0;
  const char *at(int k) const noexcept { return k >= 0 && k < count ? first[k].name : nullptr; }
};

NameRange item_extgrps(const Store &s, int item) noexcept {
  if (item_at(s, item) == nullptr || s.extgrp_used == 0) return {};
  const auto [first, last] =
      kavlo::item_records<kavlo::ItemName>(s.extgrps, s.extgrp_used, static_cast<size_t>(item), s.stamp);
  return {first, static_cast<int>(last - first)};
}

bool diagnostic_at(const Store &s, int index, kavlo::Diagnostic &d) noexcept {
  return index >= 0 && kavlo::diagnostic_at(s, static_cast<size_t>(index), d);
}

const kavlo::CueRem *track_rem_at(const Store &s, int track, int r) noexcept {
  const kavlo::CueTrack *t = track_at(s, track);
  if (t == nullptr || r < 0 || r >= t->rem_count) return nullptr;
  return &s.rems[t->rem_begin + static_cast<size_t>(r)];
}

const kavlo::CueRem *sheet_rem_at(const Store &s, int r) noexcept {
  return r >= 0 && r < s.sheet_rem_count ? &s.rems[r] : nullptr;
}

const char *cue_meta(const Store &s, const char *key) noexcept {
  const kavlo::CueSheet &c = s.cue;
  using kavlo::str_ieq;
  if (key == nullptr) return nullptr;
  if (str_ieq(key, "TITLE")) return c.title;
  if (str_ieq(key, "PERFORMER")) return c.performer;
  if (str_ieq(key, "SONGWRITER")) return c.songwriter;
  if (str_ieq(key, "CATALOG")) return c.catalog;
  if (str_ieq(key, "CDTEXTFILE")) return c.cdtextfile;
  return nullptr;
}

const char *cue_track_field(const Store &s, int track, const char *key) noexcept {
  const kavlo::CueTrack *t = track_at(s, track);
  if (t == nullptr || key == nullptr) return nullptr;
  // Hosts ask for every field of every track: the name by its length
  // first, and the rare fields' record only for them.
  using kavlo::str_ieq;
  const std::string_view k(key);
  const char *kavlo::CueTrackRare::*rare = nullptr;
  switch (k.size()) {
    case 4:
      if (str_ieq(k, "FILE")) return t->file;
      if (str_ieq(k, "ISRC")) rare = &kavlo::CueTrackRare::isrc;
      break;
    case 5:
      if (str_ieq(k, "TITLE")) return t->title;
      if (str_ieq(k, "FLAGS")) rare = &kavlo::CueTrackRare::flags;
      break;
    case 8: return str_ieq(k, "DATATYPE") ? t->datatype : nullptr;
    case 9: return str_ieq(k, "PERFORMER") ? t->performer : nullptr;
    case 10:
      if (str_ieq(k, "SONGWRITER")) rare = &kavlo::CueTrackRare::songwriter;
      break;
    default: break;
  }
  if (rare == nullptr) return nullptr;
  const kavlo::CueTrackRare *e = kavlo::find_track_rare(s, track);
  return e ? e->*rare : nullptr;
}

int index_ms(const kavlo::CueIndex *ix) noexcept {
  if (ix == nullptr || ix->frames < 0) return -1;
  // Positions past about 596 hours do not fit; they wrap as 32-bit values.
  return static_cast<int>(static_cast<uint32_t>(ix->frames * 1000 / 75));
}

const char *item_group(const Store &s, int item) noexcept {
  if (item_at(s, item) == nullptr || s.group_used == 0) return nullptr;
  const auto i = static_cast<size_t>(item);
  const kavlo::ItemGroup *begin = s.groups, *end = s.groups + s.group_used;
  // The last group that starts at or before the item.
  const auto g = std::upper_bound(begin, end, i, [](size_t v, const kavlo::ItemGroup &r) { return v < r.first_item; });
  if (g == begin) return nullptr;
  const char *name = (g - 1)->name;
  return name != nullptr && name[0] != '\0' ? name : nullptr;
}

int64_t item_line(const Store &s, int item) noexcept {
  if (item_at(s, item) == nullptr) return 0;
  return static_cast<int64_t>(kavlo::item_line(s, static_cast<size_t>(item)));
}

int64_t track_gap(const Store &s, int track, bool post) noexcept {
  if (track_at(s, track) == nullptr) return -1;
  const kavlo::CueTrackRare *e = kavlo::find_track_rare(s, track);
  if (e == nullptr) return -1;
  if (post) return e->has_postgap ? e->postgap : -1;
  return e->has_pregap ? e->pregap : -1;
}

// The store of a handle; NULL answers as an empty store does.
constinit const Store empty_store{};
const Store &of(const kavlo_playlist *p) noexcept { return p != nullptr ? p->store : empty_store; }

}  // namespace

extern "C" {

// ---- Handles ---------------------------------------------------------------

kavlo_playlist *kavlo_playlist_new(void) KAVLO_NOEXCEPT {
  void *block = kavlo::mem_alloc(sizeof(kavlo_playlist));
  if (block == nullptr) return nullptr;
  return new (block) kavlo_playlist{};
}

void kavlo_playlist_free(kavlo_playlist *p) KAVLO_NOEXCEPT {
  if (p == nullptr) return;
  kavlo::clear(p->store);
  p->~kavlo_playlist();
  kavlo::mem_free(p);
}

int kavlo_playlist_parse(kavlo_playlist *p, const char *text, size_t len, int format,
                         const char *encoding) KAVLO_NOEXCEPT {
  if (p == nullptr) return KAVLO_ERR_INVALID;
  return kavlo::do_parse(p->store, text, len, format, encoding, kavlo::handle_mode);
}

int kavlo_playlist_parse_file(kavlo_playlist *p, const char *path, const char *encoding) KAVLO_NOEXCEPT {
  return kavlo_playlist_parse_file_as(p, path, KAVLO_FORMAT_AUTO, encoding);
}

int kavlo_playlist_parse_fd(kavlo_playlist *p, int fd, int format, const char *encoding) KAVLO_NOEXCEPT {
  if (p == nullptr) return KAVLO_ERR_INVALID;
  return kavlo::parse_fd(p->store, fd, format, encoding);
}

size_t kavlo_playlist_input_size(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).input_size; }

int kavlo_playlist_detect_file(kavlo_playlist *p, const char *path, const char *encoding) KAVLO_NOEXCEPT {
  if (p == nullptr) return KAVLO_ERR_INVALID;
  return kavlo::parse_file(p->store, path, KAVLO_FORMAT_AUTO, encoding, kavlo::handle_detect_mode);
}

int kavlo_playlist_detect_fd(kavlo_playlist *p, int fd, const char *encoding) KAVLO_NOEXCEPT {
  if (p == nullptr) return KAVLO_ERR_INVALID;
  return kavlo::parse_fd(p->store, fd, KAVLO_FORMAT_AUTO, encoding, kavlo::handle_detect_mode);
}

int kavlo_playlist_parse_file_as(kavlo_playlist *p, const char *path, int format,
                                 const char *encoding) KAVLO_NOEXCEPT {
  if (p == nullptr) return KAVLO_ERR_INVALID;
  return kavlo::parse_file(p->store, path, format, encoding, kavlo::handle_mode);
}

void kavlo_playlist_clear(kavlo_playlist *p) KAVLO_NOEXCEPT {
  if (p != nullptr) kavlo::clear(p->store);
}

int kavlo_detect_text(const char *text, size_t len, const char *encoding) KAVLO_NOEXCEPT {
  return kavlo::detect_text(text, len, encoding);
}

int kavlo_playlist_item_count(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).item_count; }

const char *kavlo_playlist_item_location(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(of(p), item);
  return it ? it->location : nullptr;
}

const char *kavlo_playlist_item_title(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(of(p), item);
  return it ? it->title : nullptr;
}

int kavlo_playlist_item_duration_ms(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(of(p), item);
  return it ? kavlo::item_duration_ms(*it) : 0;
}

int kavlo_playlist_item_release_date(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(of(p), item);
  return it ? kavlo::item_release_date(of(p), *it) : 0;
}

int kavlo_playlist_item_attr_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  return item_attr_list(of(p), item).count;
}

const char *kavlo_playlist_item_attr_key(const kavlo_playlist *p, int item, int attr) KAVLO_NOEXCEPT {
  const kavlo::ItemAttr *a = item_attr_list(of(p), item).at(attr);
  return a ? a->key : nullptr;
}

const char *kavlo_playlist_item_attr_value(const kavlo_playlist *p, int item, int attr) KAVLO_NOEXCEPT {
  const kavlo::ItemAttr *a = item_attr_list(of(p), item).at(attr);
  return a ? a->value : nullptr;
}

const char *kavlo_playlist_item_attr(const kavlo_playlist *p, int item, const char *key) KAVLO_NOEXCEPT {
  return item_attr_list(of(p), item).find(key);
}

int kavlo_playlist_m3u_is_imdb_date_playlist(const kavlo_playlist *p) KAVLO_NOEXCEPT {
  return of(p).imdb_date_playlist;
}

const char *kavlo_playlist_cue_meta(const kavlo_playlist *p, const char *key) KAVLO_NOEXCEPT {
  return cue_meta(of(p), key);
}

int kavlo_playlist_cue_track_count(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).track_count; }

const char *kavlo_playlist_cue_track_field(const kavlo_playlist *p, int track, const char *key) KAVLO_NOEXCEPT {
  return cue_track_field(of(p), track, key);
}

int kavlo_playlist_cue_track_index_count(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT {
  const kavlo::CueTrack *t = track_at(of(p), track);
  return t ? t->index_count : 0;
}

int kavlo_playlist_cue_track_index_number(const kavlo_playlist *p, int track, int slot) KAVLO_NOEXCEPT {
  const kavlo::CueIndex *ix = index_at(of(p), track, slot);
  return ix ? ix->number : -1;
}

int64_t kavlo_playlist_cue_track_index_frames(const kavlo_playlist *p, int track, int slot) KAVLO_NOEXCEPT {
  const kavlo::CueIndex *ix = index_at(of(p), track, slot);
  return ix ? ix->frames : -1;
}

int kavlo_playlist_cue_track_index_ms(const kavlo_playlist *p, int track, int slot) KAVLO_NOEXCEPT {
  return index_ms(index_at(of(p), track, slot));
}

int kavlo_playlist_warning_count(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).warning_count; }

const char *kavlo_playlist_warning(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT {
  const Store &s = of(p);
  return (index >= 0 && index < s.warning_count) ? s.warnings[index] : nullptr;
}

const char *kavlo_playlist_last_error(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).last_error; }

int kavlo_playlist_detected_format(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).detected_format; }

const char *kavlo_playlist_json(kavlo_playlist *p) KAVLO_NOEXCEPT {
  return p != nullptr ? kavlo::result_json(p->store) : "{}";
}

const char *kavlo_playlist_json_full(kavlo_playlist *p) KAVLO_NOEXCEPT {
  return p != nullptr ? kavlo::result_json_full(p->store) : "{}";
}

const char *kavlo_playlist_encoding(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).encoding; }

int64_t kavlo_playlist_item_line(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  return item_line(of(p), item);
}

int kavlo_playlist_item_option_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  return item_options(of(p), item).count;
}

const char *kavlo_playlist_item_option_tag(const kavlo_playlist *p, int item, int option) KAVLO_NOEXCEPT {
  const kavlo::ItemOption *o = item_options(of(p), item).at(option);
  return o ? o->tag : nullptr;
}

const char *kavlo_playlist_item_option_key(const kavlo_playlist *p, int item, int option) KAVLO_NOEXCEPT {
  const kavlo::ItemOption *o = item_options(of(p), item).at(option);
  return o ? o->key : nullptr;
}

const char *kavlo_playlist_item_option_value(const kavlo_playlist *p, int item, int option) KAVLO_NOEXCEPT {
  const kavlo::ItemOption *o = item_options(of(p), item).at(option);
  return o ? o->value : nullptr;
}

const char *kavlo_playlist_item_url(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::ItemLocation *l = find_location(of(p), item);
  return l ? l->url : nullptr;
}

int kavlo_playlist_item_header_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::ItemLocation *l = find_location(of(p), item);
  return l ? static_cast<int>(l->count) : 0;
}

const char *kavlo_playlist_item_header_key(const kavlo_playlist *p, int item, int header) KAVLO_NOEXCEPT {
  const kavlo::HeaderPair *a = header_at(of(p), item, header);
  return a ? a->key : nullptr;
}

const char *kavlo_playlist_item_header_value(const kavlo_playlist *p, int item, int header) KAVLO_NOEXCEPT {
  const kavlo::HeaderPair *a = header_at(of(p), item, header);
  return a ? a->value : nullptr;
}

const char *kavlo_playlist_item_label(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::ItemLocation *l = find_location(of(p), item);
  return l ? l->label : nullptr;
}

int kavlo_playlist_item_alternate_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::ItemLocation *l = find_location(of(p), item);
  return l ? static_cast<int>(l->alternate_count) : 0;
}

const char *kavlo_playlist_item_alternate(const kavlo_playlist *p, int item, int alternate) KAVLO_NOEXCEPT {
  const kavlo::ItemLocation *l = find_location(of(p), item);
  if (l == nullptr || alternate < 0 || static_cast<uint32_t>(alternate) >= l->alternate_count) return nullptr;
  return of(p).alternates[l->alternate_begin + static_cast<uint32_t>(alternate)];
}

int kavlo_playlist_item_http_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  const kavlo::HttpSet *http = http_of(of(p), item);
  return http != nullptr ? http->count : 0;
}

const char *kavlo_playlist_item_http_key(const kavlo_playlist *p, int item, int header) KAVLO_NOEXCEPT {
  const kavlo::HttpSet *http = http_of(of(p), item);
  return http != nullptr && header >= 0 && header < http->count ? http->name[header] : nullptr;
}

const char *kavlo_playlist_item_http_value(const kavlo_playlist *p, int item, int header) KAVLO_NOEXCEPT {
  const kavlo::HttpSet *http = http_of(of(p), item);
  return http != nullptr && header >= 0 && header < http->count ? http->value[header] : nullptr;
}

const char *kavlo_playlist_item_http(const kavlo_playlist *p, int item, const char *name) KAVLO_NOEXCEPT {
  const kavlo::HttpSet *http = name != nullptr ? http_of(of(p), item) : nullptr;
  if (http == nullptr) return nullptr;
  for (int k = 0; k < http->count; ++k)
    if (kavlo::str_ieq(http->name[k], name)) return http->value[k];
  return nullptr;
}

const char *kavlo_playlist_item_catchup(const kavlo_playlist *p, int item, const char *key) KAVLO_NOEXCEPT {
  kavlo::Catchup catchup;
  return item_view(of(p), item, nullptr, &catchup) ? catchup.field(key) : nullptr;
}

int kavlo_playlist_item_group_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  return item_extgrps(of(p), item).count;
}

const char *kavlo_playlist_item_group_at(const kavlo_playlist *p, int item, int group) KAVLO_NOEXCEPT {
  return item_extgrps(of(p), item).at(group);
}

const char *kavlo_playlist_title(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).title; }

int kavlo_playlist_epg_count(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).epg_count; }

const char *kavlo_playlist_epg(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT {
  const Store &s = of(p);
  return index >= 0 && index < s.epg_count ? s.epg[index] : nullptr;
}

int kavlo_playlist_diagnostic_count(const kavlo_playlist *p) KAVLO_NOEXCEPT {
  return static_cast<int>(kavlo::diagnostic_count(of(p)));
}

int64_t kavlo_playlist_diagnostic_line(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT {
  kavlo::Diagnostic d;
  return diagnostic_at(of(p), index, d) ? static_cast<int64_t>(d.line) : -1;
}

const char *kavlo_playlist_diagnostic_message(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT {
  kavlo::Diagnostic d;
  return diagnostic_at(of(p), index, d) ? d.message : nullptr;
}

const char *kavlo_playlist_diagnostic_subject(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT {
  kavlo::Diagnostic d;
  return diagnostic_at(of(p), index, d) ? d.subject : nullptr;
}

const char *kavlo_playlist_item_group(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT {
  return item_group(of(p), item);
}

int kavlo_playlist_header_attr_count(const kavlo_playlist *p) KAVLO_NOEXCEPT {
  return header_attr_list(of(p)).count;
}

const char *kavlo_playlist_header_attr_key(const kavlo_playlist *p, int attr) KAVLO_NOEXCEPT {
  const kavlo::ItemAttr *a = header_attr_list(of(p)).at(attr);
  return a ? a->key : nullptr;
}

const char *kavlo_playlist_header_attr_value(const kavlo_playlist *p, int attr) KAVLO_NOEXCEPT {
  const kavlo::ItemAttr *a = header_attr_list(of(p)).at(attr);
  return a ? a->value : nullptr;
}

const char *kavlo_playlist_header_attr(const kavlo_playlist *p, const char *key) KAVLO_NOEXCEPT {
  return header_attr_list(of(p)).find(key);
}

int kavlo_playlist_cue_track_number(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT {
  const kavlo::CueTrack *t = track_at(of(p), track);
  return t ? t->number : -1;
}

int64_t kavlo_playlist_cue_track_pregap(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT {
  return track_gap(of(p), track, false);
}

int64_t kavlo_playlist_cue_track_postgap(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT {
  return track_gap(of(p), track, true);
}

int kavlo_playlist_cue_rem_count(const kavlo_playlist *p) KAVLO_NOEXCEPT { return of(p).sheet_rem_count; }

const char *kavlo_playlist_cue_rem_key(const kavlo_playlist *p, int rem) KAVLO_NOEXCEPT {
  const kavlo::CueRem *r = sheet_rem_at(of(p), rem);
  return r ? r->key : nullptr;
}

const char *kavlo_playlist_cue_rem_value(const kavlo_playlist *p, int rem) KAVLO_NOEXCEPT {
  const kavlo::CueRem *r = sheet_rem_at(of(p), rem);
  return r ? r->value : nullptr;
}

int kavlo_playlist_cue_track_rem_count(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT {
  const kavlo::CueTrack *t = track_at(of(p), track);
  return t ? t->rem_count : 0;
}

const char *kavlo_playlist_cue_track_rem_key(const kavlo_playlist *p, int track, int rem) KAVLO_NOEXCEPT {
  const kavlo::CueRem *r = track_rem_at(of(p), track, rem);
  return r ? r->key : nullptr;
}

const char *kavlo_playlist_cue_track_rem_value(const kavlo_playlist *p, int track, int rem) KAVLO_NOEXCEPT {
  const kavlo::CueRem *r = track_rem_at(of(p), track, rem);
  return r ? r->value : nullptr;
}

// ---- Writing ---------------------------------------------------------------

int kavlo_playlist_write(kavlo_playlist *p, int format, unsigned flags, const char **text,
                         size_t *length) KAVLO_NOEXCEPT {
  if (p == nullptr) {
    if (text != nullptr) *text = nullptr;
    if (length != nullptr) *length = 0;
    return KAVLO_ERR_INVALID;
  }
  return kavlo::write_playlist(p->store, format, flags, text, length);
}

int kavlo_playlist_add_item(kavlo_playlist *p, const char *location, const char *title,
                            int64_t duration_ms) KAVLO_NOEXCEPT {
  return p != nullptr ? kavlo::build_item(p->store, location, title, duration_ms) : KAVLO_ERR_INVALID;
}

int kavlo_playlist_add_attr(kavlo_playlist *p, const char *key, const char *value) KAVLO_NOEXCEPT {
  return p != nullptr ? kavlo::build_attr(p->store, key, value) : KAVLO_ERR_INVALID;
}

int kavlo_playlist_add_option(kavlo_playlist *p, const char *tag, const char *key,
                              const char *value) KAVLO_NOEXCEPT {
  return p != nullptr ? kavlo::build_option(p->store, tag, key, value) : KAVLO_ERR_INVALID;
}

int kavlo_playlist_add_header_attr(kavlo_playlist *p, const char *key, const char *value) KAVLO_NOEXCEPT {
  return p != nullptr ? kavlo::build_header_attr(p->store, key, value) : KAVLO_ERR_INVALID;
}

int kavlo_playlist_append(kavlo_playlist *dst, const kavlo_playlist *src, const int *items,
                          size_t count) KAVLO_NOEXCEPT {
  if (dst == nullptr || src == nullptr) return KAVLO_ERR_INVALID;
  return kavlo::append_items(dst->store, src->store, items, count);
}

}  // extern "C"
