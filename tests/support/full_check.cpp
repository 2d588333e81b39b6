// Checks of a playlist handle against its full document (see full_check.h).
#include "full_check.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <cctype>
#include <cstring>
#include <string>

namespace kt {

namespace {

std::string str(const char *s) { return s != nullptr ? s : "(null)"; }

std::string json_str(yyjson_val *v) { return yyjson_is_str(v) ? yyjson_get_str(v) : "(null)"; }

// An object member holds exactly the pairs the accessors give, in order.
template <class Key, class Value>
void expect_pairs(yyjson_val *obj, int count, Key key, Value value, const char *what) {
  SCOPED_TRACE(what);
  if (count == 0) {
    EXPECT_EQ(obj, nullptr);
    return;
  }
  ASSERT_TRUE(yyjson_is_obj(obj));
  ASSERT_EQ(yyjson_obj_size(obj), static_cast<size_t>(count));
  yyjson_obj_iter it = yyjson_obj_iter_with(obj);
  for (int k = 0; k < count; ++k) {
    yyjson_val *name = yyjson_obj_iter_next(&it);
    EXPECT_EQ(json_str(name), str(key(k)));
    EXPECT_EQ(json_str(yyjson_obj_iter_get_val(name)), str(value(k)));
  }
}

// An array member holds exactly the strings the accessors give.
template <class At>
void expect_strings(yyjson_val *arr, int count, At at, const char *what) {
  SCOPED_TRACE(what);
  if (count == 0) {
    EXPECT_EQ(arr, nullptr);
    return;
  }
  ASSERT_TRUE(yyjson_is_arr(arr));
  ASSERT_EQ(yyjson_arr_size(arr), static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) EXPECT_EQ(json_str(yyjson_arr_get(arr, static_cast<size_t>(k))), str(at(k)));
}

void expect_optional(yyjson_val *v, const char *accessor, const char *what) {
  SCOPED_TRACE(what);
  if (accessor == nullptr || accessor[0] == '\0') {
    EXPECT_EQ(v, nullptr);
  } else {
    EXPECT_EQ(json_str(v), accessor);
  }
}

void check_item(const kavlo_playlist *p, int i, yyjson_val *item) {
  SCOPED_TRACE("item " + std::to_string(i));
  EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(item, "line")), kavlo_playlist_item_line(p, i));
  const int options = kavlo_playlist_item_option_count(p, i);
  yyjson_val *opts = yyjson_obj_get(item, "options");
  EXPECT_EQ(yyjson_arr_size(opts), static_cast<size_t>(options));
  for (int k = 0; k < options && yyjson_is_arr(opts); ++k) {
    yyjson_val *o = yyjson_arr_get(opts, static_cast<size_t>(k));
    EXPECT_EQ(json_str(yyjson_obj_get(o, "tag")), str(kavlo_playlist_item_option_tag(p, i, k)));
    EXPECT_EQ(json_str(yyjson_obj_get(o, "key")), str(kavlo_playlist_item_option_key(p, i, k)));
    EXPECT_EQ(json_str(yyjson_obj_get(o, "value")), str(kavlo_playlist_item_option_value(p, i, k)));
  }
  expect_optional(yyjson_obj_get(item, "url"), kavlo_playlist_item_url(p, i), "url");
  expect_pairs(
      yyjson_obj_get(item, "headers"), kavlo_playlist_item_header_count(p, i),
      [&](int k) { return kavlo_playlist_item_header_key(p, i, k); },
      [&](int k) { return kavlo_playlist_item_header_value(p, i, k); }, "headers");
  expect_strings(
      yyjson_obj_get(item, "alternates"), kavlo_playlist_item_alternate_count(p, i),
      [&](int k) { return kavlo_playlist_item_alternate(p, i, k); }, "alternates");
  expect_optional(yyjson_obj_get(item, "label"), kavlo_playlist_item_label(p, i), "label");
  expect_optional(yyjson_obj_get(item, "group"), kavlo_playlist_item_group(p, i), "group");
  expect_strings(
      yyjson_obj_get(item, "groups"), kavlo_playlist_item_group_count(p, i),
      [&](int k) { return kavlo_playlist_item_group_at(p, i, k); }, "groups");
  const int http = kavlo_playlist_item_http_count(p, i);
  expect_pairs(
      yyjson_obj_get(item, "http"), http, [&](int k) { return kavlo_playlist_item_http_key(p, i, k); },
      [&](int k) { return kavlo_playlist_item_http_value(p, i, k); }, "http");
  for (int k = 0; k < http; ++k) {
    const std::string key = str(kavlo_playlist_item_http_key(p, i, k));
    std::string upper = key;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_STREQ(kavlo_playlist_item_http(p, i, upper.c_str()), kavlo_playlist_item_http_value(p, i, k)) << key;
  }
  yyjson_val *catchup = yyjson_obj_get(item, "catchup");
  int fields = 0;
  for (const char *f : {"mode", "source", "days", "shift"}) {
    const char *v = kavlo_playlist_item_catchup(p, i, f);
    fields += v != nullptr;
    expect_optional(yyjson_obj_get(catchup, f), v, f);
  }
  EXPECT_EQ(yyjson_obj_size(catchup), static_cast<size_t>(fields));
}

}  // namespace

size_t line_count(std::string_view text) {
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\r' || text[i] == '\n') ++lines;
  }
  if (!text.empty() && text.back() != '\n' && text.back() != '\r') ++lines;
  return lines;
}

void check_full_against_accessors(kavlo_playlist *p) {
  const std::string full = kavlo_playlist_json_full(p);
  if (full == "{}") return;
  yyjson_doc *doc = yyjson_read(full.data(), full.size(), 0);
  ASSERT_NE(doc, nullptr) << full;
  yyjson_val *root = yyjson_doc_get_root(doc);
  yyjson_val *items = yyjson_obj_get(root, "items");
  EXPECT_EQ(yyjson_arr_size(items), static_cast<size_t>(kavlo_playlist_item_count(p)));
  for (int i = 0; i < kavlo_playlist_item_count(p) && i < static_cast<int>(yyjson_arr_size(items)); ++i)
    check_item(p, i, yyjson_arr_get(items, static_cast<size_t>(i)));
  expect_optional(yyjson_obj_get(root, "title"), kavlo_playlist_title(p), "title");
  expect_strings(
      yyjson_obj_get(root, "epg"), kavlo_playlist_epg_count(p), [&](int k) { return kavlo_playlist_epg(p, k); },
      "epg");
  yyjson_val *diags = yyjson_obj_get(root, "diagnostics");
  const int count = kavlo_playlist_diagnostic_count(p);
  EXPECT_EQ(yyjson_arr_size(diags), static_cast<size_t>(count));
  if (count == 0) {
    EXPECT_EQ(diags, nullptr);
  }
  for (int k = 0; k < count && k < static_cast<int>(yyjson_arr_size(diags)); ++k) {
    yyjson_val *d = yyjson_arr_get(diags, static_cast<size_t>(k));
    EXPECT_EQ(yyjson_obj_size(d), 3u);
    EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(d, "line")), kavlo_playlist_diagnostic_line(p, k));
    EXPECT_EQ(json_str(yyjson_obj_get(d, "message")), str(kavlo_playlist_diagnostic_message(p, k)));
    EXPECT_EQ(json_str(yyjson_obj_get(d, "subject")), str(kavlo_playlist_diagnostic_subject(p, k)));
  }
  yyjson_doc_free(doc);
}

void check_diagnostics(const kavlo_playlist *p, size_t lines) {
  const int warnings = kavlo_playlist_warning_count(p);
  const int count = kavlo_playlist_diagnostic_count(p);
  ASSERT_GE(count, warnings);
  int w = 0;
  for (int k = 0; k < count; ++k) {
    const char *message = kavlo_playlist_diagnostic_message(p, k);
    const int64_t line = kavlo_playlist_diagnostic_line(p, k);
    ASSERT_NE(message, nullptr) << k;
    EXPECT_NE(kavlo_playlist_diagnostic_subject(p, k), nullptr) << k;
    if (w < warnings && std::strcmp(message, kavlo_playlist_warning(p, w)) == 0) {
      ++w;
      if (std::strncmp(message, "encoding: ", 10) == 0) {
        EXPECT_EQ(line, 0) << message;
        continue;
      }
    }
    EXPECT_GE(line, 1) << message;
    EXPECT_LE(line, static_cast<int64_t>(lines)) << message;
  }
  EXPECT_EQ(w, warnings) << "a warning without its diagnostic";
  EXPECT_EQ(kavlo_playlist_diagnostic_line(p, count), -1);
  EXPECT_EQ(kavlo_playlist_diagnostic_message(p, -1), nullptr);
  EXPECT_EQ(kavlo_playlist_diagnostic_subject(p, count), nullptr);
}

}  // namespace kt
