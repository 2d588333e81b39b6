// The detect command: each file's format, one line per file.
#include <unistd.h>

#include <string>

#include "commands.h"
#include "input.h"
#include "output.h"
#include "progress.h"

namespace kavlo_cli {

namespace {

// Reads each input and decides its format without parsing it: the bytes
// decoded as without a name. With -w the decoding's warnings and error are
// printed.
int detect_one(kavlo_playlist *p, const char *file, bool warnings) {
  const int rc = is_stdin(file) ? kavlo_playlist_detect_fd(p, STDIN_FILENO, nullptr)
                                : kavlo_playlist_detect_file(p, file, nullptr);
  if (rc == KAVLO_ERR_IO || rc == KAVLO_ERR_NOMEM || rc == KAVLO_ERR_INVALID) return rc;
  if (warnings) {
    for (int i = 0; i < kavlo_playlist_warning_count(p); ++i)
      if (const char *w = kavlo_playlist_warning(p, i)) diag("%s: %s\n", file, w);
    if (kavlo_playlist_last_error(p)[0] != '\0') diag("%s: %s\n", file, kavlo_playlist_last_error(p));
  }
  return KAVLO_OK;
}

}  // namespace

int run_detect(const Options &o) {
  kavlo_playlist *p = kavlo_playlist_new();
  if (p == nullptr) {
    diag("kavlo: out of memory\n");
    return KAVLO_ERR_NOMEM;
  }
  int status = 0;
  const bool named = o.lines || o.files.size() > 1;
  for (const char *file : o.files) {
    const char *name = "error";  // every file has its line
    if (const int rc = detect_one(p, file, o.warnings); rc == KAVLO_OK) {
      name = kavlo_format_name(kavlo_playlist_detected_format(p));
    } else {
      diag("kavlo: %s: %s\n", file, rc == KAVLO_ERR_NOMEM ? "out of memory" : kavlo_playlist_last_error(p));
      if (status == 0) status = rc;
    }
    std::string line;
    if (named) (line += file) += '\t';
    (line += name) += '\n';
    if (!out(line)) break;
  }
  kavlo_playlist_free(p);
  if (!out_finish() && status == 0) status = KAVLO_ERR_IO;
  return status;
}

}  // namespace kavlo_cli
