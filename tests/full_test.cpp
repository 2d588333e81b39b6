// The full document beyond the case files: its caps, floods of what only it
// carries, and how its text lives next to the ordinary document's.
#include <yyjson.h>

#include <string>

#include "support/full_doc.h"
#include "support/kavlo_test.h"

namespace {

using Full = kt::Store;

std::string repeat(const std::string &s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// The full document, parsed, checked to hold the ordinary one.
struct FullDoc {
  std::string text;
  yyjson_doc *doc;
  FullDoc() : text(kavlo_result_json_full()), doc(yyjson_read(text.data(), text.size(), 0)) {
    EXPECT_NE(doc, nullptr) << text.substr(0, 200);
    EXPECT_EQ(kt::strip_full(text), std::string(kavlo_result_json()));
  }
  ~FullDoc() { yyjson_doc_free(doc); }
  yyjson_val *root() const { return yyjson_doc_get_root(doc); }
  yyjson_val *item(size_t i) const { return yyjson_arr_get(yyjson_obj_get(root(), "items"), i); }
};

TEST_F(Full, HeadersAndHeaderAttributesStopAtSixtyFourKeys) {
  std::string header = "#EXTM3U";
  std::string pairs = "http://x/a|";
  for (int i = 0; i < 100; ++i) {
    header += " h" + std::to_string(i) + "=" + std::to_string(i);
    pairs += (i ? "&k" : "k") + std::to_string(i) + "=" + std::to_string(i) + "&k0=late";
  }
  ASSERT_EQ(kt::parse(header + "\n" + pairs + "\n"), KAVLO_OK);
  const FullDoc d;
  yyjson_val *h = yyjson_obj_get(d.root(), "header");
  EXPECT_EQ(yyjson_obj_size(h), 64u);
  EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(h, "h63")), "63");
  yyjson_val *headers = yyjson_obj_get(d.item(0), "headers");
  EXPECT_EQ(yyjson_obj_size(headers), 64u);
  EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(headers, "k0")), "0") << "the first value wins";
  EXPECT_EQ(yyjson_obj_get(headers, "k64"), nullptr);
  EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(d.item(0), "url")), "http://x/a");
}

// Linear in the input: 200,000 pairs after one location, 200,000
// options before one entry, 200,000 REM lines in one track.
TEST_F(Full, FloodsOfPairsOptionsAndRemLines) {
  ASSERT_EQ(kt::parse("#EXTM3U\nhttp://x/|" + repeat("User-Agent=a&", 200000) + "\n"), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_obj_size(yyjson_obj_get(d.item(0), "headers")), 1u);
  }
  ASSERT_EQ(kt::parse("#EXTM3U\n" + repeat("#EXTVLCOPT:k=v\n", 200000) + "/a\n"), KAVLO_OK);
  {
    const FullDoc d;
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(d.item(0), "options")), 200000u);
    EXPECT_EQ(kavlo_warning_count(), 512);
  }
  ASSERT_EQ(kt::parse("TRACK 1 AUDIO\n" + repeat("REM K v\n", 200000), KAVLO_FORMAT_CUE), KAVLO_OK);
  {
    const FullDoc d;
    yyjson_val *track = yyjson_arr_get(yyjson_obj_get(yyjson_obj_get(d.root(), "cue"), "tracks"), 0);
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(track, "rem")), 200000u);
  }
}

TEST_F(Full, LinesCountEveryKindOfLineEnd) {
  ASSERT_EQ(kt::parse("#EXTM3U\r\n\r/a\n\n/b\r/c"), KAVLO_OK);
  const FullDoc d;
  const int64_t lines[] = {3, 5, 6};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(d.item(i), "line")), lines[i]);
}

// Every entry on its own line, up to six-digit line numbers: each count of
// digits and each step between them.
TEST_F(Full, LineNumbersAcrossEveryDigitCount) {
  std::string text;
  for (int i = 1; i <= 100010; ++i) text += "N,http://x/" + std::to_string(i) + "\n";
  ASSERT_EQ(kt::parse(text), KAVLO_OK);
  const FullDoc d;
  yyjson_val *items = yyjson_obj_get(d.root(), "items");
  ASSERT_EQ(yyjson_arr_size(items), 100010u);
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(items, idx, max, item) {
    ASSERT_EQ(yyjson_get_uint(yyjson_obj_get(item, "line")), idx + 1);
  }
}

TEST_F(Full, SharesTheLifetimeOfTheOrdinaryDocument) {
  EXPECT_EQ(std::string(kavlo_result_json_full()),
            std::string(R"({"format":"m3u","item_count":0,"imdb_date_playlist":false,"items":[],"version":")") +
                kavlo_version() + "\"}");
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTVLCOPT:k=v\n/a\n"), KAVLO_OK);
  const std::string full = kavlo_result_json_full();
  const std::string json = kavlo_result_json();
  EXPECT_NE(full, json);
  // Either call rebuilds its own text, also after the other.
  EXPECT_EQ(std::string(kavlo_result_json_full()), full);
  EXPECT_EQ(std::string(kavlo_result_json()), json);
  EXPECT_EQ(std::string(kavlo_result_json_full()), full);
  // Detection leaves the last result, and so the full document, alone.
  EXPECT_EQ(kt::detect("Name,http://x/"), KAVLO_FORMAT_STREAMING_LIST);
  EXPECT_EQ(std::string(kavlo_result_json_full()), full);
  // A string that is not strict UTF-8 only in an option: the full document
  // cannot be written, the ordinary one still is.
  ASSERT_EQ(kt::parse("#EXTM3U\n#EXTVLCOPT:k=\xC0\xAF\n/a\n"), KAVLO_OK);
  EXPECT_STREQ(kavlo_result_json_full(), "{}");
  EXPECT_STRNE(kavlo_result_json(), "{}");
}

}  // namespace
