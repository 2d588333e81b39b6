// Every exported function: a few lines each, forwarding to the engine.
// Entry points that allocate sit behind a barrier so that nothing is ever
// thrown across the C interface.
#include "kavlo.h"

#include "driver.h"
#include "json/json.h"
#include "store.h"
#include "text.h"

namespace {

using kavlo::Store;

template <class F>
auto guarded(F &&body, decltype(body()) on_failure) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    return on_failure;
  }
}

const Store &cstore() noexcept { return kavlo::store(); }

const kavlo::PlaylistItem *item_at(int i) noexcept {
  const Store &s = cstore();
  return (i >= 0 && i < s.item_count) ? &s.items[i] : nullptr;
}

const kavlo::CueTrack *track_at(int i) noexcept {
  const Store &s = cstore();
  return (i >= 0 && i < s.track_count) ? &s.tracks[i] : nullptr;
}

const kavlo::CueIndex *index_at(int track, int slot) noexcept {
  const kavlo::CueTrack *t = track_at(track);
  if (t == nullptr || slot < 0 || slot >= t->index_count) return nullptr;
  return kavlo::track_indices(cstore(), *t) + slot;
}

}  // namespace

extern "C" {

int kavlo_parse(const char *text, size_t len, int format) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::do_parse(kavlo::store(), text, len, format, nullptr); },
                 KAVLO_ERR_NOMEM);
}

int kavlo_parse_enc(const char *text, size_t len, int format, const char *encoding) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::do_parse(kavlo::store(), text, len, format, encoding); },
                 KAVLO_ERR_NOMEM);
}

int kavlo_parse_file(const char *path) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::parse_file(kavlo::store(), path, nullptr); },
                 KAVLO_ERR_NOMEM);
}

int kavlo_parse_file_enc(const char *path, const char *encoding) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::parse_file(kavlo::store(), path, encoding); },
                 KAVLO_ERR_NOMEM);
}

int kavlo_detect(const char *text, size_t len) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::detect(kavlo::store(), text, len); }, KAVLO_FORMAT_UNKNOWN);
}

void kavlo_clear(void) KAVLO_NOEXCEPT { kavlo::clear(kavlo::store()); }

int kavlo_item_count(void) KAVLO_NOEXCEPT { return cstore().item_count; }

const char *kavlo_item_location(int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(item);
  return it ? it->location : nullptr;
}

const char *kavlo_item_title(int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(item);
  return it ? it->title : nullptr;
}

int kavlo_item_duration_ms(int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(item);
  return it ? kavlo::item_duration_ms(*it) : 0;
}

int kavlo_item_release_date(int item) KAVLO_NOEXCEPT {
  const kavlo::PlaylistItem *it = item_at(item);
  return it ? kavlo::item_release_date(cstore(), *it) : 0;
}

int kavlo_item_attr_count(int item) KAVLO_NOEXCEPT {
  return item_at(item) ? kavlo::item_attr_count(cstore(), static_cast<size_t>(item)) : 0;
}

const char *kavlo_item_attr_key(int item, int attr) KAVLO_NOEXCEPT {
  if (item_at(item) == nullptr || attr < 0 ||
      attr >= kavlo::item_attr_count(cstore(), static_cast<size_t>(item)))
    return nullptr;
  return kavlo::item_attrs(cstore(), static_cast<size_t>(item))[attr].key;
}

const char *kavlo_item_attr(int item, const char *key) KAVLO_NOEXCEPT {
  if (item_at(item) == nullptr || key == nullptr) return nullptr;
  const auto i = static_cast<size_t>(item);
  const kavlo::ItemAttr *a = kavlo::item_attrs(cstore(), i);
  const int count = kavlo::item_attr_count(cstore(), i);
  for (int k = 0; k < count; ++k)
    if (a[k].key != nullptr && kavlo::str_ieq(a[k].key, key)) return a[k].value;
  return nullptr;
}

int kavlo_m3u_is_imdb_date_playlist(void) KAVLO_NOEXCEPT { return cstore().imdb_date_playlist; }

const char *kavlo_cue_meta(const char *key) KAVLO_NOEXCEPT {
  const kavlo::CueSheet &c = cstore().cue;
  using kavlo::str_ieq;
  if (key == nullptr) return nullptr;
  if (str_ieq(key, "TITLE")) return c.title;
  if (str_ieq(key, "PERFORMER")) return c.performer;
  if (str_ieq(key, "SONGWRITER")) return c.songwriter;
  if (str_ieq(key, "CATALOG")) return c.catalog;
  if (str_ieq(key, "CDTEXTFILE")) return c.cdtextfile;
  return nullptr;
}

int kavlo_cue_track_count(void) KAVLO_NOEXCEPT { return cstore().track_count; }

const char *kavlo_cue_track_field(int track, const char *key) KAVLO_NOEXCEPT {
  const kavlo::CueTrack *t = track_at(track);
  using kavlo::str_ieq;
  if (t == nullptr || key == nullptr) return nullptr;
  if (str_ieq(key, "TITLE")) return t->title;
  if (str_ieq(key, "PERFORMER")) return t->performer;
  const kavlo::CueTrackExtra *e = kavlo::find_track_extra(cstore(), track);
  if (str_ieq(key, "SONGWRITER")) return e ? e->songwriter : nullptr;
  if (str_ieq(key, "ISRC")) return e ? e->isrc : nullptr;
  if (str_ieq(key, "FILE")) return t->file;
  if (str_ieq(key, "FLAGS")) return e ? e->flags : nullptr;
  if (str_ieq(key, "DATATYPE")) return t->datatype;
  return nullptr;
}

int kavlo_cue_track_index_count(int track) KAVLO_NOEXCEPT {
  const kavlo::CueTrack *t = track_at(track);
  return t ? t->index_count : 0;
}

int kavlo_cue_track_index_number(int track, int slot) KAVLO_NOEXCEPT {
  const kavlo::CueIndex *ix = index_at(track, slot);
  return ix ? ix->number : -1;
}

int64_t kavlo_cue_track_index_frames(int track, int slot) KAVLO_NOEXCEPT {
  const kavlo::CueIndex *ix = index_at(track, slot);
  return ix ? ix->frames : -1;
}

int kavlo_cue_track_index_ms(int track, int slot) KAVLO_NOEXCEPT {
  const kavlo::CueIndex *ix = index_at(track, slot);
  if (ix == nullptr || ix->frames < 0) return -1;
  // Positions past about 596 hours do not fit; they wrap as 32-bit values.
  return static_cast<int>(static_cast<uint32_t>(ix->frames * 1000 / 75));
}

int kavlo_warning_count(void) KAVLO_NOEXCEPT { return cstore().warning_count; }

const char *kavlo_warning(int index) KAVLO_NOEXCEPT {
  const Store &s = cstore();
  return (index >= 0 && index < s.warning_count) ? s.warnings[index] : nullptr;
}

const char *kavlo_last_error(void) KAVLO_NOEXCEPT { return cstore().last_error; }

int kavlo_detected_format(void) KAVLO_NOEXCEPT { return cstore().detected_format; }

const char *kavlo_format_name(int code) KAVLO_NOEXCEPT { return kavlo::format_name(code); }

const char *kavlo_version(void) KAVLO_NOEXCEPT { return KAVLO_VERSION; }

const char *kavlo_result_json_full(void) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::result_json_full(kavlo::store()); }, "{}");
}

const char *kavlo_result_json(void) KAVLO_NOEXCEPT {
  return guarded([&] { return kavlo::result_json(kavlo::store()); }, "{}");
}

}  // extern "C"
