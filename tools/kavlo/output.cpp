// Standard output: writes, write errors, JSON strings and indented
// documents.
#include "output.h"

#include <errno.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "progress.h"
#include "../../src/text/utf8.h"

namespace kavlo_cli {

namespace {

int out_errno = 0;

// A reader that went away (kavlo ... | head -1) ends the run quietly, the
// way a program killed by SIGPIPE ends: the progress line is cleared, the
// default action restored and the signal raised, so the shell sees status
// 141. Any other write error is kept and reported by out_finish().
void out_failed(int err) {
  if (err == EPIPE) {
    progress.clear();
    signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
    raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);  // not reached
  }
  if (out_errno == 0) out_errno = err ? err : EIO;
}

// The text indented by yyjson, or nothing when that fails.
struct Pretty {
  char *text = nullptr;
  size_t len = 0;
  Pretty(const char *json, size_t n) {
    if (yyjson_doc *doc = yyjson_read(json, n, 0)) {
      text = yyjson_write(doc, YYJSON_WRITE_PRETTY_TWO_SPACES, &len);
      yyjson_doc_free(doc);
    }
  }
  ~Pretty() { std::free(text); }
  Pretty(const Pretty &) = delete;
  Pretty &operator=(const Pretty &) = delete;
};

}  // namespace

bool out(const char *p, size_t n) {
  if (out_errno == 0 && n > 0 && std::fwrite(p, 1, n, stdout) != n) out_failed(errno);
  return out_errno == 0;
}

bool out(std::string_view s) { return out(s.data(), s.size()); }

bool out_ok() { return out_errno == 0; }

bool out_finish() {
  if (std::fflush(stdout) != 0 && out_errno == 0) out_failed(errno);
  if (out_errno == 0 && std::ferror(stdout)) out_errno = EIO;
  if (out_errno == 0) return true;
  diag("kavlo: standard output: %s\n", std::strerror(out_errno));
  return false;
}

bool out_json(const char *json, size_t n, bool pretty) {
  if (pretty) {
    const Pretty p(json, n);
    if (p.text) return out(p.text, p.len) && out("\n", 1);
  }
  return out(json, n) && out("\n", 1);
}

void append_json_string(std::string &o, std::string_view s, Stray stray) {
  static const char hex[] = "0123456789abcdef";
  const auto *p = reinterpret_cast<const unsigned char *>(s.data());
  o += '"';
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = p[i];
    const size_t k = kavlo::utf8_char_length(p + i, s.size() - i);
    if (k == 0) {
      if (stray == Stray::escape) {
        o += "\\\\x";
        o += hex[c >> 4];
        o += hex[c & 15];
      } else {
        o += "\xEF\xBF\xBD";
      }
      ++i;
      continue;
    }
    if (k > 1) {
      o.append(s.data() + i, k);
    } else if (c == '"') {
      o += "\\\"";
    } else if (c == '\\') {
      o += stray == Stray::escape ? "\\\\\\\\" : "\\\\";
    } else if (c == '\n') {
      o += "\\n";
    } else if (c == '\t') {
      o += "\\t";
    } else if (c == '\r') {
      o += "\\r";
    } else if (c < 0x20) {
      o += "\\u00";
      o += hex[c >> 4];
      o += hex[c & 15];
    } else {
      o += static_cast<char>(c);
    }
    i += k;
  }
  o += '"';
}

}  // namespace kavlo_cli
