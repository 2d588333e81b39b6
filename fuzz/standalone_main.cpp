// Replays files (or every file of a directory) through a fuzz harness, so
// that builds without libFuzzer keep the harnesses running on the corpus.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  size_t runs = 0;
  auto replay = [&](const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++runs;
  };
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto &e : std::filesystem::recursive_directory_iterator(argv[i]))
        if (e.is_regular_file()) replay(e.path());
    } else {
      replay(argv[i]);
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  return runs == 0;
}
