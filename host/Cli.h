// The `tarrovel` command line: menu, run, --help, --version.
#pragma once

#include "host/ExitStatus.h"

#include <cstdio>

namespace tv::host {

int RunCli(int argc, char **argv, FILE *out, FILE *err);

}  // namespace tv::host
