// The tool's commands; main() lists them with the options each takes.
#pragma once

#include "options.h"

namespace kavlo_cli {

// kavlo [OPTIONS] FILE...: each playlist's JSON document.
int run_parse(const Options &o);

// kavlo detect [-l] [-w] FILE...: each file's format.
int run_detect(const Options &o);

}  // namespace kavlo_cli
