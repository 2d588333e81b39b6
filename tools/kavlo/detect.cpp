// The detect command: each file's format, one line per file.
#include <string>

#include "commands.h"
#include "input.h"
#include "output.h"
#include "progress.h"

namespace kavlo_cli {

namespace {

// The format of the bytes, decoded as without a name. With -w, through the
// process-wide detection, the one that keeps its decoding warnings and
// error, which are printed; otherwise with no trace anywhere.
int detect_one(const char *file, const Buffer &b, bool warnings) {
  const char *text = b.data ? b.data : "";
  if (!warnings) return kavlo_detect_text(text, b.size, nullptr);
  kavlo_clear();
  const int format = kavlo_detect(text, b.size);
  for (int i = 0; i < kavlo_warning_count(); ++i)
    if (const char *w = kavlo_warning(i)) diag("%s: %s\n", file, w);
  if (kavlo_last_error()[0] != '\0') diag("%s: %s\n", file, kavlo_last_error());
  kavlo_clear();
  return format;
}

}  // namespace

int run_detect(const Options &o) {
  int status = 0;
  Buffer b;
  const bool named = o.lines || o.files.size() > 1;
  for (const char *file : o.files) {
    Outcome r;
    const char *name = "error";  // every file has its line
    if (read_input(file, b, r)) {
      name = kavlo_format_name(detect_one(file, b, o.warnings));
    } else {
      diag("kavlo: %s: %s\n", file, r.rc == KAVLO_ERR_NOMEM ? "out of memory" : r.error.c_str());
      if (status == 0) status = r.rc;
    }
    std::string line;
    if (named) (line += file) += '\t';
    (line += name) += '\n';
    if (!out(line)) break;
  }
  if (!out_finish() && status == 0) status = KAVLO_ERR_IO;
  return status;
}

}  // namespace kavlo_cli
