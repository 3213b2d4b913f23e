// The commands that drive the plug-ins as a file manager does: `menu` shows
// what they offer for a selection, `run` chooses one of their items for it.
#pragma once

#include "host/Dialogs.h"
#include "host/ExitStatus.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tv::host {

// The command line as parsed.
struct Options {
  std::string command;
  bool json = false;
  bool yes = false;
  bool verbose = false;
  bool gui = false;
  bool user = false;
  std::string item;
  std::vector<std::string> paths;
};

// A usage error: the message, then where help is, on err; kExitUsage.
int Usage(FILE *err, const std::string &message);

// With --gui (gui not null) a usage error is also a dialog.
void UsageDialog(const DialogProgram *gui, AlertType type, const std::string &message,
                 const std::string &explanation);

int Menu(const Options &opt, FILE *out, FILE *err);
int Run(const Options &opt, FILE *out, FILE *err);

}  // namespace tv::host
