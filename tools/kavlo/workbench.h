// The playlist workbench of the kavlo tool: convert, filter and merge.
#pragma once

// True for the subcommands the workbench runs ("convert", "filter",
// "merge").
bool workbench_command(const char *word);

// Runs `kavlo WORD ...` (argv[1] is the subcommand); returns the exit
// status: 0, 2 for a usage error, else the library's status of the first
// failure.
int workbench_main(int argc, char **argv);
