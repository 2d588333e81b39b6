// Parsing the inputs into the run's playlist handle.
#include "input.h"

#include <unistd.h>

#include <cstring>

namespace kavlo_cli {

namespace {

// The encodings the library reads text in without a guess.
bool is_unicode(const char *name) {
  static const char *const names[] = {"UTF-8", "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"};
  for (const char *n : names)
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

}  // namespace

bool is_stdin(const char *file) { return std::strcmp(file, "-") == 0; }

Outcome parse_one(kavlo_playlist *p, const char *file, const Options &o) {
  Outcome r;
  r.rc = is_stdin(file) ? kavlo_playlist_parse_fd(p, STDIN_FILENO, o.format, o.encoding)
                        : kavlo_playlist_parse_file_as(p, file, o.format, o.encoding);
  // The size for the progress line and the hint at an empty input, once
  // the library has read it.
  if (r.rc != KAVLO_ERR_IO && r.rc != KAVLO_ERR_INVALID) {
    r.bytes = kavlo_playlist_input_size(p);
    r.sized = true;
  }
  if (r.rc != KAVLO_OK) {
    r.error = kavlo_playlist_last_error(p);
    return r;
  }
  if (o.auto_encoding) {
    // "raw": no encoding read the bytes, the library kept them as they were.
    const char *used = kavlo_playlist_encoding(p);
    r.auto_used = true;
    r.encoding = used != nullptr && std::strcmp(used, "raw") != 0 ? used : "";
    r.guessed = used == nullptr || !is_unicode(used);
  }
  return r;
}

}  // namespace kavlo_cli
