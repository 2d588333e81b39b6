// kavlo: the command-line front end of the library. Parses playlists and
// prints their JSON documents, or detects their formats. Uses only the
// public C interface (and yyjson to re-indent or wrap documents).
#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <yyjson.h>

#include "kavlo.h"

namespace {

constexpr int exit_usage = 2;

const char usage[] =
    "usage: kavlo [OPTIONS] FILE...\n"
    "       kavlo detect FILE...\n"
    "\n"
    "Parses each playlist (M3U / extended M3U, streaming URL list, CUE sheet)\n"
    "and prints its JSON document on standard output. FILE - reads standard input.\n"
    "\n"
    "With one FILE the document is printed as the library writes it. With several,\n"
    "each is printed on its own line (JSON Lines) wrapped as\n"
    "  {\"file\":NAME,\"status\":STATUS,\"code\":N,\"error\":TEXT,\"result\":DOCUMENT}\n"
    "where STATUS is ok, decode, format, invalid, io or nomem.\n"
    "\n"
    "  detect               print the detected format of each file instead:\n"
    "                       m3u, m3u8-hls, streaming-list, cue or unknown\n"
    "                       (with several files: NAME<TAB>FORMAT)\n"
    "  -e, --encoding NAME  decode the bytes from NAME (e.g. gbk, cp1252, utf-16le,\n"
    "                       or any iconv name); a byte-order mark still wins\n"
    "  -f, --format FORMAT  auto (default), m3u, streaming-list or cue\n"
    "  -p, --pretty         indent the JSON (several files: one indented document\n"
    "                       after another)\n"
    "  -w, --warnings       print the parser's warnings on standard error,\n"
    "                       as FILE: WARNING\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "Errors go to standard error as \"kavlo: FILE: MESSAGE\". A batch on a terminal\n"
    "shows its progress on standard error.\n"
    "\n"
    "Exit status:\n"
    "  0  every file parsed\n"
    "  1  a file could not be decoded from its encoding\n"
    "  2  usage error\n"
    "  3  HLS manifest, unknown format, or M3U text without #EXTM3U header\n"
    "  4  invalid input\n"
    "  5  a file could not be read\n"
    "  6  out of memory\n"
    "With several files, the status of the first file that failed.\n";

struct Options {
  bool detect = false;
  bool pretty = false;
  bool warnings = false;
  int format = KAVLO_FORMAT_AUTO;
  const char *encoding = nullptr;
  std::vector<const char *> files;
};

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

bool parse_format(std::string_view name, int &format) {
  if (name == "auto") format = KAVLO_FORMAT_AUTO;
  else if (name == "m3u") format = KAVLO_FORMAT_M3U;
  else if (name == "streaming-list") format = KAVLO_FORMAT_STREAMING_LIST;
  else if (name == "cue") format = KAVLO_FORMAT_CUE;
  else return false;
  return true;
}

int usage_error(const char *what, const char *arg) {
  std::fprintf(stderr, "kavlo: %s%s%s\nTry 'kavlo --help'.\n", what, arg ? ": " : "", arg ? arg : "");
  return exit_usage;
}

// Returns -1 when the program goes on, else the exit status.
int parse_args(int argc, char **argv, Options &o) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (options_done || a == "-" || a.empty() || a[0] != '-') {
      if (!o.detect && o.files.empty() && a == "detect" && !options_done) {
        o.detect = true;
        continue;
      }
      o.files.push_back(argv[i]);
      continue;
    }
    auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--") {
      options_done = true;
    } else if (a == "-h" || a == "--help") {
      std::fputs(usage, stdout);
      return 0;
    } else if (a == "-V" || a == "--version") {
      std::printf("kavlo %s\n", kavlo_version());
      return 0;
    } else if (a == "-p" || a == "--pretty") {
      o.pretty = true;
    } else if (a == "-w" || a == "--warnings") {
      o.warnings = true;
    } else if (a == "-e" || a == "--encoding" || a.rfind("--encoding=", 0) == 0) {
      const char *v = a.size() > 10 && a[10] == '=' ? argv[i] + 11 : value();
      if (v == nullptr) return usage_error("option needs a value", argv[i]);
      o.encoding = v;
    } else if (a == "-f" || a == "--format" || a.rfind("--format=", 0) == 0) {
      const char *v = a.size() > 8 && a[8] == '=' ? argv[i] + 9 : value();
      if (v == nullptr) return usage_error("option needs a value", argv[i]);
      if (!parse_format(v, o.format)) return usage_error("unknown format", v);
    } else {
      return usage_error("unknown option", argv[i]);
    }
  }
  if (o.files.empty()) return usage_error("no input file", nullptr);
  return -1;
}

// Reads a whole file (or standard input for "-"); false with errno set.
bool read_all(const char *path, std::string &out) {
  FILE *f = std::strcmp(path, "-") == 0 ? stdin : std::fopen(path, "rb");
  if (f == nullptr) return false;
  out.clear();
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const bool ok = !std::ferror(f);
  const int err = errno;
  if (f != stdin) std::fclose(f);
  errno = ok ? 0 : (err ? err : EIO);
  return ok;
}

// The JSON text, indented when asked for.
std::string document(const char *json, bool pretty) {
  if (!pretty) return json;
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
  if (doc == nullptr) return json;
  char *out = yyjson_write(doc, YYJSON_WRITE_PRETTY_TWO_SPACES, nullptr);
  yyjson_doc_free(doc);
  if (out == nullptr) return json;
  std::string s(out);
  std::free(out);
  return s;
}

// {"file":..,"status":..,"code":..,"error":..,"result":..} for a batch.
std::string wrapped(const char *file, int rc, const char *error, const char *json, bool pretty) {
  yyjson_mut_doc *d = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(d);
  yyjson_mut_doc_set_root(d, root);
  yyjson_mut_obj_add_str(d, root, "file", file);
  yyjson_mut_obj_add_str(d, root, "status", status_name(rc));
  yyjson_mut_obj_add_int(d, root, "code", rc);
  yyjson_mut_obj_add_str(d, root, "error", error);
  yyjson_doc *inner = yyjson_read(json, std::strlen(json), 0);
  yyjson_mut_val *result = inner ? yyjson_val_mut_copy(d, yyjson_doc_get_root(inner))
                                 : yyjson_mut_obj(d);
  yyjson_mut_obj_add_val(d, root, "result", result);
  // A name or message that is not UTF-8 must not lose the whole line.
  yyjson_write_flag flags = YYJSON_WRITE_ALLOW_INVALID_UNICODE;
  if (pretty) flags |= YYJSON_WRITE_PRETTY_TWO_SPACES;
  char *out = yyjson_mut_write(d, flags, nullptr);
  std::string s = out ? out : "{}";
  std::free(out);
  yyjson_doc_free(inner);
  yyjson_mut_doc_free(d);
  return s;
}

class Progress {
 public:
  explicit Progress(size_t total) : total_(total), on_(total > 1 && isatty(STDERR_FILENO)) {}
  void step(size_t done, size_t bytes) {
    bytes_ += bytes;
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double secs = std::chrono::duration<double>(now - start_).count();
    const double mbps = secs > 0 ? static_cast<double>(bytes_) / 1e6 / secs : 0.0;
    std::fprintf(stderr, "\r\033[K%zu/%zu files, %.1f MB/s", done, total_, mbps);
    if (done == total_) std::fputs("\r\033[K", stderr);
  }

 private:
  size_t total_;
  size_t bytes_ = 0;
  bool on_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

int report_error(const char *file, int rc) {
  const char *msg = kavlo_last_error();
  if (rc == KAVLO_ERR_NOMEM || msg[0] == '\0') msg = "out of memory";
  std::fprintf(stderr, "kavlo: %s: %s\n", file, msg);
  return rc;
}

int run_detect(const Options &o) {
  int status = 0;
  std::string bytes;
  for (const char *file : o.files) {
    if (!read_all(file, bytes)) {
      std::fprintf(stderr, "kavlo: %s: %s\n", file, std::strerror(errno));
      if (status == 0) status = KAVLO_ERR_IO;
      continue;
    }
    const char *name = kavlo_format_name(kavlo_detect(bytes.data(), bytes.size()));
    if (o.files.size() > 1) std::printf("%s\t%s\n", file, name);
    else std::printf("%s\n", name);
  }
  return status;
}

int run_parse(const Options &o) {
  int status = 0;
  std::string bytes;
  Progress progress(o.files.size());
  size_t done = 0;
  for (const char *file : o.files) {
    kavlo_clear();
    int rc;
    size_t size = 0;
    std::string error;
    const bool in_memory = o.format != KAVLO_FORMAT_AUTO || std::strcmp(file, "-") == 0;
    if (in_memory) {
      if (!read_all(file, bytes)) {
        rc = KAVLO_ERR_IO;
        error = std::strerror(errno);
        std::fprintf(stderr, "kavlo: %s: %s\n", file, error.c_str());
      } else {
        size = bytes.size();
        rc = kavlo_parse_enc(bytes.data(), bytes.size(), o.format, o.encoding);
        if (rc != KAVLO_OK) report_error(file, rc);
      }
    } else {
      rc = kavlo_parse_file_enc(file, o.encoding);
      if (rc != KAVLO_OK) report_error(file, rc);
      if (FILE *f = std::fopen(file, "rb")) {
        if (std::fseek(f, 0, SEEK_END) == 0) size = static_cast<size_t>(std::max(0L, std::ftell(f)));
        std::fclose(f);
      }
    }
    if (o.warnings)
      for (int i = 0; i < kavlo_warning_count(); ++i)
        if (const char *w = kavlo_warning(i)) std::fprintf(stderr, "%s: %s\n", file, w);
    if (rc != KAVLO_OK && error.empty()) error = kavlo_last_error();
    const char *json = kavlo_result_json();
    const std::string line = o.files.size() > 1
                                 ? wrapped(file, rc, error.c_str(), json, o.pretty)
                                 : document(json, o.pretty);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    if (rc != KAVLO_OK && status == 0) status = rc;
    progress.step(++done, size);
  }
  kavlo_clear();
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "kavlo: standard output: %s\n", std::strerror(errno));
    if (status == 0) status = KAVLO_ERR_IO;
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    Options o;
    const int rc = parse_args(argc, argv, o);
    if (rc >= 0) return rc;
    return o.detect ? run_detect(o) : run_parse(o);
  } catch (const std::bad_alloc &) {
    // Reading a file whole into memory is the tool's own allocation.
    std::fputs("kavlo: out of memory\n", stderr);
    return KAVLO_ERR_NOMEM;
  }
}
