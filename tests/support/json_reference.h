// The reference for the JSON export: the document built as a yyjson mutable
// document from the store and written with flag word 0. The export must
// give the same bytes. Reads the engine's store directly, so it serves the
// white-box tests and the fuzz harnesses, which link the engine's objects.
#pragma once

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "kavlo.h"
#include "../../src/store/store.h"

namespace kt {

namespace reference_detail {

inline const char *or_empty(const char *s) { return s != nullptr ? s : ""; }

inline void put(yyjson_mut_doc *d, yyjson_mut_val *obj, const char *key, yyjson_mut_val *val) {
  if (val != nullptr) yyjson_mut_obj_add(obj, yyjson_mut_str(d, key), val);
}

inline yyjson_mut_val *item(yyjson_mut_doc *d, const kavlo::Store &s, size_t i) {
  const kavlo::PlaylistItem &it = s.items[i];
  yyjson_mut_val *o = yyjson_mut_obj(d);
  put(d, o, "title", yyjson_mut_str(d, or_empty(it.title)));
  put(d, o, "location", yyjson_mut_str(d, or_empty(it.location)));
  put(d, o, "duration_ms", yyjson_mut_sint(d, kavlo::item_duration_ms(it)));
  const int release_date = kavlo::item_release_date(s, it);
  if (release_date != 0) put(d, o, "release_date", yyjson_mut_sint(d, release_date));
  if (const int count = kavlo::item_attr_count(s, i); count != 0) {
    yyjson_mut_val *attrs = yyjson_mut_obj(d);
    const kavlo::ItemAttr *a = kavlo::item_attrs(s, i);
    for (int k = 0; k < count; ++k)
      if (a[k].key != nullptr && a[k].value != nullptr)
        yyjson_mut_obj_add(attrs, yyjson_mut_str(d, a[k].key), yyjson_mut_str(d, a[k].value));
    put(d, o, "attrs", attrs);
  }
  return o;
}

inline yyjson_mut_val *cue(yyjson_mut_doc *d, const kavlo::Store &s) {
  yyjson_mut_val *cue = yyjson_mut_obj(d);
  if (s.cue.title != nullptr) put(d, cue, "title", yyjson_mut_str(d, s.cue.title));
  if (s.cue.performer != nullptr) put(d, cue, "performer", yyjson_mut_str(d, s.cue.performer));
  yyjson_mut_val *tracks = yyjson_mut_arr(d);
  for (int i = 0; i < s.track_count; ++i) {
    const kavlo::CueTrack &t = s.tracks[i];
    yyjson_mut_val *to = yyjson_mut_obj(d);
    put(d, to, "number", yyjson_mut_sint(d, t.number));
    if (t.title != nullptr) put(d, to, "title", yyjson_mut_str(d, t.title));
    if (t.file != nullptr) put(d, to, "file", yyjson_mut_str(d, t.file));
    yyjson_mut_val *indices = yyjson_mut_arr(d);
    const kavlo::CueIndex *ix = kavlo::track_indices(s, t);
    for (int k = 0; k < t.index_count; ++k) {
      yyjson_mut_val *io = yyjson_mut_obj(d);
      put(d, io, "n", yyjson_mut_sint(d, ix[k].number));
      put(d, io, "frames", yyjson_mut_sint(d, ix[k].frames));
      const int64_t ms = ix[k].frames * 1000 / 75;
      put(d, io, "ms", yyjson_mut_sint(d, static_cast<int32_t>(static_cast<uint32_t>(ms))));
      yyjson_mut_arr_append(indices, io);
    }
    put(d, to, "indices", indices);
    yyjson_mut_arr_append(tracks, to);
  }
  put(d, cue, "tracks", tracks);
  return cue;
}

}  // namespace reference_detail

// The reference text of the store's document, or "{}" when yyjson refuses
// to write it.
inline std::string reference_json(const kavlo::Store &s) {
  namespace r = reference_detail;
  yyjson_mut_doc *d = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(d);
  yyjson_mut_doc_set_root(d, root);
  r::put(d, root, "format", yyjson_mut_str(d, kavlo::format_name(s.detected_format)));
  r::put(d, root, "item_count", yyjson_mut_sint(d, s.item_count));
  r::put(d, root, "imdb_date_playlist", yyjson_mut_bool(d, s.imdb_date_playlist != 0));
  yyjson_mut_val *items = yyjson_mut_arr(d);
  r::put(d, root, "items", items);
  for (int i = 0; i < s.item_count; ++i) yyjson_mut_arr_append(items, r::item(d, s, static_cast<size_t>(i)));
  if (s.detected_format == KAVLO_FORMAT_CUE) r::put(d, root, "cue", r::cue(d, s));
  if (s.warning_count > 0) {
    yyjson_mut_val *w = yyjson_mut_arr(d);
    for (int i = 0; i < s.warning_count; ++i)
      if (s.warnings[i] != nullptr) yyjson_mut_arr_append(w, yyjson_mut_str(d, s.warnings[i]));
    r::put(d, root, "warnings", w);
  }
  char *text = yyjson_mut_write_opts(d, 0, nullptr, nullptr, nullptr);
  std::string out = text != nullptr ? text : "{}";
  std::free(text);
  yyjson_mut_doc_free(d);
  return out;
}

}  // namespace kt
