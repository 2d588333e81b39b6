// The JSON export against its reference, yyjson's writer over a mutable
// document of the same store: equal bytes on every case file and on
// strings chosen to reach every branch of the writer (escapes, strict UTF-8,
// the vectorised copy around its 16-byte blocks, numbers at their limits).
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <climits>
#include <iterator>
#include <set>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../src/json/json.h"
#include "../src/store/messages.h"
#include "../src/store/locations.h"
#include "../src/store/store.h"
#include "support/cases.h"
#include "support/full_doc.h"
#include "support/json_reference.h"
#include "support/kavlo_test.h"

namespace {

using namespace std::string_literals;

kavlo::Store &S() { return kavlo::store(); }

// The export, which must equal the reference, both "{}" included.
std::string export_checked() {
  const std::string out = kavlo_result_json();
  EXPECT_EQ(out, kt::reference_json(S()));
  return out;
}

class JsonCases : public kt::Store, public ::testing::WithParamInterface<kt::Case> {};

TEST_P(JsonCases, ExportEqualsTheReference) {
  const kt::Case &c = GetParam();
  SCOPED_TRACE(c.where);
  kt::parse(c.input, c.format, c.has_encoding ? c.encoding.c_str() : nullptr);
  export_checked();
  // A second export reuses the block and gives the same text.
  export_checked();
}

INSTANTIATE_TEST_SUITE_P(Cases, JsonCases, ::testing::ValuesIn(kt::load_cases()),
                         [](const auto &info) { return info.param.name; });

// Pieces that each take another path through the string writer.
const std::vector<std::string> &pieces() {
  static const std::vector<std::string> all = {
      "\"", "\\", "/", "\x01", "\b", "\t", "\n", "\x0B", "\f", "\r", "\x1F", "\x7F",
      "\xC2\x80", "\xC3\xA9", "\xDF\xBF", "\xE0\xA0\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xED\x9F\xBF",
      "\xEE\x80\x80", "\xEF\xBB\xBF", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x9F\x98\x80",
      "\xF4\x8F\xBF\xBF",
      // Not strict UTF-8: overlong forms, surrogates, above U+10FFFF, lead
      // bytes that never start a character, stray and cut-off sequences.
      "\xC0\xAF", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
      "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF7\xBF\xBF\xBF", "\xF8\x88\x80\x80\x80",
      "\xFF", "\x80", "\xBF", "\xC2", "\xE2\x80", "\xF0\x9F\x98", "\xC2\x41", "\xE2\x28\xA1",
      "\xF0\x9F\x28\x80"};
  return all;
}

class JsonStrings : public kt::Store {};

// Every piece at every place of a string of 0 to 40 bytes, in the title, a
// location, an attribute key and value, and a warning.
TEST_F(JsonStrings, EveryPieceAtEveryPlace) {
  for (const std::string &piece : pieces()) {
    for (size_t len : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{31}, size_t{40}}) {
      kavlo_clear();
      for (size_t at = 0; at <= len; ++at) {
        std::string text(len, 'a');
        for (size_t k = 0; k < len; ++k) text[k] = static_cast<char>('a' + k % 26);
        text.insert(at, piece);
        ASSERT_EQ(kavlo::item_add(S(), text, text, -1), KAVLO_OK);
        kavlo::item_attr_add(S(), kavlo::copy_string(S(), text), text);
        kavlo::warnf(S(), "%s", text.c_str());
      }
      SCOPED_TRACE("piece of " + std::to_string(piece.size()) + " bytes, length " + std::to_string(len));
      export_checked();
    }
  }
}

// yyjson's writer over the values of `json` as yyjson reads them, "" when
// it does not read them: the same bytes for a document written as yyjson
// writes it.
std::string rewritten(const std::string &json) {
  yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
  if (doc == nullptr) return "";
  char *text = yyjson_write(doc, 0, nullptr);
  std::string out = text != nullptr ? text : "";
  std::free(text);
  yyjson_doc_free(doc);
  return out;
}

std::string member(yyjson_val *obj, const char *key) {
  yyjson_val *v = yyjson_obj_get(obj, key);
  return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : "<absent>";
}

// Every control byte and DEL at the start, in the middle and at the end of
// strings of each length the writer treats apart: shorter than its 16-byte
// block, one block, longer, ending at the edge of the second block, and
// past it. In both documents: the ordinary one against the reference, the
// full one, with its request URL and headers, as yyjson writes it and with
// every value read back. NUL ends a
// string of the store, so its strings are the text before it.
TEST_F(JsonStrings, ControlBytesInEveryLengthClass) {
  std::vector<unsigned char> bytes = {0x7F};
  for (unsigned char b = 0; b < 0x20; ++b) bytes.push_back(b);
  for (const unsigned char b : bytes) {
    SCOPED_TRACE("byte " + std::to_string(b));
    kavlo_clear();
    std::vector<std::string> texts;
    for (const size_t len : {1, 2, 15, 16, 17, 31, 32, 33, 48})
      for (const size_t at : std::set<size_t>{0, len / 2, len - 1}) {
        std::string text;
        for (size_t k = 0; k < len; ++k) text += static_cast<char>('a' + k % 26);
        text[at] = static_cast<char>(b);
        texts.push_back(text);
        ASSERT_EQ(kavlo::item_add(S(), text + "|User-Agent=" + text + "&Referer=" + text, text, -1), KAVLO_OK);
        kavlo::item_attr_add(S(), kavlo::copy_string(S(), text), text);
        kavlo::warnf(S(), "%s", text.c_str());
      }
    ASSERT_EQ(kavlo::resolve_headers(S()), KAVLO_OK);
    const std::string compact = export_checked();
    const std::string full = kavlo_result_json_full();
    EXPECT_EQ(rewritten(full), full);
    EXPECT_EQ(kt::strip_full(full), compact);
    if (b == 0) continue;
    yyjson_doc *doc = yyjson_read(full.data(), full.size(), 0);
    ASSERT_NE(doc, nullptr);
    yyjson_val *items = yyjson_obj_get(yyjson_doc_get_root(doc), "items");
    ASSERT_EQ(yyjson_arr_size(items), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      yyjson_val *item = yyjson_arr_get(items, i), *headers = yyjson_obj_get(item, "headers");
      EXPECT_EQ(member(item, "title"), texts[i]);
      EXPECT_EQ(member(item, "url"), texts[i]);
      EXPECT_EQ(member(headers, "User-Agent"), texts[i]);
      EXPECT_EQ(member(headers, "Referer"), texts[i]);
    }
    yyjson_doc_free(doc);
  }
}

// Strings that end right before an unreadable page: the writer reads no
// byte past a string's NUL across a page boundary.
TEST_F(JsonStrings, StringsAtTheEndOfAPage) {
  const size_t page = 4096;
  void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char *>(map) + page, page, PROT_NONE), 0);
  char *end = static_cast<char *>(map) + page;
  ASSERT_EQ(kavlo::item_add(S(), "/a", "t", -1), KAVLO_OK);
  for (const std::string tail : {"", "\xC3\xA9", "\"", "\x01", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2\x82"}) {
    for (size_t len = 0; len < 40; ++len) {
      const std::string text = std::string(len, 'x') + tail;
      char *at = end - text.size() - 1;
      std::memcpy(at, text.c_str(), text.size() + 1);
      S().items[0].title = at;
      SCOPED_TRACE(len);
      export_checked();
    }
  }
  S().items[0].title = "";
  munmap(map, 2 * page);
}

TEST_F(JsonStrings, InvalidTextRefusesTheDocument) {
  ASSERT_EQ(kavlo::item_add(S(), "/ok", "fine", 1), KAVLO_OK);
  ASSERT_NE(export_checked(), "{}");
  kavlo::warnf(S(), "m3u: %s", "\xE0\x80\x80");
  EXPECT_EQ(export_checked(), "{}");
  // The refusal keeps nothing of the text written before it.
  S().warning_count = 0;
  EXPECT_NE(export_checked(), "{}");
}

TEST_F(JsonStrings, LongStringsAndTheWarningCut) {
  // Multi-byte characters across the 511-byte cut of a warning, and
  // strings long enough to grow the block.
  for (const std::string &ch : {"\xC3\xA9"s, "\xE2\x82\xAC"s, "\xF0\x9F\x98\x80"s, "\""s, "\x01"s}) {
    std::string text;
    while (text.size() < 600) text += ch;
    kavlo::warnf(S(), "cue: %s", text.c_str());
    std::string big;
    while (big.size() < 20000) big += ch + "0123456789abcdefghij";
    ASSERT_EQ(kavlo::item_add(S(), big, text, -1), KAVLO_OK);
  }
  export_checked();
}

TEST_F(JsonStrings, AbsentStringsNumbersAndFlags) {
  // The extreme numbers reach the document as release dates and durations.
  ASSERT_EQ(kavlo::item_add(S(), "", "", INT_MIN), KAVLO_OK);
  ASSERT_EQ(kavlo::item_add(S(), "/b", "b", INT_MAX), KAVLO_OK);
  ASSERT_EQ(kavlo::item_add(S(), "/c", "c", -20100716), KAVLO_OK);
  ASSERT_EQ(kavlo::item_add(S(), "/d", "d", 2147483), KAVLO_OK);
  S().items[0].title = nullptr;
  S().items[0].location = nullptr;
  for (const char *key : {"k1", "k2", "k3", "k1"}) kavlo::item_attr_add(S(), key, "v");
  S().attrs[0].value = nullptr;  // an attribute without value
  S().attrs[2].key = nullptr;    // and one without key
  S().imdb_date_playlist = 1;
  for (int format : {-7, -1, 0, 1, 2, 3, 4, 5, INT_MAX}) {
    S().detected_format = format;
    SCOPED_TRACE(format);
    export_checked();
  }
}

// Line numbers keep their high bits (past 4 Gi lines), and attribute
// ranges belong to the items that have them, with items without any
// between them.
TEST_F(JsonStrings, LinesPastFourGiAndSparseAttributes) {
  const size_t lines[] = {1, (size_t{1} << 32) + 5, (size_t{1} << 32) + 9, (size_t{3} << 32) + 2,
                          (size_t{3} << 32) + 3};
  for (size_t i = 0; i < std::size(lines); ++i) {
    ASSERT_EQ(kavlo::item_add(S(), "/x", "x", -1), KAVLO_OK);
    ASSERT_EQ(kavlo::item_set_line(S(), lines[i]), KAVLO_OK);
    if (i % 2 == 1) kavlo::item_attr_add(S(), "k", std::to_string(i));
  }
  S().detected_format = KAVLO_FORMAT_M3U;
  const std::string full = kavlo_result_json_full();
  size_t at = 0;
  for (size_t line : lines) {
    at = full.find(",\"line\":" + std::to_string(line) + "}", at);
    ASSERT_NE(at, std::string::npos) << line << " in " << full;
  }
  EXPECT_EQ(S().line_high_used, 2u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(kavlo_item_attr_count(i), i % 2);
    EXPECT_EQ(kavlo_item_attr(i, "K") ? std::string(kavlo_item_attr(i, "K")) : "-",
              i % 2 ? std::to_string(i) : "-");
  }
  export_checked();
}

TEST_F(JsonStrings, CueNumbersAndFields) {
  ASSERT_EQ(kt::parse("TITLE \"T\\\"x\"\nPERFORMER \"\xC3\xA9\"\nFILE \"a/b.wav\" WAVE\n"
                      "TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 02 99:59:74\n"
                      "TRACK 02 AUDIO\nTITLE \"t\\\\\"\nTRACK 03 AUDIO\nINDEX 01 1:2:3\n"),
            KAVLO_OK);
  export_checked();
  ASSERT_GE(S().index_used, 3u);
  for (int64_t frames : {int64_t{-1}, int64_t{74}, int64_t{75}, int64_t{2147483647},
                         int64_t{322122547200}, int64_t{-9000000000000000}, int64_t{9000000000000000}}) {
    S().indices[1].frames = frames;
    S().indices[2].number = static_cast<int>(frames);
    SCOPED_TRACE(frames);
    export_checked();
  }
  S().cue.title = nullptr;
  export_checked();
  S().cue.performer = nullptr;
  S().tracks[0].file = nullptr;
  export_checked();
}

TEST_F(JsonStrings, EmptyStoreAndBlockReuse) {
  EXPECT_EQ(export_checked(), R"({"format":"m3u","item_count":0,"imdb_date_playlist":false,"items":[]})");
  // A long document, then a short one written into the same block.
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(kavlo::item_add(S(), "/a/b/c", "t", i), KAVLO_OK);
  const std::string big = export_checked();
  const size_t capacity = S().json_capacity;
  S().item_count = 1;
  const std::string small = export_checked();
  EXPECT_LT(small.size(), big.size());
  EXPECT_EQ(S().json_capacity, capacity);
}

}  // namespace

namespace {

// A parse that replaces a result takes over the blocks of the result it
// clears (heap blocks of 64 KiB and more, and mappings): whatever sizes the
// two results had, the new one is the same as after a clear.
TEST(HeldBlocks, AParseAfterAnotherGivesTheSameResult) {
  auto m3u = [](int n, const char *title) {
    std::string t = "#EXTM3U\n";
    for (int i = 0; i < n; ++i)
      t += "#EXTINF:" + std::to_string(i) + " tvg-id=\"x" + std::to_string(i) + "\" group-title=\"g\"," + title +
           std::to_string(i) + "\nhttp://host/" + std::to_string(i) + "\n";
    return t;
  };
  std::string list;
  for (int i = 0; i < 9000; ++i) list += "Name " + std::to_string(i) + ",http://h/" + std::to_string(i) + "\n";
  const std::vector<std::string> texts = {m3u(4000, "a"), m3u(12000, "a longer title "), list,
                                          m3u(30000, "t"), "#EXTM3U\n"};
  std::vector<std::string> alone;
  for (const std::string &t : texts) {
    kavlo_clear();
    kt::parse(t);
    alone.push_back(kavlo_result_json());
  }
  for (size_t a = 0; a < texts.size(); ++a)
    for (size_t b = 0; b < texts.size(); ++b) {
      kavlo_clear();
      kt::parse(texts[a]);
      (void)kavlo_result_json();
      kt::parse(texts[b]);
      EXPECT_EQ(kavlo_result_json(), alone[b]) << a << " then " << b;
    }
  kavlo_clear();
}

}  // namespace
