// JSON export with yyjson: a mutable document whose strings refer to the
// store's strings without copying, written compact with no flags. The
// writer validates UTF-8 strictly and refuses the whole document otherwise.
#include "json.h"

#include <yyjson.h>

#include <memory>

#include "kavlo.h"
#include "../mem.h"

namespace kavlo {

namespace {

struct DocFree {
  void operator()(yyjson_mut_doc *d) const noexcept { yyjson_mut_doc_free(d); }
};
using Doc = std::unique_ptr<yyjson_mut_doc, DocFree>;

const char *or_empty(const char *s) noexcept { return s != nullptr ? s : ""; }

// Adds `key` to `obj` when the value could be made; a value or member that
// cannot be allocated is left out and building goes on.
void put(yyjson_mut_doc *d, yyjson_mut_val *obj, const char *key, yyjson_mut_val *val) noexcept {
  if (val == nullptr) return;
  yyjson_mut_val *k = yyjson_mut_str(d, key);
  if (k != nullptr) yyjson_mut_obj_add(obj, k, val);
}

yyjson_mut_val *item_object(yyjson_mut_doc *d, const Store &s, const PlaylistItem &it) noexcept {
  yyjson_mut_val *o = yyjson_mut_obj(d);
  if (o == nullptr) return nullptr;
  put(d, o, "title", yyjson_mut_str(d, or_empty(it.title)));
  put(d, o, "location", yyjson_mut_str(d, or_empty(it.location)));
  put(d, o, "duration_ms", yyjson_mut_sint(d, it.duration_ms));
  if (it.release_date != 0) put(d, o, "release_date", yyjson_mut_sint(d, it.release_date));
  if (it.attr_count != 0) {
    yyjson_mut_val *attrs = yyjson_mut_obj(d);
    if (attrs != nullptr) {
      const ItemAttr *a = item_attrs(s, it);
      for (int k = 0; k < it.attr_count; ++k) {
        if (a[k].key == nullptr || a[k].value == nullptr) continue;
        yyjson_mut_val *key = yyjson_mut_str(d, a[k].key);
        yyjson_mut_val *val = yyjson_mut_str(d, a[k].value);
        if (key != nullptr && val != nullptr) yyjson_mut_obj_add(attrs, key, val);
      }
      put(d, o, "attrs", attrs);
    }
  }
  return o;
}

yyjson_mut_val *cue_object(yyjson_mut_doc *d, const Store &s) noexcept {
  yyjson_mut_val *cue = yyjson_mut_obj(d);
  if (cue == nullptr) return nullptr;
  if (s.cue.title != nullptr) put(d, cue, "title", yyjson_mut_str(d, s.cue.title));
  if (s.cue.performer != nullptr) put(d, cue, "performer", yyjson_mut_str(d, s.cue.performer));
  yyjson_mut_val *tracks = yyjson_mut_arr(d);
  if (tracks != nullptr) {
    for (int i = 0; i < s.track_count; ++i) {
      const CueTrack &t = s.tracks[i];
      yyjson_mut_val *to = yyjson_mut_obj(d);
      if (to == nullptr) continue;
      put(d, to, "number", yyjson_mut_sint(d, t.number));
      if (t.title != nullptr) put(d, to, "title", yyjson_mut_str(d, t.title));
      if (t.file != nullptr) put(d, to, "file", yyjson_mut_str(d, t.file));
      yyjson_mut_val *indices = yyjson_mut_arr(d);
      if (indices != nullptr) {
        const CueIndex *ix = track_indices(s, t);
        for (int k = 0; k < t.index_count; ++k) {
          yyjson_mut_val *io = yyjson_mut_obj(d);
          if (io == nullptr) continue;
          // Milliseconds as the store's accessor computes them, taken as a
          // 32-bit value.
          const int64_t ms = ix[k].frames * 1000 / 75;
          put(d, io, "n", yyjson_mut_sint(d, ix[k].number));
          put(d, io, "frames", yyjson_mut_sint(d, ix[k].frames));
          put(d, io, "ms", yyjson_mut_sint(d, static_cast<int32_t>(static_cast<uint32_t>(ms))));
          yyjson_mut_arr_append(indices, io);
        }
        put(d, to, "indices", indices);
      }
      yyjson_mut_arr_append(tracks, to);
    }
    put(d, cue, "tracks", tracks);
  }
  return cue;
}

}  // namespace

const char *result_json(Store &s) noexcept {
  mem_free(s.json_text);
  s.json_text = nullptr;

  Doc doc(yyjson_mut_doc_new(nullptr));
  if (!doc) return "{}";
  yyjson_mut_doc *d = doc.get();
  yyjson_mut_val *root = yyjson_mut_obj(d);
  if (root == nullptr) return "{}";
  yyjson_mut_doc_set_root(d, root);

  put(d, root, "format", yyjson_mut_str(d, format_name(s.detected_format)));
  put(d, root, "item_count", yyjson_mut_sint(d, s.item_count));
  put(d, root, "imdb_date_playlist", yyjson_mut_bool(d, s.imdb_date_playlist != 0));
  yyjson_mut_val *items = yyjson_mut_arr(d);
  if (items != nullptr) {
    put(d, root, "items", items);
    for (int i = 0; i < s.item_count; ++i) {
      yyjson_mut_val *o = item_object(d, s, s.items[i]);
      if (o != nullptr) yyjson_mut_arr_append(items, o);
    }
  }
  if (s.detected_format == KAVLO_FORMAT_CUE) put(d, root, "cue", cue_object(d, s));
  if (s.warning_count > 0) {
    yyjson_mut_val *w = yyjson_mut_arr(d);
    if (w != nullptr) {
      for (int i = 0; i < s.warning_count; ++i) {
        if (s.warnings[i] == nullptr) continue;
        yyjson_mut_val *v = yyjson_mut_str(d, s.warnings[i]);
        if (v != nullptr) yyjson_mut_arr_append(w, v);
      }
      put(d, root, "warnings", w);
    }
  }

  s.json_text = yyjson_mut_write_opts(d, 0, nullptr, nullptr, nullptr);
  return s.json_text != nullptr ? s.json_text : "{}";
}

}  // namespace kavlo
