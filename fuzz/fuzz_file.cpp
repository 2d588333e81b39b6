// Fuzzes the file entry points through a temporary file. The first byte
// picks the encoding; the file then must parse as the same bytes in memory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz_common.h"

namespace {

// The harness's temporary file, removed when the process ends.
struct TempFile {
  std::string path = (std::filesystem::temp_directory_path() /
                      ("kavlo-fuzz-" + std::to_string(::getpid()))).string();
  ~TempFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const TempFile temp;
  const std::string &path = temp.path;
  static const char *const encodings[] = {nullptr, "gbk", "utf-16le", "cp1252", "bogus"};
  const char *encoding = encodings[data[0] % 5];
  FILE *f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(std::fwrite(data + 1, 1, size - 1, f) == size - 1);
  std::fclose(f);

  const int rc = kavlo_parse_file_enc(path.c_str(), encoding);
  fuzz::read_store();
  const std::string from_file = fuzz::read_json(fuzz::line_bound(data + 1, size - 1));
  const int rc_mem = kavlo_parse_enc(reinterpret_cast<const char *>(data + 1), size - 1,
                                     KAVLO_FORMAT_AUTO, encoding);
  FUZZ_CHECK(rc == rc_mem);
  FUZZ_CHECK(fuzz::read_json() == from_file);
  kavlo_clear();
  return 0;
}
