// The full document against the ordinary one: removing the members that
// only the full document carries must give the ordinary document byte for
// byte. Header-only, for the tests and the fuzz harnesses.
#pragma once

#include <yyjson.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kt {

namespace full_detail {

using Names = std::initializer_list<const char *>;

inline const Names root_added = {"version", "header", "title", "epg", "diagnostics"};
inline const Names item_added = {"line",   "options", "url",  "headers", "alternates", "label",
                                 "group",  "groups",  "http", "catchup"};
inline const Names cue_added = {"songwriter", "catalog", "cdtextfile", "rem"};
inline const Names track_added = {"performer", "songwriter", "isrc", "flags", "datatype",
                                  "pregap", "postgap", "rem"};

inline bool is_added(yyjson_mut_val *key, const Names &added) {
  for (const char *name : added)
    if (yyjson_mut_equals_str(key, name)) return true;
  return false;
}

// Removes the added members of `obj`; false when one of them stands before
// a member of the ordinary document (they must come last).
inline bool strip(yyjson_mut_val *obj, const Names &added) {
  if (!yyjson_mut_is_obj(obj)) return true;
  bool seen_added = false;
  yyjson_mut_obj_iter it = yyjson_mut_obj_iter_with(obj);
  while (yyjson_mut_val *key = yyjson_mut_obj_iter_next(&it)) {
    if (is_added(key, added)) {
      seen_added = true;
      yyjson_mut_obj_iter_remove(&it);
    } else if (seen_added) {
      return false;
    }
  }
  return true;
}

}  // namespace full_detail

// The full document with its added members removed, written as the library
// writes its documents; "" when it does not parse or an added member stands
// before an ordinary one. "{}" stays "{}".
inline std::string strip_full(std::string_view full) {
  namespace f = full_detail;
  if (full == "{}") return "{}";
  yyjson_doc *read = yyjson_read(full.data(), full.size(), 0);
  if (read == nullptr) return "";
  yyjson_mut_doc *doc = yyjson_doc_mut_copy(read, nullptr);
  yyjson_doc_free(read);
  if (doc == nullptr) return "";
  yyjson_mut_val *root = yyjson_mut_doc_get_root(doc);
  bool ok = f::strip(root, f::root_added);
  // Arrays of a mutable document are lists: walked, not indexed.
  auto each = [&ok](yyjson_mut_val *arr, const f::Names &added) {
    yyjson_mut_arr_iter it = yyjson_mut_arr_iter_with(arr);
    while (yyjson_mut_val *v = yyjson_mut_arr_iter_next(&it))
      if (ok) ok = f::strip(v, added);
  };
  each(yyjson_mut_obj_get(root, "items"), f::item_added);
  yyjson_mut_val *cue = yyjson_mut_obj_get(root, "cue");
  if (ok && cue != nullptr) {
    ok = f::strip(cue, f::cue_added);
    each(yyjson_mut_obj_get(cue, "tracks"), f::track_added);
  }
  std::string out;
  if (ok) {
    char *text = yyjson_mut_write(doc, 0, nullptr);
    if (text != nullptr) out = text;
    std::free(text);
  }
  yyjson_mut_doc_free(doc);
  return out;
}

}  // namespace kt
