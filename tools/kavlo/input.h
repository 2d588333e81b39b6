// The inputs: files and standard input, parsed into a playlist handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kavlo.h"
#include "options.h"

namespace kavlo_cli {

// What became of one file.
struct Outcome {
  int rc = KAVLO_OK;
  std::string error;       // "" when the parse succeeded
  uint64_t bytes = 0;      // the input's size, when known
  bool sized = false;      // the input was read: `bytes` is its size
  bool auto_used = false;  // -e auto and the parse succeeded: `encoding` tells the one used
  std::string encoding;    // "" for bytes the library kept as they were
  bool guessed = false;    // -e auto on text neither UTF-8 nor marked
};

bool is_stdin(const char *file);

// Parses one file into `p`, standard input for "-": the library reads
// both (regular files, and pipes, FIFOs and devices as streams).
Outcome parse_one(kavlo_playlist *p, const char *file, const Options &o);

}  // namespace kavlo_cli
