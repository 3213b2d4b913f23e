// The `tarrovel` command line: menu, run, --help, --version.
#pragma once

#include <cstdio>

namespace tarrovel {

enum ExitStatus { kExitOK = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

int RunCli(int argc, char **argv, FILE *out, FILE *err);

}  // namespace tarrovel
