#include "host/Commands.h"

#include "host/Frontend.h"
#include "host/Install.h"
#include "host/MenuLanguages.h"
#include "host/MenuModel.h"
#include "host/MenuRefresh.h"
#include "host/OfferHint.h"
#include "host/PlugInHost.h"
#include "host/Selection.h"
#include "platform/HostServices.h"

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace tv::host {

int Usage(FILE *err, const std::string &message) {
  if (!message.empty()) fprintf(err, "tarrovel: %s\n", message.c_str());
  fputs("Try 'tarrovel --help'.\n", err);
  return kExitUsage;
}

namespace {

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

// Whether dialogs can be shown is known before the plug-in is asked
// anything, so that nothing has changed when they cannot. kExitOK with *gui
// set for --gui (null without), else the status to end with.
int ChooseDialogs(const Options &opt, DialogProgram *dialogs, const DialogProgram **gui, FILE *err) {
  *gui = nullptr;
  if (!opt.gui) return kExitOK;
  std::string why;
  if (!FindDialogProgram(dialogs, &why)) {
    fprintf(err, "tarrovel: %s\n", why.c_str());
    return kExitUsage;
  }
  *gui = dialogs;
  if (opt.yes) {
    // Which alerts would still be asked is anybody's guess: refuse both.
    std::string message = "--yes and --gui do not go together";
    UsageDialog(*gui, kAlertStopAlert, message, "");
    return Usage(err, message);
  }
  return kExitOK;
}

// The plug-in that offers `choice` for the selection, and its item there;
// null when none does.
LoadedPlugIn *ChosenPlugIn(PlugInHost &host, AEDesc &selection, const std::string &choice, const MenuItem **item) {
  LoadedPlugIn *chosen = nullptr;
  for (LoadedPlugIn &p : host.plugIns()) {
    if ((*item = FindCommand(p.offered, choice)) != nullptr) {
      chosen = &p;
      break;
    }
  }
  // A title in another language of the bundles: the static menus of Thunar
  // and Dolphin call one command line whatever language each user reads.
  std::string byTitle = chosen == nullptr ? CommandOfTitleInAnyLanguage(host, selection, choice) : "";
  for (LoadedPlugIn &p : host.plugIns()) {
    if (chosen != nullptr || byTitle.empty()) break;
    if ((*item = FindCommand(p.offered, byTitle)) != nullptr) chosen = &p;
  }
  return chosen;
}

// `choice` is not offered: said on standard error and, with --gui, in a
// dialog, with what is offered and how it could be. `malformed`: why a
// plug-in's menu did not decode, or "".
int NotOffered(PlugInHost &host, const std::string &choice, const std::string &malformed, const DialogProgram *gui,
               FILE *err) {
  std::vector<MenuItem> items;
  AllOffered(host, &items);
  if (!malformed.empty()) fprintf(err, "tarrovel: a plug-in returned a malformed menu: %s\n", malformed.c_str());
  fprintf(err, "tarrovel: \"%s\" is not offered for this selection\n", choice.c_str());
  std::string hint = HowToOffer(host, choice);
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
  NotOfferedText text = NotOfferedDialog(language, choice, hint, offered);
  UsageDialog(gui, kAlertNoteAlert, text.message, text.explanation);
  return kExitUsage;
}

}  // namespace

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

int Run(const Options &opt, FILE *out, FILE *err) {
  DialogProgram dialogs;
  const DialogProgram *gui = nullptr;
  if (int status = ChooseDialogs(opt, &dialogs, &gui, err)) return status;
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
  frontend.AttachHandlers();

  bool decoded = host.Examine(selection.desc(), &error);
  const MenuItem *item = nullptr;
  LoadedPlugIn *chosen = ChosenPlugIn(host, selection.desc(), opt.item, &item);
  if (chosen == nullptr) {
    host.PostMenuCleanup();
    frontend.DetachHandlers();
    return NotOffered(host, opt.item, decoded ? "" : error, gui, err);
  }
  SInt32 command = item->command;
  frontend.SetProgressTitle(ProgressTitle(DeclaredProgressTitle(*chosen, command), item->title));
  frontend.StartProgress();
  OSStatus status = host.Handle(*chosen, selection.desc(), command);
  frontend.FinishProgress();
  ZapTally tally;
  if (frontend.TakeZapTally(status != noErr, &tally)) ReportZap(tally, gui != nullptr, err);
  host.PostMenuCleanup();
  frontend.DetachHandlers();
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

}  // namespace tv::host
