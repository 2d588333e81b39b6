// The parse command: one playlist handle for the run, each file's document
// on standard output (alone, or in a JSON Lines wrapper), messages and
// diagnostics on standard error.
#include <strings.h>

#include <cstring>
#include <string>
#include <string_view>

#include "commands.h"
#include "input.h"
#include "output.h"
#include "progress.h"
#include "../../src/text/utf8.h"

namespace kavlo_cli {

namespace {

const char *status_name(int rc) {
  switch (rc) {
    case KAVLO_OK: return "ok";
    case KAVLO_ERR_DECODE: return "decode";
    case KAVLO_ERR_FORMAT: return "format";
    case KAVLO_ERR_INVALID: return "invalid";
    case KAVLO_ERR_IO: return "io";
    case KAVLO_ERR_NOMEM: return "nomem";
    default: return "unknown";
  }
}

bool ends_with_ci(const char *s, const char *suffix) {
  const size_t n = std::strlen(s), k = std::strlen(suffix);
  return n >= k && strcasecmp(s + n - k, suffix) == 0;
}

// A hint at the way out, for failures that surprise users.
const char *hint(const char *file, const Outcome &r, const Options &o) {
  // No format fits nothing: an empty file fails detection, and -f m3u only
  // for the missing header.
  if (r.rc == KAVLO_ERR_FORMAT && r.sized && r.bytes == 0)
    return is_stdin(file) ? " (standard input is empty)" : " (the file is empty)";
  if (r.error == "unknown playlist format" && o.format == KAVLO_FORMAT_AUTO) {
    if (ends_with_ci(file, ".cue"))
      return " (CUE sheets are detected by upper-case FILE, TRACK and INDEX lines; try -f cue)";
    if (ends_with_ci(file, ".m3u") || ends_with_ci(file, ".m3u8"))
      return " (M3U is detected by an upper-case #EXTM3U first line; try -f m3u)";
    return " (name the format with -f m3u, -f streaming-list or -f cue)";
  }
  if (r.rc == KAVLO_ERR_DECODE && strcasecmp(o.encoding, "gb18030") == 0)
    return " (gb18030 is read as GBK)";
  return "";
}

void report(const char *file, const Outcome &r, const Options &o) {
  const char *msg = r.rc == KAVLO_ERR_NOMEM || r.error.empty() ? "out of memory" : r.error.c_str();
  diag("kavlo: %s: %s%s\n", file, msg, hint(file, r, o));
}

// {"file":..,["file_escaped":true,]"status":..,"code":..,"error":..,
//  ["encoding":..,]"result":
std::string wrapper_head(const char *file, const Outcome &r) {
  std::string h = "{\"file\":";
  const std::string_view name = file;
  const bool escaped = !kavlo::is_strict_utf8(name);
  append_json_string(h, name, escaped ? Stray::escape : Stray::replace);
  if (escaped) h += ",\"file_escaped\":true";
  h += ",\"status\":\"";
  h += status_name(r.rc);
  h += "\",\"code\":";
  h += std::to_string(r.rc);
  h += ",\"error\":";
  append_json_string(h, r.error, Stray::replace);
  if (r.auto_used) {
    h += ",\"encoding\":";
    if (!r.encoding.empty()) append_json_string(h, r.encoding, Stray::replace);
    else h += "null";
  }
  h += ",\"result\":";
  return h;
}

// The handle of the run, freed at its end. Its blocks serve each next file.
struct Handle {
  kavlo_playlist *p = kavlo_playlist_new();
  Handle() = default;
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() { kavlo_playlist_free(p); }
};

}  // namespace

int run_parse(const Options &o) {
  const Handle h;
  if (h.p == nullptr) {
    diag("kavlo: out of memory\n");
    return KAVLO_ERR_NOMEM;
  }
  int status = 0;
  const bool lines = o.lines || o.files.size() > 1;
  progress.start(o.files.size());
  size_t done = 0;
  for (const char *file : o.files) {
    const Outcome r = parse_one(h.p, file, o);
    if (r.rc != KAVLO_OK) report(file, r, o);
    if (o.warnings) {
      // The diagnostics, as a compiler writes them: every warning with its
      // line (none for the decoding's), and what was dropped without one.
      for (int i = 0; i < kavlo_playlist_diagnostic_count(h.p); ++i) {
        const long long line = kavlo_playlist_diagnostic_line(h.p, i);
        if (line > 0) diag("%s:%lld: %s\n", file, line, kavlo_playlist_diagnostic_message(h.p, i));
        else diag("%s: %s\n", file, kavlo_playlist_diagnostic_message(h.p, i));
      }
      if (r.guessed)
        diag("%s: encoding: %s (auto)\n", file, !r.encoding.empty() ? r.encoding.c_str() : "bytes as they are");
    }
    const char *json = r.rc != KAVLO_OK ? "null" : o.full ? kavlo_playlist_json_full(h.p) : kavlo_playlist_json(h.p);
    const size_t len = std::strlen(json);
    // The library's empty document: nothing a user would guess from "{}".
    if (r.rc == KAVLO_OK && len == 2)
      diag("kavlo: %s: no JSON document: the text is not strictly valid UTF-8, "
           "or memory ran out\n", file);
    if (!lines) {
      if (r.rc == KAVLO_OK) out_json(json, len, o.pretty);
    } else if (o.pretty) {
      // The slow way: the whole object is read back and indented.
      std::string line = wrapper_head(file, r);
      line.append(json, len);
      line += '}';
      out_json(line.data(), line.size(), true);
    } else {
      // The library's text is written where it stands, between its wrapper.
      out(wrapper_head(file, r)) && out(json, len) && out("}\n", 2);
    }
    if (r.rc != KAVLO_OK && status == 0) status = r.rc;
    progress.step(++done, r.bytes);
    if (!out_ok()) break;
  }
  progress.clear();
  if (!out_finish() && status == 0) status = KAVLO_ERR_IO;
  return status;
}

}  // namespace kavlo_cli
