// The inputs: files and standard input, parsed into a playlist handle or
// read whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kavlo.h"
#include "options.h"

namespace kavlo_cli {

// Bytes read by the tool itself (standard input, and detect's files).
struct Buffer {
  char *data = nullptr;
  size_t size = 0;
  size_t cap = 0;
  Buffer() = default;
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  ~Buffer();
  bool grow(size_t want);
};

// What became of one file.
struct Outcome {
  int rc = KAVLO_OK;
  std::string error;       // "" when the parse succeeded
  uint64_t bytes = 0;      // the input's size, when known
  bool sized = false;      // a regular file or standard input: `bytes` is its size
  bool auto_used = false;  // -e auto and the parse succeeded: `encoding` tells the one used
  std::string encoding;    // "" for bytes the library kept as they were
  bool guessed = false;    // -e auto on text neither UTF-8 nor marked
};

bool is_stdin(const char *file);

// Reads a file whole, or standard input for "-"; anything that is not a
// regular file is read as a stream. On failure returns false with the
// status and message in `r`.
bool read_input(const char *file, Buffer &b, Outcome &r);

// Parses one file into `p`: standard input read here, anything else read
// by the library (regular files, and pipes, FIFOs and devices as streams).
Outcome parse_one(kavlo_playlist *p, const char *file, const Options &o, Buffer &b);

}  // namespace kavlo_cli
