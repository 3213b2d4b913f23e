#include "host/Cli.h"

#include <cstdio>

int main(int argc, char **argv) {
  int status = tv::host::RunCli(argc, argv, stdout, stderr);
  fflush(stdout);
  return status;
}
