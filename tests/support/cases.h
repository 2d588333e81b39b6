// The Markdown case files under tests/cases, loaded for the tests. Each case is a heading,
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
//
// A third fence, when present, holds the expected full document
// (kavlo_result_json_full), with @VERSION@ standing for the version.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "kavlo.h"

namespace kt {

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
  std::string full;  // "" when the case gives none

  friend void PrintTo(const Case &c, std::ostream *os) { *os << c.where; }
};

// Every case of every file, in file order.
std::vector<Case> load_cases();

}  // namespace kt
