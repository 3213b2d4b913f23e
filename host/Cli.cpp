#include "host/Cli.h"

#include "host/Dialogs.h"
#include "host/Frontend.h"
#include "host/Install.h"
#include "host/MenuLanguages.h"
#include "host/MenuModel.h"
#include "host/OfferHint.h"
#include "host/PlugInHost.h"
#include "platform/Files.h"
#include "platform/HostServices.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarrovel {

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

int Usage(FILE *err, const std::string &message) {
  if (!message.empty()) fprintf(err, "tarrovel: %s\n", message.c_str());
  fputs("Try 'tarrovel --help'.\n", err);
  return kExitUsage;
}

// The selection as a file manager hands it over: a list of alias descriptors.
class Selection {
 public:
  ~Selection() { AEDisposeDesc(&list_); }
  bool Build(const std::vector<std::string> &paths, std::string *error) {
    if (AECreateList(nullptr, 0, false, &list_) != noErr) {
      *error = "cannot make the selection";
      return false;
    }
    for (const std::string &path : paths) {
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) {
        *error = path + ": " + strerror(errno);
        return false;
      }
      AliasHandle alias = nullptr;
      if (TVNewAliasFromPath(path.c_str(), &alias) != noErr || alias == nullptr) {
        *error = path + ": cannot make an alias for it";
        return false;
      }
      OSErr e = AEPutPtr(&list_, 0, typeAlias, *alias, GetHandleSize(alias));
      DisposeHandle(alias);
      if (e != noErr) {
        *error = path + ": cannot add it to the selection";
        return false;
      }
    }
    return true;
  }
  AEDesc &desc() { return list_; }

 private:
  AEDescList list_ = {typeNull, nullptr};
};

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

int LoadPlugIns(PlugInHost &host, FILE *err) {
  std::vector<std::string> bundles = FindBundles(PlugInFolders());
  host.Load(bundles);
  if (host.plugIns().empty()) {
    fputs("tarrovel: no plug-in found (looked in $TARROVEL_PLUGIN_PATH, the user's plug-in folder "
          "and lib/tarrovel/plugins beside the command)\n",
          err);
    return kExitUsage;
  }
  return kExitOK;
}

void AllOffered(PlugInHost &host, std::vector<MenuItem> *items) {
  for (LoadedPlugIn &p : host.plugIns()) items->insert(items->end(), p.offered.begin(), p.offered.end());
}

int Menu(const Options &opt, FILE *out, FILE *err) {
  Selection selection;
  std::string error;
  if (!selection.Build(opt.paths, &error)) return Usage(err, error);
  PlugInHost host;
  if (int status = LoadPlugIns(host, err)) return status;
  bool decoded = host.Examine(selection.desc(), &error);
  host.PostMenuCleanup();
  if (!decoded) {
    fprintf(err, "tarrovel: a plug-in returned a malformed menu: %s\n", error.c_str());
    return kExitFailed;
  }
  std::vector<MenuItem> items;
  AllOffered(host, &items);
  if (opt.json) {
    fputs(MenuToJSON(items).c_str(), out);
  } else if (items.empty()) {
    fputs("(nothing offered for this selection)\n", out);
  } else {
    fputs(MenuToText(items).c_str(), out);
  }
  return kExitOK;
}

// The titles and command IDs offered, one line each, for a dialog.
void OfferedLines(const std::vector<MenuItem> &items, std::string *lines) {
  for (const MenuItem &item : items) {
    if (item.isSeparator()) continue;
    if (item.hasSubmenu) {
      OfferedLines(item.submenu, lines);
    } else {
      *lines += "\n\u2022 " + item.title + " [" + std::to_string(item.command) + "]";
    }
  }
}

// With --gui a usage error is also a dialog: the command may have been started
// by a file manager, where standard error is read by no one.
void UsageDialog(const DialogProgram *gui, AlertType type, const std::string &message,
                 const std::string &explanation) {
  if (gui == nullptr) return;
  TVAlertRequest request = {};
  request.type = type;
  request.message = message.c_str();
  request.explanation = explanation.empty() ? nullptr : explanation.c_str();
  request.buttons[0] = "OK";
  request.defaultButton = 1;
  std::string failure;
  if (ShowDialog(*gui, request, &failure) == 0) fprintf(stderr, "tarrovel: %s\n", failure.c_str());
}

// What the plug-in's strings call the action of the command for its progress
// window ("ProgressTitle.2001"), or "" when they name none.
std::string DeclaredProgressTitle(const LoadedPlugIn &plugIn, SInt32 command) {
  std::string key = "ProgressTitle." + std::to_string(command);
  CFStringRef cfKey = CFStringCreateWithCString(kCFAllocatorDefault, key.c_str(), kCFStringEncodingUTF8);
  CFStringRef found = cfKey != nullptr ? CFBundleCopyLocalizedString(plugIn.bundle, cfKey, nullptr, nullptr) : nullptr;
  char buf[512] = "";
  if (found == nullptr || !CFStringGetCString(found, buf, sizeof buf, kCFStringEncodingUTF8) || key == buf) buf[0] = 0;
  if (found != nullptr) CFRelease(found);
  if (cfKey != nullptr) CFRelease(cfKey);
  return buf;
}

// What a zap did, said at its end: on standard error, and on the desktop for
// --gui, where standard error is read by no one.
void ReportZap(const ZapTally &tally, bool desktop, FILE *err) {
  std::string text = ZapSummaryText(tally, SummaryLanguageFrom([](const char *name) -> const char * {
    return getenv(name);
  }));
  fprintf(err, "Tarrovel: %s\n", text.c_str());
  fflush(err);
  if (desktop) (void)NotifyDesktop(text);
}

int Run(const Options &opt, FILE *out, FILE *err) {
  // Whether dialogs can be shown is known before the plug-in is asked
  // anything, so that nothing has changed when they cannot.
  DialogProgram dialogs;
  const DialogProgram *gui = nullptr;
  if (opt.gui) {
    std::string why;
    if (!FindDialogProgram(&dialogs, &why)) {
      fprintf(err, "tarrovel: %s\n", why.c_str());
      return kExitUsage;
    }
    gui = &dialogs;
    if (opt.yes) {
      // Which alerts would still be asked is anybody's guess: refuse both.
      std::string message = "--yes and --gui do not go together";
      UsageDialog(gui, kAlertStopAlert, message, "");
      return Usage(err, message);
    }
  }
  Selection selection;
  std::string error;
  if (!selection.Build(opt.paths, &error)) {
    UsageDialog(gui, kAlertStopAlert, error, "");
    return Usage(err, error);
  }
  PlugInHost host;
  if (int status = LoadPlugIns(host, err)) {
    UsageDialog(gui, kAlertStopAlert, "No plug-in was found.", "");
    return status;
  }

  AlertMode mode = opt.gui   ? AlertMode::kDialogs
                   : opt.yes ? AlertMode::kYes
                             : (isatty(STDIN_FILENO) && isatty(fileno(err)) ? AlertMode::kTerminal : AlertMode::kLines);
  Frontend frontend(mode, opt.verbose, out, err);
  if (gui != nullptr) frontend.SetDialogProgram(dialogs);
  frontend.Install();

  bool decoded = host.Examine(selection.desc(), &error);
  LoadedPlugIn *chosen = nullptr;
  const MenuItem *item = nullptr;
  for (LoadedPlugIn &p : host.plugIns()) {
    if ((item = FindCommand(p.offered, opt.item)) != nullptr) {
      chosen = &p;
      break;
    }
  }
  // A title in another language of the bundles: the static menus of Thunar
  // and Dolphin call one command line whatever language each user reads.
  std::string byTitle = chosen == nullptr ? CommandOfTitleInAnyLanguage(host, selection.desc(), opt.item) : "";
  for (LoadedPlugIn &p : host.plugIns()) {
    if (chosen != nullptr || byTitle.empty()) break;
    if ((item = FindCommand(p.offered, byTitle)) != nullptr) chosen = &p;
  }
  if (chosen == nullptr) {
    std::vector<MenuItem> items;
    AllOffered(host, &items);
    host.PostMenuCleanup();
    frontend.Uninstall();
    if (!decoded) fprintf(err, "tarrovel: a plug-in returned a malformed menu: %s\n", error.c_str());
    fprintf(err, "tarrovel: \"%s\" is not offered for this selection\n", opt.item.c_str());
    std::string hint = HowToOffer(host, opt.item);
    if (!hint.empty()) fprintf(err, "tarrovel: %s\n", hint.c_str());
    if (!items.empty()) fprintf(err, "offered:\n%s", MenuToText(items).c_str());
    // The dialog names what is offered, toggles included: they are how an
    // item that is switched off is switched on. In the language of the menus.
    std::string offered, language;
    OfferedLines(items, &offered);
    if (!host.plugIns().empty()) {
      CFStringRef chosenLanguage = TVBundleGetLanguage(host.plugIns().front().bundle);
      char buffer[64] = "";
      if (chosenLanguage != nullptr && CFStringGetCString(chosenLanguage, buffer, sizeof buffer, kCFStringEncodingUTF8))
        language = buffer;
    }
    NotOfferedText text = NotOfferedDialog(language, opt.item, hint, offered);
    UsageDialog(gui, kAlertNoteAlert, text.message, text.explanation);
    return kExitUsage;
  }
  SInt32 command = item->command;
  frontend.SetProgressTitle(ProgressTitle(DeclaredProgressTitle(*chosen, command), item->title));
  frontend.StartProgress();
  OSStatus status = host.Handle(*chosen, selection.desc(), command);
  frontend.FinishProgress();
  ZapTally tally;
  if (frontend.TakeZapTally(status != noErr, &tally)) ReportZap(tally, gui != nullptr, err);
  host.PostMenuCleanup();
  frontend.Uninstall();
  if (!frontend.dialogFailure().empty()) {
    // Not a Cancel: the question was never seen.
    fprintf(err, "tarrovel: %s\n", frontend.dialogFailure().c_str());
    return kExitUsage;
  }
  if (status != noErr) return kExitFailed;
  // A toggle may have changed what the static menus of Thunar and Dolphin should hold.
  RefreshStaticMenus(host, err);
  return kExitOK;
}

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

}  // namespace tarrovel
