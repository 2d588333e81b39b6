// The command line: options, the subcommand word and the files.
#pragma once

#include <cstddef>
#include <vector>

#include "kavlo.h"

namespace kavlo_cli {

constexpr int exit_usage = 2;

struct Options {
  bool pretty = false;
  bool warnings = false;
  bool lines = false;
  bool full = false;
  bool given[128] = {};  // option letters seen ('F' for --full)
  int format = KAVLO_FORMAT_AUTO;
  // -e: "auto" (the default), a name, or "" for the library's own chain.
  const char *encoding = "auto";
  bool auto_encoding = true;  // encoding is "auto"
  std::vector<const char *> files;
};

// A subcommand: the word that names it (nullptr for parsing, which needs
// none), the option letters it takes (others are refused), and what runs
// it. main() lists them.
struct Command {
  const char *name;
  const char *takes;
  int (*run)(const Options &);
};

// Reads the command line into `o` and picks the command: the first operand
// when it names one of `commands`, else `fallback`. Options may stand
// before and after the command word and the files; "--" ends them.
// Returns -1 to go on, else the exit status (usage errors, --help,
// --version).
int parse_args(int argc, char **argv, const Command *commands, size_t count,
               const Command &fallback, const Command *&command, Options &o);

}  // namespace kavlo_cli
