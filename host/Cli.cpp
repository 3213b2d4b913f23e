#include "host/Cli.h"

#include "host/Commands.h"
#include "host/Dialogs.h"
#include "host/Install.h"

#include <string>
#include <vector>

namespace tv::host {

namespace {

const char kUsage[] =
    "usage: tarrovel menu [--json] [--] PATH...\n"
    "       tarrovel run [--yes] [-v] [--gui] [--] ITEM PATH...\n"
    "       tarrovel install [--user]\n"
    "       tarrovel uninstall [--user]\n"
    "       tarrovel --help | --version\n"
    "\n"
    "  menu       show the submenu the plug-ins offer for the selected PATHs\n"
    "  --json     print the items as JSON\n"
    "  run        choose ITEM (its title as offered, or its command ID) for the PATHs\n"
    "  --yes      answer every alert with its default button\n"
    "  -v         print the path of each item the command updates\n"
    "  --gui      show alerts as desktop dialogs and a progress window with Cancel; not with --yes\n"
    "  --         end the options; they count only before ITEM (run) or the first PATH (menu)\n"
    "  install    install the command and the file-manager menus (--user: for this user,\n"
    "             the default unless run as root)\n"
    "  uninstall  remove what install wrote\n"
    "\n"
    "Exit status: 0 done (a cancelled confirmation too), 1 the item failed, 2 usage error,\n"
    "128 + the signal after a second Ctrl-C, SIGTERM or SIGHUP (130 for Ctrl-C).\n";

// The commands and the options each takes. Options count only before the
// first operand (ITEM for `run`, the first PATH otherwise), so that a file
// named like an option, handed over by a shell's glob, stays a path.
struct Flag {
  const char *name;
  const char *alias;  // or NULL
  bool Options::*field;
};
struct Command {
  const char *name;
  std::vector<Flag> flags;
  bool takesItem;
  bool takesPaths;
  int (*run)(const Options &, FILE *, FILE *);
};
const Command kCommands[] = {
    {"menu", {{"--json", nullptr, &Options::json}}, false, true, Menu},
    {"run", {{"--yes", "-y", &Options::yes}, {"-v", "--verbose", &Options::verbose},
             {"--gui", nullptr, &Options::gui}},
     true, true, Run},
    {"install", {{"--user", nullptr, &Options::user}}, false, false,
     [](const Options &o, FILE *out, FILE *err) { return Install(o.user, out, err); }},
    {"uninstall", {{"--user", nullptr, &Options::user}}, false, false,
     [](const Options &o, FILE *out, FILE *err) { return Uninstall(o.user, out, err); }},
};

bool ParseArguments(const Command &command, const std::vector<std::string> &args, Options *opt, std::string *error) {
  opt->command = command.name;
  bool optionsEnded = false;
  bool separatorSeen = false;
  bool itemGiven = false;
  for (size_t i = 1; i < args.size(); i++) {
    const std::string &a = args[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = separatorSeen = true;
      continue;
    }
    // `run ITEM -- PATH...`: a separator right after ITEM, where none came
    // before, is a separator still; every later argument is a path.
    if (itemGiven && !separatorSeen && opt->paths.empty() && a == "--" && args[i - 1] == opt->item) {
      separatorSeen = true;
      continue;
    }
    if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      const Flag *flag = nullptr;
      for (const Flag &f : command.flags) {
        if (a == f.name || (f.alias != nullptr && a == f.alias)) flag = &f;
      }
      if (flag == nullptr) {
        *error = "unknown option '" + a + "' for " + opt->command;
        return false;
      }
      opt->*(flag->field) = true;
      continue;
    }
    optionsEnded = true;
    if (command.takesItem && !itemGiven) {
      if (a.empty()) {
        *error = "the item to run is empty";
        return false;
      }
      opt->item = a;
      itemGiven = true;
    } else if (command.takesPaths) {
      opt->paths.push_back(a);
    } else {
      *error = opt->command + " takes no PATH ('" + a + "')";
      return false;
    }
  }
  if (command.takesItem && !itemGiven) {
    *error = opt->command + " needs an ITEM and at least one PATH";
    return false;
  }
  if (command.takesPaths && opt->paths.empty()) {
    *error = opt->command + " needs at least one PATH";
    return false;
  }
  return true;
}

}  // namespace

int RunCli(int argc, char **argv, FILE *out, FILE *err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage(err, "");
  if (args[0] == "--help" || args[0] == "-h") {
    fputs(kUsage, out);
    return kExitOK;
  }
  if (args[0] == "--version") {
    fprintf(out, "tarrovel %s\n", TV_VERSION);
    return kExitOK;
  }
  const Command *command = nullptr;
  for (const Command &c : kCommands) {
    if (args[0] == c.name) command = &c;
  }
  if (command == nullptr) return Usage(err, "unknown command '" + args[0] + "'");
  Options opt;
  std::string error;
  if (!ParseArguments(*command, args, &opt, &error)) {
    DialogProgram dialogs;
    std::string why;
    if (opt.gui && FindDialogProgram(&dialogs, &why)) UsageDialog(&dialogs, kAlertStopAlert, error, "");
    return Usage(err, error);
  }
  return command->run(opt, out, err);
}

}  // namespace tv::host
