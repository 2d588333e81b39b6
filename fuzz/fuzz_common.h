// Invariants every fuzz harness checks after a parse: counts within the
// store's limits, every string NUL-terminated, the JSON document either
// "{}" or a valid document that agrees with the accessors, and byte for byte
// the text yyjson's writer makes of the same store; the full document holds
// the ordinary one, and its diagnostics stand at lines of the text, one for
// every warning.
#pragma once

#include <yyjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kavlo.h"
#include "../tests/support/full_doc.h"
#include "../tests/support/json_reference.h"

#define FUZZ_CHECK(cond)                                                    \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

namespace fuzz {

inline void touch(const char *s) {
  if (s != nullptr) (void)std::strlen(s);
}

// Reads every accessor over the whole store and just past its ends.
inline void read_store() {
  const int items = kavlo_item_count();
  FUZZ_CHECK(items >= 0);
  for (int i = -1; i <= items; ++i) {
    touch(kavlo_item_location(i));
    touch(kavlo_item_title(i));
    (void)kavlo_item_duration_ms(i);
    (void)kavlo_item_release_date(i);
    const int attrs = kavlo_item_attr_count(i);
    FUZZ_CHECK(attrs >= 0 && attrs <= 64);
    FUZZ_CHECK((i >= 0 && i < items) || attrs == 0);
    for (int a = -1; a <= attrs; ++a) {
      const char *key = kavlo_item_attr_key(i, a);
      touch(key);
      if (key != nullptr) touch(kavlo_item_attr(i, key));
    }
    touch(kavlo_item_attr(i, "group-title"));
  }
  (void)kavlo_m3u_is_imdb_date_playlist();
  for (const char *k : {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE", "ISRC"})
    touch(kavlo_cue_meta(k));
  const int tracks = kavlo_cue_track_count();
  FUZZ_CHECK(tracks >= 0);
  for (int t = -1; t <= tracks; ++t) {
    for (const char *k : {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS", "DATATYPE", "X"})
      touch(kavlo_cue_track_field(t, k));
    const int n = kavlo_cue_track_index_count(t);
    FUZZ_CHECK(n >= 0 && n <= 32);
    for (int x = -1; x <= n; ++x) {
      (void)kavlo_cue_track_index_number(t, x);
      (void)kavlo_cue_track_index_frames(t, x);
      (void)kavlo_cue_track_index_ms(t, x);
    }
  }
  const int warnings = kavlo_warning_count();
  FUZZ_CHECK(warnings >= 0 && warnings <= 512);
  for (int w = -1; w <= warnings; ++w) {
    const char *s = kavlo_warning(w);
    if (s != nullptr) FUZZ_CHECK(std::strlen(s) <= 511);
  }
  FUZZ_CHECK(std::strlen(kavlo_last_error()) <= 511);
  touch(kavlo_format_name(kavlo_detected_format()));
}

// An upper bound of the lines of the text decoded from `bytes`: every line
// end of the decoded text comes from a CR or LF byte, in every encoding the
// harnesses use.
inline size_t line_bound(const uint8_t *bytes, size_t size) {
  size_t n = 1;
  for (size_t i = 0; i < size; ++i) n += bytes[i] == '\n' || bytes[i] == '\r';
  return n;
}

// The diagnostics of the full document: each at a line within the text
// (0 only for what concerns the whole text: the decoding warnings), and
// every warning among them with its text, in order.
inline void check_diagnostics(const std::string &full, size_t lines) {
  if (full == "{}") return;
  yyjson_doc *doc = yyjson_read(full.data(), full.size(), 0);
  FUZZ_CHECK(doc != nullptr);
  yyjson_val *diags = yyjson_obj_get(yyjson_doc_get_root(doc), "diagnostics");
  int w = 0;
  const int warnings = kavlo_warning_count();
  size_t k, max;
  yyjson_val *d;
  yyjson_arr_foreach(diags, k, max, d) {
    const uint64_t line = yyjson_get_uint(yyjson_obj_get(d, "line"));
    const char *message = yyjson_get_str(yyjson_obj_get(d, "message"));
    const char *subject = yyjson_get_str(yyjson_obj_get(d, "subject"));
    FUZZ_CHECK(message != nullptr && subject != nullptr);
    FUZZ_CHECK(line <= lines);
    if (line == 0)
      FUZZ_CHECK(std::strncmp(message, "encoding: ", 10) == 0 || std::strncmp(subject, "encoding: ", 10) == 0);
    while (w < warnings && kavlo_warning(w) == nullptr) ++w;
    if (w < warnings && std::strcmp(message, kavlo_warning(w)) == 0) ++w;
  }
  while (w < warnings && kavlo_warning(w) == nullptr) ++w;
  FUZZ_CHECK(w == warnings);
  yyjson_doc_free(doc);
}

// The JSON document, checked against the store.
inline std::string read_json(size_t lines = SIZE_MAX) {
  const char *json = kavlo_result_json();
  FUZZ_CHECK(json != nullptr);
  const size_t len = std::strlen(json);
  FUZZ_CHECK(kt::reference_json(kavlo::store()) == json);
  if (std::strcmp(json, "{}") != 0) {
    yyjson_doc *doc = yyjson_read(json, len, 0);
    FUZZ_CHECK(doc != nullptr);
    yyjson_val *count = yyjson_obj_get(yyjson_doc_get_root(doc), "item_count");
    FUZZ_CHECK(yyjson_get_sint(count) == kavlo_item_count());
    yyjson_doc_free(doc);
  }
  std::string text(json, len);
  // The full document holds the ordinary one: without its added members it
  // is that document byte for byte. It may be "{}" alone, when only one of
  // its added strings is not strict UTF-8.
  const std::string full = kavlo_result_json_full();
  if (full != "{}") FUZZ_CHECK(kt::strip_full(full) == text);
  check_diagnostics(full, lines);
  if (text == "{}") FUZZ_CHECK(full == "{}");
  FUZZ_CHECK(kavlo_result_json() == text);
  return text;
}

}  // namespace fuzz
