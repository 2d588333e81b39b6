// The playlist workbench: `kavlo convert`, `kavlo filter` and `kavlo merge`.
// Every subcommand reads its files into playlist handles, keeps the chosen
// entries (appended into one result when there is more than one file or
// anything is left out), and writes that result in one format: M3U,
// streaming list or CUE sheet by the library's writer, the JSON document,
// JSON Lines of its entries, or CSV. Nothing is written before every file
// has been read; with -o the text goes to a temporary file in the target's
// folder that is renamed into place, so a failed run leaves no half list.
#include "workbench.h"

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <iconv.h>
#include <regex.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <yyjson.h>

#include "kavlo.h"

namespace {

constexpr int exit_usage = 2;

const char help[] =
    "usage: kavlo convert --to FORMAT [OPTIONS] FILE...\n"
    "       kavlo filter [FILTERS] [--to FORMAT] [OPTIONS] FILE...\n"
    "       kavlo merge [--dedupe] [--to FORMAT] [OPTIONS] FILE...\n"
    "\n"
    "Reads the playlists (FILE - is standard input) as one list, in order, and\n"
    "writes it in one format: convert changes the format, filter keeps the\n"
    "entries that pass every filter given, merge joins the files. Without --to,\n"
    "filter and merge write the format of the first file. The list takes the\n"
    "#EXTM3U attributes or the CUE sheet fields of the first file.\n"
    "\n"
    "Formats (--to):\n"
    "  m3u    extended M3U: options, #EXTGRP, #EXTINF attributes and titles,\n"
    "         locations with their |headers, as read\n"
    "  txt    streaming list: NAME,URL lines, NAME,#genre# group lines; only\n"
    "         entries with an http, https or rtsp URL (also: streaming-list)\n"
    "  cue    CUE sheet, from CUE sheets only\n"
    "  json   the document of the list (with --full the full document)\n"
    "  jsonl  one line per entry: its object of the document\n"
    "  csv    RFC 4180 with a header row: location,title,duration_ms,tvg-id,\n"
    "         tvg-name,tvg-logo,group-title (CR LF line ends)\n"
    "\n"
    "Filters (filter; an entry must pass each kind given):\n"
    "  --group G        its group is G: the group-title attribute, else the\n"
    "                   streaming-list group (repeat: any of them)\n"
    "  --match REGEX    its title or location matches the POSIX extended\n"
    "                   regular expression\n"
    "  --attr KEY=VALUE its attribute KEY (letters in any case) is VALUE;\n"
    "                   --attr KEY: it has the attribute (repeat: all of them)\n"
    "  --scheme S       its location starts with S:// (any letter case;\n"
    "                   repeat: any of them)\n"
    "  --dedupe         (also merge) keeps the first entry of each location\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT     write OUT (replaced whole, through a temporary file\n"
    "                       in its folder), not standard output; - is standard\n"
    "                       output\n"
    "  -e, --encoding NAME  decode the inputs from NAME (default auto: UTF-8 and\n"
    "                       marked text as they are, other text in the encoding\n"
    "                       the library guesses; an empty NAME: the library's\n"
    "                       fallbacks)\n"
    "  -f, --format FORMAT  read the inputs as m3u, streaming-list or cue\n"
    "                       (default auto)\n"
    "      --bom            begin an M3U, streaming-list or CUE text with a\n"
    "                       UTF-8 byte-order mark\n"
    "      --crlf           end its lines with CR LF\n"
    "      --full           json and jsonl: the full document's members\n"
    "  -w, --warnings       print each file's warnings on standard error\n"
    "  -h, --help           print this help\n"
    "\n"
    "Exit status: 0 written; 2 usage error; else the library's status of the\n"
    "first failure: 1 decoding, 3 format (a file not read, or a CUE sheet asked\n"
    "of another format), 4 invalid, 5 i/o (a file, or the output), 6 memory.\n"
    "\n"
    "Examples:\n"
    "  kavlo convert --to txt examples/iptv.m3u\n"
    "  kavlo filter --group News examples/iptv.m3u\n"
    "  kavlo filter --scheme https --match 'News' --to csv examples/iptv.m3u\n"
    "  kavlo merge --dedupe examples/iptv.m3u examples/radio.txt --to m3u\n"
    "  kavlo convert --to jsonl examples/album.cue\n";

enum class Mode { convert, filter, merge };
enum class Target { own, m3u, txt, cue, json, jsonl, csv };

struct TargetName {
  const char *name;
  Target target;
};
const TargetName target_names[] = {
    {"m3u", Target::m3u},   {"txt", Target::txt},     {"streaming-list", Target::txt}, {"cue", Target::cue},
    {"json", Target::json}, {"jsonl", Target::jsonl}, {"csv", Target::csv},
};

struct Options {
  Mode mode = Mode::convert;
  Target target = Target::own;
  const char *output = nullptr;
  const char *encoding = "auto";
  int format = KAVLO_FORMAT_AUTO;
  unsigned flags = 0;
  bool full = false;
  bool warnings = false;
  bool dedupe = false;
  std::vector<std::string> groups;
  std::vector<std::pair<std::string, const char *>> attrs;  // key, value or NULL
  std::vector<std::string> schemes;
  bool has_match = false;
  regex_t match{};
  std::vector<const char *> files;
  ~Options() {
    if (has_match) regfree(&match);
  }
};

int usage_error(const char *what, const char *arg = nullptr) {
  if (arg != nullptr) std::fprintf(stderr, "kavlo: %s: %s\n", what, arg);
  else std::fprintf(stderr, "kavlo: %s\n", what);
  std::fputs("Try 'kavlo convert --help'.\n", stderr);
  return exit_usage;
}

// ---- Arguments -------------------------------------------------------------

enum LongOnly { opt_to = 256, opt_group, opt_match, opt_attr, opt_scheme, opt_dedupe, opt_bom, opt_crlf, opt_full };

const option long_options[] = {
    {"to", required_argument, nullptr, opt_to},
    {"group", required_argument, nullptr, opt_group},
    {"match", required_argument, nullptr, opt_match},
    {"attr", required_argument, nullptr, opt_attr},
    {"scheme", required_argument, nullptr, opt_scheme},
    {"dedupe", no_argument, nullptr, opt_dedupe},
    {"bom", no_argument, nullptr, opt_bom},
    {"crlf", no_argument, nullptr, opt_crlf},
    {"full", no_argument, nullptr, opt_full},
    {"output", required_argument, nullptr, 'o'},
    {"encoding", required_argument, nullptr, 'e'},
    {"format", required_argument, nullptr, 'f'},
    {"warnings", no_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

const char *option_name(int c) {
  for (const option *o = long_options; o->name != nullptr; ++o)
    if (o->val == c) return o->name;
  return "?";
}

bool known_encoding(const char *name) {
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return errno != EINVAL;
  iconv_close(cd);
  return true;
}

// -1 to go on, else the exit status.
int parse_args(int argc, char **argv, Options &o) {
  const char *word = argv[1];
  o.mode = std::strcmp(word, "filter") == 0 ? Mode::filter : std::strcmp(word, "merge") == 0 ? Mode::merge : Mode::convert;
  optind = 0;
  opterr = 0;
  int c;
  // The subcommand stands where getopt expects the program name.
  while ((c = getopt_long(argc - 1, argv + 1, ":o:e:f:wh", long_options, nullptr)) != -1) {
    const bool filter_option = c == opt_group || c == opt_match || c == opt_attr || c == opt_scheme;
    if ((filter_option && o.mode != Mode::filter) || (c == opt_dedupe && o.mode == Mode::convert)) {
      std::fprintf(stderr, "kavlo: %s does not take --%s\n", word, option_name(c));
      std::fputs("Try 'kavlo convert --help'.\n", stderr);
      return exit_usage;
    }
    switch (c) {
      case opt_to: {
        bool found = false;
        for (const TargetName &t : target_names)
          if (strcasecmp(optarg, t.name) == 0) {
            o.target = t.target;
            found = true;
          }
        if (!found) return usage_error("unknown output format", optarg);
        break;
      }
      case opt_group: o.groups.emplace_back(optarg); break;
      case opt_match: {
        if (o.has_match) regfree(&o.match);
        const int rc = regcomp(&o.match, optarg, REG_EXTENDED | REG_NOSUB);
        if (rc != 0) {
          char message[256];
          regerror(rc, &o.match, message, sizeof message);
          o.has_match = false;
          std::fprintf(stderr, "kavlo: --match '%s': %s\n", optarg, message);
          return exit_usage;
        }
        o.has_match = true;
        break;
      }
      case opt_attr: {
        const char *eq = std::strchr(optarg, '=');
        if (eq == optarg) return usage_error("--attr needs a key", optarg);
        o.attrs.emplace_back(eq ? std::string(optarg, static_cast<size_t>(eq - optarg)) : std::string(optarg),
                             eq ? eq + 1 : nullptr);
        break;
      }
      case opt_scheme: o.schemes.emplace_back(optarg); break;
      case opt_dedupe: o.dedupe = true; break;
      case opt_bom: o.flags |= KAVLO_WRITE_BOM; break;
      case opt_crlf: o.flags |= KAVLO_WRITE_CRLF; break;
      case opt_full: o.full = true; break;
      case 'o': o.output = optarg; break;
      case 'e': o.encoding = optarg; break;
      case 'f':
        if (strcasecmp(optarg, "auto") == 0) o.format = KAVLO_FORMAT_AUTO;
        else if (strcasecmp(optarg, "m3u") == 0) o.format = KAVLO_FORMAT_M3U;
        else if (strcasecmp(optarg, "streaming-list") == 0) o.format = KAVLO_FORMAT_STREAMING_LIST;
        else if (strcasecmp(optarg, "cue") == 0) o.format = KAVLO_FORMAT_CUE;
        else return usage_error("unknown format", optarg);
        break;
      case 'w': o.warnings = true; break;
      case 'h': {
        const bool ok = std::fputs(help, stdout) >= 0 && std::fflush(stdout) == 0;
        return ok ? 0 : KAVLO_ERR_IO;
      }
      case ':': return usage_error("option needs a value", argv[optind]);
      default: return usage_error("unknown option", argv[optind]);
    }
  }
  for (int i = optind + 1; i < argc; ++i) o.files.push_back(argv[i]);
  if (o.files.empty()) return usage_error("no input file");
  if (o.mode == Mode::convert && o.target == Target::own) return usage_error("convert needs --to FORMAT");
  if (o.encoding[0] != '\0' && strcasecmp(o.encoding, "auto") != 0 && !known_encoding(o.encoding)) {
    std::fprintf(stderr, "kavlo: unknown encoding '%s'\n", o.encoding);
    return exit_usage;
  }
  return -1;
}

// ---- Input -------------------------------------------------------------------

struct Playlist {
  kavlo_playlist *p = kavlo_playlist_new();
  Playlist() = default;
  Playlist(const Playlist &) = delete;
  Playlist &operator=(const Playlist &) = delete;
  ~Playlist() { kavlo_playlist_free(p); }
};

int parse_input(kavlo_playlist *p, const char *file, const Options &o) {
  const char *encoding = o.encoding[0] != '\0' ? o.encoding : nullptr;
  return std::strcmp(file, "-") != 0 ? kavlo_playlist_parse_file_as(p, file, o.format, encoding)
                                     : kavlo_playlist_parse_fd(p, STDIN_FILENO, o.format, encoding);
}

// ---- Filters -----------------------------------------------------------------

// The group of an entry: its group-title attribute, else its streaming
// group; NULL for none.
const char *group_of(const kavlo_playlist *p, int i) {
  const char *g = kavlo_playlist_item_attr(p, i, "group-title");
  return g != nullptr ? g : kavlo_playlist_item_group(p, i);
}

bool has_scheme(const char *location, const std::string &scheme) {
  return strncasecmp(location, scheme.c_str(), scheme.size()) == 0 &&
         std::strncmp(location + scheme.size(), "://", 3) == 0;
}

bool keep(const kavlo_playlist *p, int i, const Options &o) {
  const char *location = kavlo_playlist_item_location(p, i);
  const char *title = kavlo_playlist_item_title(p, i);
  if (!o.groups.empty()) {
    const char *g = group_of(p, i);
    bool any = false;
    for (const std::string &want : o.groups) any = any || (g != nullptr && want == g);
    if (!any) return false;
  }
  if (o.has_match && regexec(&o.match, title, 0, nullptr, 0) != 0 && regexec(&o.match, location, 0, nullptr, 0) != 0)
    return false;
  for (const auto &[key, value] : o.attrs) {
    const char *have = kavlo_playlist_item_attr(p, i, key.c_str());
    if (have == nullptr || (value != nullptr && std::strcmp(have, value) != 0)) return false;
  }
  if (!o.schemes.empty()) {
    bool any = false;
    for (const std::string &s : o.schemes) any = any || has_scheme(location, s);
    if (!any) return false;
  }
  return true;
}

// ---- Output --------------------------------------------------------------------

// The temporary file of a run with -o, removed when the run is cut short.
char g_temp[4096];
volatile sig_atomic_t g_temp_set = 0;

void on_signal(int sig) {
  if (g_temp_set) unlink(g_temp);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Where the text goes: standard output, or a temporary file renamed into
// place once all of it is written.
class Sink {
 public:
  // False, with a message, when the temporary file cannot be made.
  bool open(const char *output) {
    if (output == nullptr || std::strcmp(output, "-") == 0) return true;
    target_ = output;
    const std::string dir = target_.find('/') == std::string::npos ? "." : target_.substr(0, target_.rfind('/') + 1);
    const std::string base = target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
    const std::string temp = (dir == "." ? std::string() : dir) + "." + base + ".XXXXXX";
    if (temp.size() >= sizeof g_temp) return fail(ENAMETOOLONG);
    std::memcpy(g_temp, temp.c_str(), temp.size() + 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, on_signal);
    fd_ = mkstemp(g_temp);
    if (fd_ < 0) return fail(errno);
    g_temp_set = 1;
    // The mode a new file would get, or that of the file replaced.
    struct stat st;
    mode_t mode;
    if (stat(output, &st) == 0) {
      mode = st.st_mode & 07777;
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      mode = 0666 & ~mask;
    }
    if (fchmod(fd_, mode) != 0) return fail(errno);
    return true;
  }

  bool write(const char *p, size_t n) {
    while (err_ == 0 && n > 0) {
      const ssize_t w = ::write(fd_, p, n);
      if (w < 0) {
        if (errno != EINTR) err_ = errno;
        continue;
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
    return err_ == 0;
  }
  bool write(std::string_view s) { return write(s.data(), s.size()); }

  // Puts the text in place; false, with a message, when anything failed.
  bool finish() {
    if (target_.empty()) {
      if (err_ != 0) {
        std::fprintf(stderr, "kavlo: standard output: %s\n", std::strerror(err_));
        return false;
      }
      return true;
    }
    if (err_ == 0 && fsync(fd_) != 0) err_ = errno;
    if (::close(fd_) != 0 && err_ == 0) err_ = errno;
    fd_ = -1;
    if (err_ == 0 && rename(g_temp, target_.c_str()) != 0) err_ = errno;
    if (err_ != 0) return fail(err_);
    g_temp_set = 0;
    return true;
  }

  ~Sink() {
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
    if (g_temp_set) unlink(g_temp);
    g_temp_set = 0;
  }

 private:
  bool fail(int err) {
    std::fprintf(stderr, "kavlo: %s: %s\n", target_.c_str(), std::strerror(err));
    if (g_temp_set) unlink(g_temp);
    g_temp_set = 0;
    return false;
  }
  std::string target_;
  int fd_ = STDOUT_FILENO;
  int err_ = 0;
};

void csv_field(std::string &out, const char *s) {
  if (s == nullptr) s = "";
  if (std::strpbrk(s, ",\"\r\n") == nullptr) {
    out += s;
    return;
  }
  out += '"';
  for (const char *c = s; *c != '\0'; ++c) {
    if (*c == '"') out += '"';
    out += *c;
  }
  out += '"';
}

std::string csv(const kavlo_playlist *p) {
  std::string out = "location,title,duration_ms,tvg-id,tvg-name,tvg-logo,group-title\r\n";
  for (int i = 0; i < kavlo_playlist_item_count(p); ++i) {
    csv_field(out, kavlo_playlist_item_location(p, i));
    out += ',';
    csv_field(out, kavlo_playlist_item_title(p, i));
    out += ',';
    out += std::to_string(kavlo_playlist_item_duration_ms(p, i));
    for (const char *key : {"tvg-id", "tvg-name", "tvg-logo"}) {
      out += ',';
      csv_field(out, kavlo_playlist_item_attr(p, i, key));
    }
    out += ',';
    csv_field(out, group_of(p, i));
    out += "\r\n";
  }
  return out;
}

// The item objects of the document, one per line; false when the
// document could not be made.
bool jsonl(const char *document, std::string &out) {
  yyjson_doc *doc = yyjson_read(document, std::strlen(document), 0);
  if (doc == nullptr) return false;
  yyjson_val *items = yyjson_obj_get(yyjson_doc_get_root(doc), "items");
  size_t idx, max;
  yyjson_val *item;
  bool ok = items != nullptr;
  yyjson_arr_foreach(items, idx, max, item) {
    size_t n = 0;
    char *line = yyjson_val_write(item, 0, &n);
    if (line == nullptr) {
      ok = false;
      break;
    }
    out.append(line, n);
    out += '\n';
    std::free(line);
  }
  yyjson_doc_free(doc);
  return ok;
}

const char *format_label(int format) {
  return format == KAVLO_FORMAT_STREAMING_LIST ? "a streaming list" : format == KAVLO_FORMAT_CUE ? "a CUE sheet" : "an M3U list";
}

// Writes the list; returns the exit status.
int emit(kavlo_playlist *list, const Options &o) {
  Target target = o.target;
  const int own = kavlo_playlist_detected_format(list);
  if (target == Target::own)
    target = own == KAVLO_FORMAT_CUE ? Target::cue : own == KAVLO_FORMAT_STREAMING_LIST ? Target::txt : Target::m3u;
  std::string built;
  const char *text = nullptr;
  size_t length = 0;
  if (target == Target::m3u || target == Target::txt || target == Target::cue) {
    const int format = target == Target::m3u ? KAVLO_FORMAT_M3U
                       : target == Target::txt ? KAVLO_FORMAT_STREAMING_LIST
                                               : KAVLO_FORMAT_CUE;
    const int rc = kavlo_playlist_write(list, format, o.flags, &text, &length);
    if (rc == KAVLO_ERR_FORMAT) {
      std::fprintf(stderr, "kavlo: a CUE sheet is written from CUE sheets only, not from %s\n",
                   format_label(own));
      return rc;
    }
    if (rc != KAVLO_OK) {
      std::fprintf(stderr, "kavlo: out of memory\n");
      return rc;
    }
  } else if (target == Target::csv) {
    built = csv(list);
  } else {
    const char *document = o.full ? kavlo_playlist_json_full(list) : kavlo_playlist_json(list);
    if (std::strcmp(document, "{}") == 0) {
      std::fprintf(stderr, "kavlo: no JSON document: a text is not strictly valid UTF-8, or memory ran out\n");
      return KAVLO_ERR_INVALID;
    }
    if (target == Target::json) {
      built = document;
      built += '\n';
    } else if (!jsonl(document, built)) {
      std::fprintf(stderr, "kavlo: out of memory\n");
      return KAVLO_ERR_NOMEM;
    }
  }
  if (text == nullptr) {
    text = built.data();
    length = built.size();
  }
  Sink sink;
  if (!sink.open(o.output)) return KAVLO_ERR_IO;
  sink.write(text, length);
  return sink.finish() ? 0 : KAVLO_ERR_IO;
}

const char *status_text(int rc, const kavlo_playlist *p) {
  if (rc == KAVLO_ERR_NOMEM) return "out of memory";
  const char *e = kavlo_playlist_last_error(p);
  return e[0] != '\0' ? e : "failed";
}

}  // namespace

bool workbench_command(const char *word) {
  return word != nullptr &&
         (std::strcmp(word, "convert") == 0 || std::strcmp(word, "filter") == 0 || std::strcmp(word, "merge") == 0);
}

int workbench_main(int argc, char **argv) {
  Options o;
  if (const int rc = parse_args(argc, argv, o); rc >= 0) return rc;
  const bool filtering = o.dedupe || o.has_match || !o.groups.empty() || !o.attrs.empty() || !o.schemes.empty();
  Playlist in, list;
  if (in.p == nullptr || list.p == nullptr) {
    std::fprintf(stderr, "kavlo: out of memory\n");
    return KAVLO_ERR_NOMEM;
  }
  std::unordered_set<std::string> seen;
  std::vector<int> chosen;
  for (const char *file : o.files) {
    const int rc = parse_input(in.p, file, o);
    if (o.warnings)
      for (int w = 0; w < kavlo_playlist_warning_count(in.p); ++w)
        if (const char *text = kavlo_playlist_warning(in.p, w)) std::fprintf(stderr, "%s: %s\n", file, text);
    if (rc != KAVLO_OK) {
      std::fprintf(stderr, "kavlo: %s: %s\n", file, status_text(rc, in.p));
      return rc;
    }
    // One file, all of it: written as it was read.
    if (o.files.size() == 1 && !filtering) return emit(in.p, o);
    // A list in another format than CUE collects the tracks of a first
    // CUE sheet as items: it starts as an empty M3U list.
    if (file == o.files.front() && kavlo_playlist_detected_format(in.p) == KAVLO_FORMAT_CUE &&
        o.target != Target::own && o.target != Target::cue &&
        kavlo_playlist_parse(list.p, "#EXTM3U\n", 8, KAVLO_FORMAT_M3U, nullptr) != KAVLO_OK) {
      std::fprintf(stderr, "kavlo: out of memory\n");
      return KAVLO_ERR_NOMEM;
    }
    chosen.clear();
    for (int i = 0; i < kavlo_playlist_item_count(in.p); ++i) {
      if (!keep(in.p, i, o)) continue;
      if (o.dedupe && !seen.insert(kavlo_playlist_item_location(in.p, i)).second) continue;
      chosen.push_back(i);
    }
    const int rc_append = kavlo_playlist_append(list.p, in.p, chosen.data(), chosen.size());
    if (rc_append == KAVLO_ERR_FORMAT) {
      std::fprintf(stderr, "kavlo: %s: %s does not join a CUE sheet (try --to m3u)\n", file,
                   format_label(kavlo_playlist_detected_format(in.p)));
      return rc_append;
    }
    if (rc_append != KAVLO_OK) {
      std::fprintf(stderr, "kavlo: %s: out of memory\n", file);
      return rc_append;
    }
  }
  return emit(list.p, o);
}
