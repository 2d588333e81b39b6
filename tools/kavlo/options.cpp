// The command line: usage text, option table, getopt_long passes and the
// messages for what it refuses.
#include "options.h"

#include <errno.h>
#include <getopt.h>
#include <iconv.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "output.h"
#include "progress.h"

namespace kavlo_cli {

namespace {

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
    "                       they are, other text in the encoding that the\n"
    "                       library guesses, else as with an empty NAME; an\n"
    "                       empty NAME: the library's own GBK, CP1252, Latin-1\n"
    "                       fallbacks\n"
    "  -f, --format FORMAT  auto (default), m3u, streaming-list or cue, in any\n"
    "                       letter case\n"
    "      --full           the full document: also the version, the #EXTM3U\n"
    "                       attributes, each entry's line, options (#EXTVLCOPT,\n"
    "                       #KODIPROP, ...), URL|headers and genre group, and\n"
    "                       the CUE fields and REM lines the document leaves out\n"
    "  -l, --lines          always write JSON Lines (detect: NAME<TAB>FORMAT)\n"
    "  -p, --pretty         indent the JSON (several objects follow each other)\n"
    "  -w, --warnings       print the diagnostics on standard error, as\n"
    "                       FILE:LINE: MESSAGE: each warning with its line, and\n"
    "                       what was dropped without one (FILE: MESSAGE for the\n"
    "                       whole text); -e auto adds FILE: encoding: NAME (auto)\n"
    "                       for text that is neither UTF-8 nor marked\n"
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

// The options. To add one: a row here, its letter in short_options, and the
// letter in the `takes` of each command that honours it.
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
// '+': stop at the first operand (it may be the command word); ':': report
// a missing value as ':' rather than printing getopt's own message.
const char short_options[] = "+:e:f:lpwhV";

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

}  // namespace

int parse_args(int argc, char **argv, const Command *commands, size_t count,
               const Command &fallback, const Command *&command, Options &o) {
  bool operands_only = false;
  int rc = take_options(argc, argv, o, operands_only);
  if (rc >= 0) return rc;
  int first = optind;  // the first operand
  command = &fallback;
  for (size_t i = 0; !operands_only && first < argc && i < count; ++i)
    if (std::strcmp(argv[first], commands[i].name) == 0) {
      command = &commands[i];
      ++first;
      break;
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
  // A command refuses what it cannot honour.
  for (const option *l = long_options; l->name != nullptr; ++l)
    if (l->val != 'h' && l->val != 'V' && o.given[l->val] && std::strchr(command->takes, l->val) == nullptr) {
      diag("kavlo: %s does not take --%s\n", command->name ? command->name : "parsing", l->name);
      std::fputs("Try 'kavlo --help'.\n", stderr);
      return exit_usage;
    }
  if (strcasecmp(o.encoding, "auto") == 0) {
    o.encoding = "auto";
  } else {
    o.auto_encoding = false;
    if (o.encoding[0] != '\0' && !known_encoding(o.encoding)) {
      diag("kavlo: unknown encoding '%s'\n", o.encoding);
      return exit_usage;
    }
  }
  return -1;
}

}  // namespace kavlo_cli
