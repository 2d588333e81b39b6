#include "kavlo_test.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include <unistd.h>

namespace kt {

namespace {

std::unique_ptr<char[]> exact_copy(std::string_view bytes) {
  std::unique_ptr<char[]> p(new char[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(p.get(), bytes.data(), bytes.size());
  return p;
}

}  // namespace

int parse(std::string_view bytes, int format, const char *encoding) {
  auto p = exact_copy(bytes);
  return kavlo_parse_enc(p.get(), bytes.size(), format, encoding);
}

int parse_into(kavlo_playlist *playlist, std::string_view bytes, int format, const char *encoding) {
  auto p = exact_copy(bytes);
  return kavlo_playlist_parse(playlist, p.get(), bytes.size(), format, encoding);
}

int detect(std::string_view bytes) {
  auto p = exact_copy(bytes);
  return kavlo_detect(p.get(), bytes.size());
}

std::vector<std::string> warnings() {
  std::vector<std::string> out;
  for (int i = 0; i < kavlo_warning_count(); ++i) {
    const char *w = kavlo_warning(i);
    out.emplace_back(w ? w : "<null>");
  }
  return out;
}

std::string json() { return kavlo_result_json(); }

// The test process's own temporary directory, removed when it ends.
struct TempDir {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("kavlo-test-" + std::to_string(::getpid()));
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

std::string temp_file(std::string_view name, std::string_view bytes) {
  static TempDir temp;
  const auto &dir = temp.path;
  std::filesystem::create_directories(dir);
  auto path = dir / std::string(name);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

}  // namespace kt
