// Prints the library's encoding guess for each file named: NAME<TAB>FILE,
// NAME empty when the guess leaves the file to the library's decoding.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "../../src/decode/guess.h"

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "guess_probe: cannot read %s\n", argv[i]);
      return 1;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char name[kavlo::guess_name_size];
    kavlo::guess_encoding(bytes.data(), bytes.size(), name);
    std::printf("%s\t%s\n", name, argv[i]);
  }
  return 0;
}
