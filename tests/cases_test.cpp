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

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/kavlo_test.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  std::string name;
  std::string where;
  std::string input;
  int format = KAVLO_FORMAT_AUTO;
  std::string encoding;
  bool has_encoding = false;
  int status = KAVLO_OK;
  std::string error;
  std::string json;

  friend void PrintTo(const Case &c, std::ostream *os) { *os << c.where; }
};

int status_code(const std::string &name) {
  static const std::pair<const char *, int> codes[] = {
      {"KAVLO_OK", KAVLO_OK},           {"KAVLO_ERR_DECODE", KAVLO_ERR_DECODE},
      {"KAVLO_ERR_FORMAT", KAVLO_ERR_FORMAT}, {"KAVLO_ERR_INVALID", KAVLO_ERR_INVALID},
      {"KAVLO_ERR_IO", KAVLO_ERR_IO},   {"KAVLO_ERR_NOMEM", KAVLO_ERR_NOMEM}};
  for (auto [n, c] : codes)
    if (name == n) return c;
  throw std::runtime_error("unknown status " + name);
}

int format_code(yyjson_val *v) {
  if (yyjson_is_int(v)) return static_cast<int>(yyjson_get_sint(v));
  const std::string name = yyjson_get_str(v);
  for (int code = -1; code <= 4; ++code)
    if (name == kavlo_format_name(code)) return code;
  throw std::runtime_error("unknown format " + name);
}

std::string unescape(const std::string &in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '\n') continue;
    if (c != '\\' || i + 1 >= in.size()) {
      out += c;
      continue;
    }
    char e = in[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '0': out += '\0'; break;
      case 'x': out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16)); i += 2; break;
      default: out += e;
    }
  }
  return out;
}

std::string read_file(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string test_name(const std::string &stem, const std::string &title) {
  std::string out = stem + "_";
  bool up = true;
  for (char c : title) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      out += up ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
      up = false;
    } else {
      up = true;
    }
  }
  return out;
}

void apply_meta(Case &c, const std::string &meta, bool &escape, std::string &file) {
  yyjson_doc *doc = yyjson_read(meta.data(), meta.size(), 0);
  if (doc == nullptr) throw std::runtime_error("bad meta in " + c.where);
  yyjson_val *root = yyjson_doc_get_root(doc);
  if (yyjson_val *v = yyjson_obj_get(root, "format")) c.format = format_code(v);
  if (yyjson_val *v = yyjson_obj_get(root, "encoding")) {
    c.has_encoding = true;
    c.encoding = yyjson_get_str(v);
  }
  if (yyjson_val *v = yyjson_obj_get(root, "status")) c.status = status_code(yyjson_get_str(v));
  if (yyjson_val *v = yyjson_obj_get(root, "error")) c.error = yyjson_get_str(v);
  if (yyjson_val *v = yyjson_obj_get(root, "escape")) escape = yyjson_get_bool(v);
  if (yyjson_val *v = yyjson_obj_get(root, "file")) file = yyjson_get_str(v);
  yyjson_doc_free(doc);
}

std::vector<Case> load_cases() {
  std::vector<Case> out;
  std::vector<fs::path> files;
  for (const auto &e : fs::directory_iterator(KAVLO_CASES_DIR))
    if (e.path().extension() == ".md") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path &path : files) {
    std::istringstream in(read_file(path));
    std::string line;
    Case cur;
    bool open = false, escape = false, in_fence = false;
    int fences = 0, lineno = 0;
    std::string body, file;
    auto finish = [&] {
      if (!open) return;
      if (fences != 2) throw std::runtime_error("case without two fences at " + cur.where);
      out.push_back(cur);
    };
    while (std::getline(in, line)) {
      ++lineno;
      if (in_fence) {
        if (line == "```") {
          in_fence = false;
          if (++fences == 1) {
            cur.input = !file.empty() ? read_file(fs::path(KAVLO_DATA_DIR) / file)
                        : escape      ? unescape(body)
                                      : body;
          } else {
            cur.json = body.substr(0, body.empty() ? 0 : body.size() - 1);
          }
        } else {
          body += line + "\n";
        }
      } else if (line.rfind("### ", 0) == 0) {
        finish();
        cur = Case{};
        cur.name = test_name(path.stem().string(), line.substr(4));
        cur.where = path.filename().string() + ":" + std::to_string(lineno);
        open = true;
        escape = false;
        fences = 0;
        file.clear();
      } else if (open && line.rfind("<!-- meta=", 0) == 0) {
        apply_meta(cur, line.substr(10, line.size() - 10 - 4), escape, file);
      } else if (open && line.rfind("```", 0) == 0) {
        in_fence = true;
        body.clear();
      }
    }
    finish();
  }
  return out;
}

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

  if (c.format == KAVLO_FORMAT_AUTO) {
    const std::string path = kt::temp_file("case.txt", c.input);
    EXPECT_EQ(kavlo_parse_file_enc(path.c_str(), enc), c.status);
    EXPECT_EQ(kt::json(), c.json) << "through the file entry point";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Cases, ::testing::ValuesIn(load_cases()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
