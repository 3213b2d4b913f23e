// The `tarrovel` command line: menu, run, --help, --version.
#pragma once

#include "host/ExitStatus.h"

#include <cstdio>

namespace tarrovel {

int RunCli(int argc, char **argv, FILE *out, FILE *err);

}  // namespace tarrovel
