// Runs the Markdown case files under tests/cases. Each case is a heading,
// a meta comment, an input fence and the expected JSON document:
//
//   ### title
//   <!-- meta={"format": "auto", "status": "KAVLO_OK"} -->
//   ```m3u
//   ...input...
//   ```
//   ```json
//   {...}
//   ```
//
// Meta keys: "format" (auto, m3u, m3u8-hls, streaming-list, cue, or a
// number), "encoding", "status" (a KAVLO_ name), "error" (last error text),
// "escape" (true: the input's \xHH, \t, \r, \n, \0 and \\ are decoded and
// its line breaks dropped), "file" (input read from tests/data instead).
// Every case runs through the text entry point; cases with automatic format
// also run through the file entry point and must give the same result.
#include <yyjson.h>

#include <string>

#include "support/cases.h"
#include "support/diagnostics.h"
#include "support/full_doc.h"
#include "support/handle_compare.h"
#include "support/kavlo_test.h"

namespace {

using kt::Case;

class Cases : public kt::Store, public ::testing::WithParamInterface<Case> {};

// The document parses back, and agrees with the accessors.
void check_json_against_store(const std::string &json) {
  if (json == "{}") return;
  yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
  ASSERT_NE(doc, nullptr) << json;
  yyjson_val *root = yyjson_doc_get_root(doc);
  EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(root, "item_count")), kavlo_item_count());
  yyjson_val *items = yyjson_obj_get(root, "items");
  EXPECT_EQ(yyjson_arr_size(items), static_cast<size_t>(kavlo_item_count()));
  for (int i = 0; i < kavlo_item_count(); ++i) {
    yyjson_val *it = yyjson_arr_get(items, static_cast<size_t>(i));
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(it, "title")), kavlo_item_title(i));
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(it, "location")), kavlo_item_location(i));
    EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(it, "duration_ms")), kavlo_item_duration_ms(i));
  }
  yyjson_doc_free(doc);
}

TEST_P(Cases, GivesTheExpectedDocument) {
  const Case &c = GetParam();
  SCOPED_TRACE(c.where);
  const char *enc = c.has_encoding ? c.encoding.c_str() : nullptr;
  EXPECT_EQ(kt::parse(c.input, c.format, enc), c.status);
  EXPECT_EQ(std::string(kavlo_last_error()), c.error);
  const std::string json = kt::json();
  EXPECT_EQ(json, c.json);
  check_json_against_store(json);

  // The full document holds the ordinary one, and the expected members
  // where the case gives them.
  const std::string full = kavlo_result_json_full();
  EXPECT_EQ(kt::strip_full(full), json) << full;
  if (!c.full.empty()) {
    std::string expected = c.full;
    const size_t at = expected.find("@VERSION@");
    if (at != std::string::npos) expected.replace(at, 9, kavlo_version());
    EXPECT_EQ(full, expected);
  }
  EXPECT_EQ(kt::json(), json) << "the ordinary document again after the full one";

  // A handle gives the same result, accessor for accessor, and its full
  // document is the rendering of its accessors; every warning has a
  // diagnostic.
  kt::Playlist handle;
  EXPECT_EQ(kt::parse_into(handle, c.input, c.format, enc), c.status);
  EXPECT_EQ(kt::compare_with_process_wide(handle), "");
  EXPECT_EQ(kt::compare_full_with_accessors(handle), "");
  EXPECT_EQ(std::string(kavlo_playlist_json_full(handle)), full);
  kt::check_diagnostics(handle, kt::line_count(c.input));

  if (c.format == KAVLO_FORMAT_AUTO) {
    const std::string path = kt::temp_file("case.txt", c.input);
    EXPECT_EQ(kavlo_parse_file_enc(path.c_str(), enc), c.status);
    EXPECT_EQ(kt::json(), c.json) << "through the file entry point";
    EXPECT_EQ(kavlo_playlist_parse_file(handle, path.c_str(), enc), c.status);
    EXPECT_EQ(kt::compare_with_process_wide(handle), "") << "through the file entry points";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Cases, ::testing::ValuesIn(kt::load_cases()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
