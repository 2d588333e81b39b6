// Two views of one parse side by side: a playlist handle against the
// process-wide result, and a handle's full document against its
// accessors. Each check returns "" or the first difference, so that the
// tests and the fuzz harnesses share them. Header-only.
#pragma once

#include <yyjson.h>

#include <cstring>
#include <string>

#include "kavlo.h"

namespace kt {

namespace compare_detail {

inline bool same(const char *a, const char *b) {
  return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

inline std::string show(const char *s) { return s != nullptr ? '"' + std::string(s) + '"' : "NULL"; }

}  // namespace compare_detail

// Every accessor of the process-wide result against the same accessor of
// `p`, just past the ends included.
inline std::string compare_with_process_wide(const kavlo_playlist *p) {
  using compare_detail::same;
  using compare_detail::show;
  auto str = [](const char *what, int i, const char *a, const char *b) -> std::string {
    if (same(a, b)) return "";
    return std::string(what) + " " + std::to_string(i) + ": " + show(a) + " vs " + show(b);
  };
  auto num = [](const char *what, int i, long long a, long long b) -> std::string {
    if (a == b) return "";
    return std::string(what) + " " + std::to_string(i) + ": " + std::to_string(a) + " vs " + std::to_string(b);
  };
  std::string d;
#define KT_CHECK(expr) \
  if (!(d = (expr)).empty()) return d
  KT_CHECK(num("item_count", 0, kavlo_item_count(), kavlo_playlist_item_count(p)));
  KT_CHECK(num("detected_format", 0, kavlo_detected_format(), kavlo_playlist_detected_format(p)));
  KT_CHECK(num("imdb", 0, kavlo_m3u_is_imdb_date_playlist(), kavlo_playlist_m3u_is_imdb_date_playlist(p)));
  KT_CHECK(str("last_error", 0, kavlo_last_error(), kavlo_playlist_last_error(p)));
  const int items = kavlo_item_count();
  for (int i = -1; i <= items; ++i) {
    KT_CHECK(str("location", i, kavlo_item_location(i), kavlo_playlist_item_location(p, i)));
    KT_CHECK(str("title", i, kavlo_item_title(i), kavlo_playlist_item_title(p, i)));
    KT_CHECK(num("duration", i, kavlo_item_duration_ms(i), kavlo_playlist_item_duration_ms(p, i)));
    KT_CHECK(num("release_date", i, kavlo_item_release_date(i), kavlo_playlist_item_release_date(p, i)));
    const int attrs = kavlo_item_attr_count(i);
    KT_CHECK(num("attr_count", i, attrs, kavlo_playlist_item_attr_count(p, i)));
    for (int a = -1; a <= attrs; ++a) {
      const char *key = kavlo_item_attr_key(i, a);
      KT_CHECK(str("attr_key", i, key, kavlo_playlist_item_attr_key(p, i, a)));
      if (key != nullptr) KT_CHECK(str("attr", i, kavlo_item_attr(i, key), kavlo_playlist_item_attr(p, i, key)));
    }
    KT_CHECK(str("attr group-title", i, kavlo_item_attr(i, "GROUP-TITLE"), kavlo_playlist_item_attr(p, i, "GROUP-TITLE")));
  }
  for (const char *k : {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE", "ISRC"})
    KT_CHECK(str(k, 0, kavlo_cue_meta(k), kavlo_playlist_cue_meta(p, k)));
  const int tracks = kavlo_cue_track_count();
  KT_CHECK(num("track_count", 0, tracks, kavlo_playlist_cue_track_count(p)));
  for (int t = -1; t <= tracks; ++t) {
    for (const char *k : {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS", "DATATYPE", "CATALOG"})
      KT_CHECK(str(k, t, kavlo_cue_track_field(t, k), kavlo_playlist_cue_track_field(p, t, k)));
    const int n = kavlo_cue_track_index_count(t);
    KT_CHECK(num("index_count", t, n, kavlo_playlist_cue_track_index_count(p, t)));
    for (int x = -1; x <= n; ++x) {
      KT_CHECK(num("index_number", t, kavlo_cue_track_index_number(t, x), kavlo_playlist_cue_track_index_number(p, t, x)));
      KT_CHECK(num("index_frames", t, kavlo_cue_track_index_frames(t, x), kavlo_playlist_cue_track_index_frames(p, t, x)));
      KT_CHECK(num("index_ms", t, kavlo_cue_track_index_ms(t, x), kavlo_playlist_cue_track_index_ms(p, t, x)));
    }
  }
  const int warnings = kavlo_warning_count();
  KT_CHECK(num("warning_count", 0, warnings, kavlo_playlist_warning_count(p)));
  for (int w = -1; w <= warnings; ++w) KT_CHECK(str("warning", w, kavlo_warning(w), kavlo_playlist_warning(p, w)));
  // The handle's documents first: the process-wide ones are the last kept.
  const std::string full = kavlo_playlist_json_full(const_cast<kavlo_playlist *>(p));
  if (full != kavlo_result_json_full()) return "full document differs: " + full;
  const std::string plain = kavlo_playlist_json(const_cast<kavlo_playlist *>(p));
  if (plain != kavlo_result_json()) return "document differs: " + plain;
#undef KT_CHECK
  return "";
}

namespace compare_detail {

inline const char *get_str(yyjson_val *obj, const char *key) { return yyjson_get_str(yyjson_obj_get(obj, key)); }

// `obj` (an object of strings, or NULL) against count/key/value accessors.
template <class Count, class Key, class Value>
std::string pairs(const char *what, yyjson_val *obj, Count count, Key key, Value value) {
  const int n = count();
  if (static_cast<size_t>(n) != (obj != nullptr ? yyjson_obj_size(obj) : 0)) return std::string(what) + ": count";
  if (obj == nullptr) return "";
  yyjson_obj_iter it = yyjson_obj_iter_with(obj);
  for (int k = 0; k < n; ++k) {
    yyjson_val *name = yyjson_obj_iter_next(&it);
    if (!same(yyjson_get_str(name), key(k)) || !same(yyjson_get_str(yyjson_obj_iter_get_val(name)), value(k)))
      return std::string(what) + ": pair " + std::to_string(k);
  }
  return "";
}

// An array of {"key","value"} REM objects against the accessors.
template <class Count, class Key, class Value>
std::string rems(const char *what, yyjson_val *arr, Count count, Key key, Value value) {
  const int n = count();
  if (static_cast<size_t>(n) != (arr != nullptr ? yyjson_arr_size(arr) : 0)) return std::string(what) + ": count";
  for (int k = 0; k < n; ++k) {
    yyjson_val *r = yyjson_arr_get(arr, static_cast<size_t>(k));
    if (!same(get_str(r, "key"), key(k)) || !same(get_str(r, "value"), value(k)))
      return std::string(what) + ": rem " + std::to_string(k);
  }
  return "";
}

// An array of strings (or NULL) against count/at accessors.
template <class Count, class At>
std::string strings(const char *what, yyjson_val *arr, Count count, At at) {
  const int n = count();
  if (static_cast<size_t>(n) != (arr != nullptr ? yyjson_arr_size(arr) : 0)) return std::string(what) + ": count";
  if (arr != nullptr && n == 0) return std::string(what) + ": empty array";
  for (int k = 0; k < n; ++k)
    if (!same(yyjson_get_str(yyjson_arr_get(arr, static_cast<size_t>(k))), at(k)))
      return std::string(what) + ": " + std::to_string(k);
  return "";
}

inline bool same_int(yyjson_val *v, long long expected, long long absent) {
  return v != nullptr ? yyjson_get_sint(v) == expected : expected == absent;
}

// A member that the document leaves out when it is empty.
inline bool same_opt(yyjson_val *obj, const char *key, const char *value) {
  const char *doc = get_str(obj, key);
  return doc != nullptr ? same(doc, value) : value == nullptr || value[0] == '\0';
}

}  // namespace compare_detail

// The full document of `p` read back member by member against the
// accessors of `p`: the document is exactly their rendering.
inline std::string compare_full_with_accessors(kavlo_playlist *p) {
  using namespace compare_detail;
  const char *text = kavlo_playlist_json_full(p);
  if (std::strcmp(text, "{}") == 0) return "";
  yyjson_doc *doc = yyjson_read(text, std::strlen(text), 0);
  if (doc == nullptr) return "the full document does not parse";
  std::string d;
  auto fail = [&](std::string why) {
    d = std::move(why);
    return false;
  };
  auto check = [&]() -> bool {
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (!same(get_str(root, "version"), kavlo_version())) return fail("version");
    d = pairs("header", yyjson_obj_get(root, "header"), [&] { return kavlo_playlist_header_attr_count(p); },
              [&](int k) { return kavlo_playlist_header_attr_key(p, k); },
              [&](int k) { return kavlo_playlist_header_attr_value(p, k); });
    if (!d.empty()) return false;
    yyjson_val *items = yyjson_obj_get(root, "items");
    for (int i = 0; i < kavlo_playlist_item_count(p); ++i) {
      yyjson_val *it = yyjson_arr_get(items, static_cast<size_t>(i));
      const std::string at = " of item " + std::to_string(i);
      if (!same_int(yyjson_obj_get(it, "line"), kavlo_playlist_item_line(p, i), -1)) return fail("line" + at);
      d = pairs(("attrs" + at).c_str(), yyjson_obj_get(it, "attrs"), [&] { return kavlo_playlist_item_attr_count(p, i); },
                [&](int k) { return kavlo_playlist_item_attr_key(p, i, k); },
                [&](int k) { return kavlo_playlist_item_attr_value(p, i, k); });
      if (!d.empty()) return false;
      yyjson_val *options = yyjson_obj_get(it, "options");
      const int n = kavlo_playlist_item_option_count(p, i);
      if (static_cast<size_t>(n) != (options ? yyjson_arr_size(options) : 0)) return fail("option count" + at);
      for (int k = 0; k < n; ++k) {
        yyjson_val *o = yyjson_arr_get(options, static_cast<size_t>(k));
        if (!same(get_str(o, "tag"), kavlo_playlist_item_option_tag(p, i, k)) ||
            !same(get_str(o, "key"), kavlo_playlist_item_option_key(p, i, k)) ||
            !same(get_str(o, "value"), kavlo_playlist_item_option_value(p, i, k)))
          return fail("option" + at);
      }
      if (!same(get_str(it, "url"), kavlo_playlist_item_url(p, i))) return fail("url" + at);
      d = pairs(("headers" + at).c_str(), yyjson_obj_get(it, "headers"),
                [&] { return kavlo_playlist_item_header_count(p, i); },
                [&](int k) { return kavlo_playlist_item_header_key(p, i, k); },
                [&](int k) { return kavlo_playlist_item_header_value(p, i, k); });
      if (!d.empty()) return false;
      if (!same(get_str(it, "group"), kavlo_playlist_item_group(p, i))) return fail("group" + at);
      if (!same_opt(it, "label", kavlo_playlist_item_label(p, i))) return fail("label" + at);
      d = strings(("alternates" + at).c_str(), yyjson_obj_get(it, "alternates"),
                  [&] { return kavlo_playlist_item_alternate_count(p, i); },
                  [&](int k) { return kavlo_playlist_item_alternate(p, i, k); });
      if (!d.empty()) return false;
      d = strings(("groups" + at).c_str(), yyjson_obj_get(it, "groups"),
                  [&] { return kavlo_playlist_item_group_count(p, i); },
                  [&](int k) { return kavlo_playlist_item_group_at(p, i, k); });
      if (!d.empty()) return false;
      yyjson_val *http = yyjson_obj_get(it, "http");
      if (http != nullptr && yyjson_obj_size(http) == 0) return fail("empty http" + at);
      d = pairs(("http" + at).c_str(), http, [&] { return kavlo_playlist_item_http_count(p, i); },
                [&](int k) { return kavlo_playlist_item_http_key(p, i, k); },
                [&](int k) { return kavlo_playlist_item_http_value(p, i, k); });
      if (!d.empty()) return false;
      for (int k = 0; k < kavlo_playlist_item_http_count(p, i); ++k) {
        // By name, in any letter case.
        std::string upper = kavlo_playlist_item_http_key(p, i, k);
        for (char &c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        if (!same(kavlo_playlist_item_http(p, i, upper.c_str()), kavlo_playlist_item_http_value(p, i, k)))
          return fail("http by name" + at);
      }
      yyjson_val *catchup = yyjson_obj_get(it, "catchup");
      size_t fields = 0;
      for (const char *f : {"mode", "source", "days", "shift"}) {
        const char *v = kavlo_playlist_item_catchup(p, i, f);
        fields += v != nullptr;
        if (!same_opt(catchup, f, v)) return fail(std::string("catchup ") + f + at);
      }
      if (fields != (catchup != nullptr ? yyjson_obj_size(catchup) : 0) || (catchup != nullptr && fields == 0))
        return fail("catchup" + at);
    }
    if (!same_opt(root, "title", kavlo_playlist_title(p))) return fail("title");
    d = strings("epg", yyjson_obj_get(root, "epg"), [&] { return kavlo_playlist_epg_count(p); },
                [&](int k) { return kavlo_playlist_epg(p, k); });
    if (!d.empty()) return false;
    yyjson_val *diags = yyjson_obj_get(root, "diagnostics");
    const int diagnostics = kavlo_playlist_diagnostic_count(p);
    if (static_cast<size_t>(diagnostics) != (diags != nullptr ? yyjson_arr_size(diags) : 0) ||
        (diags != nullptr && diagnostics == 0))
      return fail("diagnostic count");
    for (int k = 0; k < diagnostics; ++k) {
      yyjson_val *e = yyjson_arr_get(diags, static_cast<size_t>(k));
      if (yyjson_obj_size(e) != 3 || !same_int(yyjson_obj_get(e, "line"), kavlo_playlist_diagnostic_line(p, k), -2) ||
          !same(get_str(e, "message"), kavlo_playlist_diagnostic_message(p, k)) ||
          !same(get_str(e, "subject"), kavlo_playlist_diagnostic_subject(p, k)))
        return fail("diagnostic " + std::to_string(k));
    }
    yyjson_val *cue = yyjson_obj_get(root, "cue");
    if (cue == nullptr) return true;
    for (const char *k : {"songwriter", "catalog", "cdtextfile"}) {
      std::string upper(k);
      for (char &c : upper) c = static_cast<char>(c - 'a' + 'A');
      if (!same_opt(cue, k, kavlo_playlist_cue_meta(p, upper.c_str()))) return fail(std::string("sheet ") + k);
    }
    d = rems("sheet", yyjson_obj_get(cue, "rem"), [&] { return kavlo_playlist_cue_rem_count(p); },
             [&](int k) { return kavlo_playlist_cue_rem_key(p, k); },
             [&](int k) { return kavlo_playlist_cue_rem_value(p, k); });
    if (!d.empty()) return false;
    yyjson_val *tracks = yyjson_obj_get(cue, "tracks");
    if (yyjson_arr_size(tracks) != static_cast<size_t>(kavlo_playlist_cue_track_count(p))) return fail("tracks");
    for (int t = 0; t < kavlo_playlist_cue_track_count(p); ++t) {
      yyjson_val *tr = yyjson_arr_get(tracks, static_cast<size_t>(t));
      const std::string at = " of track " + std::to_string(t);
      if (!same_int(yyjson_obj_get(tr, "number"), kavlo_playlist_cue_track_number(p, t), -2)) return fail("number" + at);
      for (const char *k : {"performer", "songwriter", "isrc", "flags", "datatype"}) {
        std::string upper(k);
        for (char &c : upper) c = static_cast<char>(c - 'a' + 'A');
        if (!same_opt(tr, k, kavlo_playlist_cue_track_field(p, t, upper.c_str()))) return fail(k + at);
      }
      if (!same_int(yyjson_obj_get(tr, "pregap"), kavlo_playlist_cue_track_pregap(p, t), -1)) return fail("pregap" + at);
      if (!same_int(yyjson_obj_get(tr, "postgap"), kavlo_playlist_cue_track_postgap(p, t), -1))
        return fail("postgap" + at);
      d = rems(("track" + at).c_str(), yyjson_obj_get(tr, "rem"), [&] { return kavlo_playlist_cue_track_rem_count(p, t); },
               [&](int k) { return kavlo_playlist_cue_track_rem_key(p, t, k); },
               [&](int k) { return kavlo_playlist_cue_track_rem_value(p, t, k); });
      if (!d.empty()) return false;
    }
    return true;
  };
  check();
  yyjson_doc_free(doc);
  return d;
}

}  // namespace kt
