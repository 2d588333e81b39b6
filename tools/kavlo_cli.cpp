// kavlo: the command-line front end of the library. Parses playlists and
// prints their JSON documents, or detects their formats. Uses only the
// public C interface; yyjson only to indent documents for --pretty, and
// uchardet (through kavlo_auto.h) to name the encoding of legacy text.
#define KAVLO_AUTO_UCHARDET
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <iconv.h>
#include <signal.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <yyjson.h>

#include "kavlo.h"
#include "kavlo_auto.h"

namespace {

constexpr int exit_usage = 2;

const char usage[] =
    "usage: kavlo [OPTIONS] FILE...\n"
    "       kavlo detect [-l] [-w] FILE...\n"
    "\n"
    "Parses each playlist (M3U / extended M3U, streaming URL list, CUE sheet)\n"
    "and prints its JSON document on standard output. FILE - reads standard\n"
    "input; pipes, FIFOs and other files that are not regular files are read\n"
    "as streams.\n"
    "\n"
    "Output:\n"
    "  one FILE without -l: the document as the library writes it, one line;\n"
    "    nothing on standard output when the parse fails\n"
    "  -l or several FILEs: JSON Lines, one object per file:\n"
    "    {\"file\":NAME,\"status\":STATUS,\"code\":N,\"error\":TEXT,\"result\":DOCUMENT}\n"
    "    STATUS is ok, decode, format, invalid, io or nomem; DOCUMENT is null\n"
    "    when the parse failed. With -e auto, a parsed file also has\n"
    "    \"encoding\":NAME before \"result\", the encoding its text was read in.\n"
    "    A file NAME that is not UTF-8 is written with each stray byte as\n"
    "    \\xHH and each backslash doubled, and is followed by\n"
    "    \"file_escaped\":true.\n"
    "\n"
    "  detect               print the detected format of each file instead:\n"
    "                       m3u, m3u8-hls, streaming-list, cue or unknown\n"
    "                       (with -l or several files: NAME<TAB>FORMAT);\n"
    "                       error for a file that could not be read\n"
    "  -e, --encoding NAME  decode the bytes from NAME (e.g. gbk, cp1252, utf-16le,\n"
    "                       or any iconv name); a byte-order mark still wins.\n"
    "                       auto (the default): UTF-8 and text with a mark as\n"
    "                       they are, other text in the encoding that uchardet\n"
    "                       finds, else as with an empty NAME; an empty NAME:\n"
    "                       the library's own GBK, CP1252, Latin-1 fallbacks\n"
    "  -f, --format FORMAT  auto (default), m3u, streaming-list or cue, in any\n"
    "                       letter case\n"
    "      --full           the full document: also the version, the #EXTM3U\n"
    "                       attributes, each entry's line, options (#EXTVLCOPT,\n"
    "                       #KODIPROP, ...), URL|headers and genre group, and\n"
    "                       the CUE fields and REM lines the document leaves out\n"
    "  -l, --lines          always write JSON Lines (detect: NAME<TAB>FORMAT)\n"
    "  -p, --pretty         indent the JSON (several objects follow each other)\n"
    "  -w, --warnings       print the warnings on standard error, as FILE: WARNING;\n"
    "                       -e auto adds FILE: encoding: NAME (auto) for text\n"
    "                       that is neither UTF-8 nor marked\n"
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
    "  5  a file could not be read, or standard output could not be written\n"
    "  6  out of memory\n"
    "With several files, the status of the first failure. A closed pipe on\n"
    "standard output ends the run quietly by SIGPIPE (status 141 in a shell).\n";

// The options. To add one: a row here, its letter in short_options, and a
// row in option_modes.
const option long_options[] = {
    {"encoding", required_argument, nullptr, 'e'},
    {"format", required_argument, nullptr, 'f'},
    {"full", no_argument, nullptr, 'F'},  // long only: 'F' is not in short_options
    {"lines", no_argument, nullptr, 'l'},
    {"pretty", no_argument, nullptr, 'p'},
    {"warnings", no_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
// '+': stop at the first operand (it may be the mode word); ':': report a
// missing value as ':' rather than printing getopt's own message.
const char short_options[] = "+:e:f:lpwhV";

// Which mode takes which option: a mode refuses what it cannot honour.
struct OptionMode {
  int letter;
  const char *name;
  bool parse;
  bool detect;
};
const OptionMode option_modes[] = {
    {'e', "--encoding", true, false},
    {'f', "--format", true, false},
    {'F', "--full", true, false},
    {'l', "--lines", true, true},
    {'p', "--pretty", true, false},
    {'w', "--warnings", true, true},
};

struct FormatName {
  const char *name;
  int code;
};
const FormatName format_names[] = {
    {"auto", KAVLO_FORMAT_AUTO},
    {"m3u", KAVLO_FORMAT_M3U},
    {"streaming-list", KAVLO_FORMAT_STREAMING_LIST},
    {"cue", KAVLO_FORMAT_CUE},
};

struct Options {
  bool detect = false;
  bool pretty = false;
  bool warnings = false;
  bool lines = false;
  bool full = false;
  bool given[128] = {};  // option letters seen
  int format = KAVLO_FORMAT_AUTO;
  const char *encoding = nullptr;
  bool auto_encoding = true;  // -e auto, the default: kavlo_auto.h names it
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

// ---- Standard error ----------------------------------------------------

// The progress line of a batch on a terminal. Anything else written to
// standard error goes through diag(), which clears the line first.
class Progress {
 public:
  void start(size_t total) { total_ = total; on_ = total > 1 && isatty(STDERR_FILENO); }
  void step(size_t done, uint64_t bytes) {
    bytes_ += bytes;
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double secs = std::chrono::duration<double>(now - start_).count();
    const double mbps = secs > 0 ? static_cast<double>(bytes_) / 1e6 / secs : 0.0;
    std::fprintf(stderr, "\r\033[K%zu/%zu files, %.1f MB/s", done, total_, mbps);
    shown_ = true;
    if (done == total_) clear();
  }
  void clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  size_t total_ = 0;
  uint64_t bytes_ = 0;
  bool on_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

Progress progress;

__attribute__((format(printf, 1, 2))) void diag(const char *fmt, ...) {
  progress.clear();
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
}

int usage_error(const char *what, const char *arg = nullptr) {
  if (arg) diag("kavlo: %s: %s\n", what, arg);
  else diag("kavlo: %s\n", what);
  std::fputs("Try 'kavlo --help'.\n", stderr);
  return exit_usage;
}

// ---- Standard output ---------------------------------------------------

// Every write goes through here; the first failure is kept and ends the run.
int out_errno = 0;

// A reader that went away (kavlo ... | head -1) ends the run quietly, the
// way a program killed by SIGPIPE ends: the progress line is cleared, the
// default action restored and the signal raised, so the shell sees status
// 141. Any other write error is reported by out_finish().
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

bool out(const char *p, size_t n) {
  if (out_errno == 0 && n > 0 && std::fwrite(p, 1, n, stdout) != n) out_failed(errno);
  return out_errno == 0;
}
bool out(std::string_view s) { return out(s.data(), s.size()); }

// Flushes standard output; false (with a message) when anything written failed.
bool out_finish() {
  if (std::fflush(stdout) != 0 && out_errno == 0) out_failed(errno);
  if (out_errno == 0 && std::ferror(stdout)) out_errno = EIO;
  if (out_errno == 0) return true;
  diag("kavlo: standard output: %s\n", std::strerror(out_errno));
  return false;
}

// ---- JSON strings --------------------------------------------------------

// Length of the strictly valid UTF-8 sequence at p (1 to 4), or 0.
size_t utf8_seq(const unsigned char *p, size_t n) {
  const unsigned c = p[0];
  if (c < 0x80) return 1;
  size_t len;
  unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) len = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len || p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return len;
}

bool is_utf8(std::string_view s) {
  const auto *p = reinterpret_cast<const unsigned char *>(s.data());
  for (size_t i = 0; i < s.size();) {
    const size_t k = utf8_seq(p + i, s.size() - i);
    if (k == 0) return false;
    i += k;
  }
  return true;
}

// How bytes that are not valid UTF-8 are written.
enum class Stray { replace, escape };

// Appends s as a JSON string. A stray byte becomes U+FFFD (replace), or the
// text \xHH with every backslash of s doubled (escape), so that the exact
// bytes can be recovered.
void append_json_string(std::string &o, std::string_view s, Stray stray) {
  static const char hex[] = "0123456789abcdef";
  const auto *p = reinterpret_cast<const unsigned char *>(s.data());
  o += '"';
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = p[i];
    const size_t k = utf8_seq(p + i, s.size() - i);
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

// The text indented by yyjson, or the text as it is when that fails.
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

bool out_json(const char *json, size_t n, bool pretty) {
  if (pretty) {
    const Pretty p(json, n);
    if (p.text) return out(p.text, p.len) && out("\n", 1);
  }
  return out(json, n) && out("\n", 1);
}

// ---- Input -------------------------------------------------------------

struct Buffer {
  char *data = nullptr;
  size_t size = 0;
  size_t cap = 0;
  Buffer() = default;
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  ~Buffer() { std::free(data); }
  bool grow(size_t want) {
    if (want <= cap) return true;
    char *p = static_cast<char *>(std::realloc(data, want));
    if (p == nullptr) return false;
    data = p;
    cap = want;
    return true;
  }
};

// Reads fd to its end into b. Returns 0 or an error number (ENOMEM when the
// buffer cannot grow).
int read_fd(int fd, Buffer &b, size_t expected) {
  b.size = 0;
  if (!b.grow(expected > 0 ? expected + 1 : size_t{1} << 16)) return ENOMEM;
  for (;;) {
    if (b.size == b.cap) {
      const size_t want = b.cap < (size_t{1} << 16) ? size_t{1} << 16 : b.cap * 2;
      if (want < b.cap || !b.grow(want)) return ENOMEM;
    }
    const ssize_t n = read(fd, b.data + b.size, b.cap - b.size);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno ? errno : EIO;
    }
    b.size += static_cast<size_t>(n);
  }
}

// What became of one file.
struct Outcome {
  int rc = KAVLO_OK;
  std::string error;  // "" when the parse succeeded
  uint64_t bytes = 0;
  char encoding[KAVLO_AUTO_NAME_SIZE] = "";  // -e auto: the one used
  bool guessed = false;  // -e auto on text neither UTF-8 nor marked (-w only)
};

void set_io_error(Outcome &r, int err) {
  r.rc = err == ENOMEM ? KAVLO_ERR_NOMEM : KAVLO_ERR_IO;
  r.error = err == ENOMEM ? "" : std::string("io: ") + std::strerror(err);
}

bool is_stdin(const char *file) { return std::strcmp(file, "-") == 0; }

// Reads a file whole, or standard input for "-". Anything that is not a
// regular file (a pipe, a FIFO, /dev/stdin, a terminal) is read as a stream.
bool read_input(const char *file, Buffer &b, Outcome &r) {
  int fd = STDIN_FILENO;
  if (!is_stdin(file)) {
    fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      set_io_error(r, errno);
      return false;
    }
  }
  struct stat st;
  const size_t expected = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0;
  const int err = read_fd(fd, b, expected);
  if (fd != STDIN_FILENO) close(fd);
  r.bytes = b.size;
  if (err != 0) {
    set_io_error(r, err);
    return false;
  }
  return true;
}

// Parses bytes read or mapped, with -e auto through kavlo_auto.h.
void parse_bytes(const char *data, size_t size, const Options &o, Outcome &r) {
  if (o.auto_encoding) {
    r.rc = kavlo_auto_parse(data, size, o.format, r.encoding);
    r.guessed = o.warnings && !kavlo_auto_is_unnamed(data, size);
  } else {
    r.rc = kavlo_parse_enc(data, size, o.format, o.encoding);
  }
}

// A regular file of 1 MiB or more (and below 2 GiB) is mapped instead of
// read: its pages come from the page cache, neither copied nor cleared.
// A file that shrinks while mapped raises SIGBUS on the pages it lost; the
// handler puts zero pages in their place and notes it. A file that changed
// in any way while mapped is then read and parsed again the ordinary way,
// so the result is always that of bytes read from the file.
constexpr off_t map_min = off_t{1} << 20;
constexpr off_t map_max = off_t{1} << 31;
char *volatile map_begin = nullptr;
volatile size_t map_bytes = 0;
volatile sig_atomic_t map_lost = 0;
uintptr_t page_mask = 4095;  // set before the handler is installed

void on_sigbus(int sig, siginfo_t *info, void *) {
  char *const begin = map_begin;
  char *const at = static_cast<char *>(info->si_addr);
  if (begin != nullptr && at >= begin && at < begin + map_bytes) {
    char *const page = reinterpret_cast<char *>(reinterpret_cast<uintptr_t>(at) & ~page_mask);
    if (mmap(page, static_cast<size_t>(begin + map_bytes - page), PROT_READ,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      map_lost = 1;
      return;
    }
  }
  // Any other bus error: the default action once the handler returns.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
}

void install_sigbus_handler() {
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) page_mask = static_cast<uintptr_t>(page) - 1;
  struct sigaction sa {};
  sa.sa_sigaction = on_sigbus;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGBUS, &sa, nullptr);
}

// True when the file was parsed through a mapping and did not change
// meanwhile; false when it must be read (nothing reported then).
bool parse_mapped(const char *file, const Options &o, Outcome &r) {
  // Only a regular file is opened here: opening a FIFO would take the
  // writer's data from the read that follows.
  struct stat named;
  if (stat(file, &named) != 0 || !S_ISREG(named.st_mode) || named.st_size < map_min) return false;
  const int fd = open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat before;
  bool done = false;
  if (fstat(fd, &before) == 0 && S_ISREG(before.st_mode) && before.st_size >= map_min &&
      before.st_size < map_max) {
    const size_t size = static_cast<size_t>(before.st_size);
    void *p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p != MAP_FAILED) {
      map_lost = 0;
      map_bytes = size;
      map_begin = static_cast<char *>(p);
      parse_bytes(static_cast<const char *>(p), size, o, r);
      map_begin = nullptr;
      struct stat after;
      done = map_lost == 0 && fstat(fd, &after) == 0 && after.st_size == before.st_size &&
             after.st_mtim.tv_sec == before.st_mtim.tv_sec && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
      munmap(p, size);
      r.bytes = size;
    }
  }
  close(fd);
  return done;
}

// Parses one file into the result store. A regular file with automatic
// format detection and a named encoding (or none) goes to the library's
// file entry point; everything else is mapped or read here and handed over
// as bytes, with -e auto through kavlo_auto.h.
Outcome parse_one(const char *file, const Options &o, Buffer &b) {
  Outcome r;
  kavlo_clear();
  struct stat st;
  if (!o.auto_encoding && !is_stdin(file) && o.format == KAVLO_FORMAT_AUTO && stat(file, &st) == 0 &&
      S_ISREG(st.st_mode)) {
    r.rc = kavlo_parse_file_enc(file, o.encoding);
    r.bytes = static_cast<uint64_t>(st.st_size);
  } else if (is_stdin(file) || !parse_mapped(file, o, r)) {
    r = Outcome{};
    if (!read_input(file, b, r)) return r;
    parse_bytes(b.data, b.size, o, r);
  }
  if (r.rc != KAVLO_OK) r.error = kavlo_last_error();
  return r;
}

bool ends_with_ci(const char *s, const char *suffix) {
  const size_t n = std::strlen(s), k = std::strlen(suffix);
  return n >= k && strcasecmp(s + n - k, suffix) == 0;
}

// A hint at the way out, for failures that surprise users.
const char *hint(const char *file, const Outcome &r, const Options &o) {
  // No format fits nothing: an empty file fails detection, and -f m3u only
  // for the missing header.
  if (r.rc == KAVLO_ERR_FORMAT && r.bytes == 0)
    return is_stdin(file) ? " (standard input is empty)" : " (the file is empty)";
  if (r.error == "unknown playlist format" && o.format == KAVLO_FORMAT_AUTO) {
    if (ends_with_ci(file, ".cue"))
      return " (CUE sheets are detected by upper-case FILE, TRACK and INDEX lines; try -f cue)";
    if (ends_with_ci(file, ".m3u") || ends_with_ci(file, ".m3u8"))
      return " (M3U is detected by an upper-case #EXTM3U first line; try -f m3u)";
    return " (name the format with -f m3u, -f streaming-list or -f cue)";
  }
  if (r.rc == KAVLO_ERR_DECODE && o.encoding && strcasecmp(o.encoding, "gb18030") == 0)
    return " (gb18030 is read as GBK)";
  return "";
}

void report(const char *file, const Outcome &r, const Options &o) {
  const char *msg = r.rc == KAVLO_ERR_NOMEM || r.error.empty() ? "out of memory" : r.error.c_str();
  diag("kavlo: %s: %s%s\n", file, msg, hint(file, r, o));
}

void print_warnings(const char *file) {
  for (int i = 0; i < kavlo_warning_count(); ++i)
    if (const char *w = kavlo_warning(i)) diag("%s: %s\n", file, w);
}

// ---- Modes ---------------------------------------------------------------

int run_detect(const Options &o) {
  int status = 0;
  Buffer b;
  const bool named = o.lines || o.files.size() > 1;
  for (const char *file : o.files) {
    Outcome r;
    if (!read_input(file, b, r)) {
      report(file, r, o);
      if (status == 0) status = r.rc;
      // Every file has its line: "error" stands for the format.
      if (!out(named ? std::string(file) + "\terror\n" : std::string("error\n"))) break;
      continue;
    }
    kavlo_clear();
    const char *name = kavlo_format_name(kavlo_detect(b.data ? b.data : "", b.size));
    if (o.warnings) {
      print_warnings(file);
      if (kavlo_last_error()[0] != '\0') diag("%s: %s\n", file, kavlo_last_error());
    }
    std::string line;
    if (named) (line += file) += '\t';
    (line += name) += '\n';
    if (!out(line)) break;
  }
  kavlo_clear();
  if (!out_finish() && status == 0) status = KAVLO_ERR_IO;
  return status;
}

// {"file":..,["file_escaped":true,]"status":..,"code":..,"error":..,
//  ["encoding":..,]"result":
std::string wrapper_head(const char *file, const Outcome &r, bool auto_encoding) {
  std::string h = "{\"file\":";
  const std::string_view name = file;
  const bool escaped = !is_utf8(name);
  append_json_string(h, name, escaped ? Stray::escape : Stray::replace);
  if (escaped) h += ",\"file_escaped\":true";
  h += ",\"status\":\"";
  h += status_name(r.rc);
  h += "\",\"code\":";
  h += std::to_string(r.rc);
  h += ",\"error\":";
  append_json_string(h, r.error, Stray::replace);
  if (auto_encoding && r.rc == KAVLO_OK) {
    h += ",\"encoding\":";
    if (r.encoding[0] != '\0') append_json_string(h, r.encoding, Stray::replace);
    else h += "null";
  }
  h += ",\"result\":";
  return h;
}

int run_parse(const Options &o) {
  int status = 0;
  Buffer b;
  const bool lines = o.lines || o.files.size() > 1;
  progress.start(o.files.size());
  size_t done = 0;
  for (const char *file : o.files) {
    const Outcome r = parse_one(file, o, b);
    if (r.rc != KAVLO_OK) report(file, r, o);
    if (o.warnings) {
      print_warnings(file);
      if (r.guessed && r.rc == KAVLO_OK)
        diag("%s: encoding: %s (auto)\n", file, r.encoding[0] ? r.encoding : "bytes as they are");
    }
    const char *json = r.rc != KAVLO_OK ? "null" : o.full ? kavlo_result_json_full() : kavlo_result_json();
    const size_t len = std::strlen(json);
    // The library's empty document: nothing a user would guess from "{}".
    if (r.rc == KAVLO_OK && len == 2)
      diag("kavlo: %s: no JSON document: the text is not strictly valid UTF-8, "
           "or memory ran out\n", file);
    if (!lines) {
      if (r.rc == KAVLO_OK) out_json(json, len, o.pretty);
    } else if (o.pretty) {
      // The slow way: the whole object is read back and indented.
      std::string line = wrapper_head(file, r, o.auto_encoding);
      line.append(json, len);
      line += '}';
      out_json(line.data(), line.size(), true);
    } else {
      // The library's text is written where it stands, between its wrapper.
      out(wrapper_head(file, r, o.auto_encoding)) && out(json, len) && out("}\n", 2);
    }
    if (r.rc != KAVLO_OK && status == 0) status = r.rc;
    progress.step(++done, r.bytes);
    if (out_errno != 0) break;
  }
  progress.clear();
  kavlo_clear();
  if (!out_finish() && status == 0) status = KAVLO_ERR_IO;
  return status;
}

// ---- Arguments -----------------------------------------------------------

bool parse_format(const char *name, int &format) {
  for (const FormatName &f : format_names)
    if (strcasecmp(name, f.name) == 0) {
      format = f.code;
      return true;
    }
  return false;
}

// True when iconv can convert from `name` (the library hands every name
// it does not know as an alias to iconv, and iconv knows all the aliases).
bool known_encoding(const char *name) {
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return errno != EINVAL;
  iconv_close(cd);
  return true;
}

bool is_option_value(int c) {
  for (const option *l = long_options; l->name != nullptr; ++l)
    if (l->val == c) return true;
  return false;
}

// The usage error for what getopt_long refused (c is ':' or '?'), naming
// the option as the user wrote it. `element` is the argument getopt was
// reading; a refused short letter may sit inside a group of them (-px),
// where only optopt tells which.
int option_error(int c, const char *element) {
  const bool is_long = std::strncmp(element, "--", 2) == 0;
  const char letter[3] = {'-', static_cast<char>(optopt), '\0'};
  if (c == ':') return usage_error("option needs a value", is_long ? element : letter);
  if (optopt != 0 && !is_option_value(optopt)) return usage_error("unknown option", letter);
  // A known option refused: only a long one can be, given a value it does
  // not take (--full=1).
  if (optopt != 0) return usage_error("option takes no value", element);
  // An unknown long option, or an abbreviation of several (--f).
  const char *name = element + 2;
  const size_t len = std::strcspn(name, "=");
  int matches = 0;
  for (const option *l = long_options; l->name != nullptr; ++l)
    matches += std::strncmp(l->name, name, len) == 0;
  return usage_error(matches > 1 ? "ambiguous option" : "unknown option", element);
}

// One pass of getopt_long over argv[0..argc) (argv[0] is skipped). Returns
// -1 to go on, else the exit status.
int take_options(int argc, char **argv, Options &o, bool &operands_only) {
  optind = 0;  // full re-initialisation: argv may be a new array
  int c;
  while ((c = getopt_long(argc, argv, short_options, long_options, nullptr)) != -1) {
    switch (c) {
      case 'e': o.encoding = optarg; break;
      case 'f':
        if (!parse_format(optarg, o.format)) return usage_error("unknown format", optarg);
        break;
      case 'F': o.full = true; break;
      case 'l': o.lines = true; break;
      case 'p': o.pretty = true; break;
      case 'w': o.warnings = true; break;
      case 'h':
        out(usage, sizeof usage - 1);
        return out_finish() ? 0 : KAVLO_ERR_IO;
      case 'V':
        out(std::string("kavlo ") + kavlo_version() + "\n");
        return out_finish() ? 0 : KAVLO_ERR_IO;
      default: return option_error(c, argv[optind - 1]);
    }
    if (c > 0 && c < 128) o.given[c] = true;
  }
  operands_only = optind > 1 && std::strcmp(argv[optind - 1], "--") == 0;
  return -1;
}

// Options may stand before and after the mode word and the files; "--" ends
// them.
int parse_args(int argc, char **argv, Options &o) {
  bool operands_only = false;
  int rc = take_options(argc, argv, o, operands_only);
  if (rc >= 0) return rc;
  int first = optind;  // the first operand
  if (!operands_only && first < argc && std::strcmp(argv[first], "detect") == 0) {
    o.detect = true;
    ++first;
  }
  // The rest: the sub-array starts at the element before it, which getopt
  // takes as its program name.
  while (!operands_only && first < argc) {
    rc = take_options(argc - first + 1, argv + first - 1, o, operands_only);
    if (rc >= 0) return rc;
    const int next = first - 1 + optind;
    if (next < argc) o.files.push_back(argv[next]);
    first = next + 1;
  }
  for (int i = first; i < argc; ++i) o.files.push_back(argv[i]);
  if (o.files.empty()) return usage_error("no input file");
  for (const OptionMode &m : option_modes)
    if (o.given[m.letter] && !(o.detect ? m.detect : m.parse)) {
      diag("kavlo: %s does not take %s\n", o.detect ? "detect" : "parsing", m.name);
      std::fputs("Try 'kavlo --help'.\n", stderr);
      return exit_usage;
    }
  if (o.encoding && strcasecmp(o.encoding, "auto") == 0) o.encoding = nullptr;
  else if (o.given['e']) o.auto_encoding = false;
  if (o.encoding && o.encoding[0] != '\0' && !known_encoding(o.encoding)) {
    diag("kavlo: unknown encoding '%s'\n", o.encoding);
    return exit_usage;
  }
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  // A closed pipe is seen as EPIPE where the tool writes (see out_failed).
  signal(SIGPIPE, SIG_IGN);
  install_sigbus_handler();
  Options o;
  const int rc = parse_args(argc, argv, o);
  if (rc >= 0) return rc;
  return o.detect ? run_detect(o) : run_parse(o);
}
