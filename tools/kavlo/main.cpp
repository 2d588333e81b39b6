// kavlo: the command-line front end of the library. Parses playlists and
// prints their JSON documents, or detects their formats. Uses only the
// public C interface, one playlist handle per run; yyjson only to indent
// documents for --pretty.
//
// The sources, by job: options (the command line), input (files and
// standard input into the handle), output (standard output, JSON strings),
// progress (standard error), and one source per command (parse, detect,
// and the workbench: convert, filter, merge).
#include <signal.h>

#include <iterator>

#include "commands.h"
#include "options.h"
#include "workbench.h"

int main(int argc, char **argv) {
  using namespace kavlo_cli;
  // A closed pipe is seen as EPIPE where the tool writes (see output.cpp).
  signal(SIGPIPE, SIG_IGN);
  if (argc > 1 && workbench_command(argv[1])) return workbench_main(argc, argv);
  // The commands named by a word, with the option letters each takes; a
  // further command is one more row.
  static const Command commands[] = {
      {"detect", "lw", run_detect},
  };
  static const Command parsing = {nullptr, "efFlpw", run_parse};
  Options o;
  const Command *command = nullptr;
  const int rc = parse_args(argc, argv, commands, std::size(commands), parsing, command, o);
  if (rc >= 0) return rc;
  return command->run(o);
}
