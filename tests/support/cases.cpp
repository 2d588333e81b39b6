// Loader of the Markdown case files (see cases.h).
#include "cases.h"

#include <yyjson.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kt {

namespace {

namespace fs = std::filesystem;


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

}  // namespace

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
      if (fences != 2 && fences != 3) throw std::runtime_error("case without two fences at " + cur.where);
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
            (fences == 2 ? cur.json : cur.full) = body.substr(0, body.empty() ? 0 : body.size() - 1);
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

}  // namespace kt
