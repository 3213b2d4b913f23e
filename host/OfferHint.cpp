#include "host/OfferHint.h"

#include "host/Install.h"
#include "host/MenuLanguages.h"
#include "platform/Files.h"
#include "platform/HostServices.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarrovel {

namespace {

// How long one trial may take.
constexpr int kTrialMilliseconds = 5000;

const StaticItem *Find(const std::vector<StaticItem> &items, const std::string &choice) {
  for (const StaticItem &item : items) {
    if (item.separator) continue;
    bool named = std::any_of(item.titles.begin(), item.titles.end(), [&](const auto &t) { return t.second == choice; });
    if (named || item.title == choice || std::to_string(item.command) == choice) return &item;
  }
  return nullptr;
}

std::string Where(const StaticItem &item) {
  std::string where = item.forFiles && item.forFolders ? "files and folders" : item.forFiles ? "files" : "folders";
  return "\"" + item.title + "\" is offered for " + where;
}

// The trial's alerts are answered as a user who wants nothing done would, and
// its keyboard, beeps and log go nowhere.
SInt32 CancelAlert(const TVAlertRequest *request, void *) {
  if (request->cancelButton > 0) return request->cancelButton;
  return request->defaultButton > 0 ? request->defaultButton : 1;
}
void NoKeys(KeyMap keys, void *) { memset(keys, 0, sizeof(KeyMap)); }
void NoBeep(short, void *) {}
void NoConsole(const char *, void *) {}

// A selection of the one item at path.
bool SelectionOf(const std::string &path, AEDescList *list) {
  AliasHandle alias = nullptr;
  bool ok = AECreateList(nullptr, 0, false, list) == noErr && TVNewAliasFromPath(path.c_str(), &alias) == noErr &&
            alias != nullptr && AEPutPtr(list, 0, typeAlias, *alias, GetHandleSize(alias)) == noErr;
  if (alias != nullptr) DisposeHandle(alias);
  return ok;
}

// In the child: chooses `item` on a representative selection of its kind, then
// asks for the offer again. Settings go to a folder of its own under `root`.
bool Trial(PlugInHost &host, const StaticItem &item, const std::string &root, std::vector<StaticItem> *after) {
  std::string config = root + "/config", path = root + (item.forFiles ? "/file" : "/folder");
  std::error_code ec;
  if (!std::filesystem::create_directory(config, ec)) return false;
  if (item.forFiles) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return false;
    close(fd);
  } else if (!std::filesystem::create_directory(path, ec)) {
    return false;
  }
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("TMPDIR", root.c_str(), 1);
  AEDescList selection = {typeNull, nullptr};
  std::string error;
  bool ok = SelectionOf(path, &selection) && host.Examine(selection, &error);
  LoadedPlugIn *chosen = nullptr;
  for (LoadedPlugIn &p : host.plugIns()) {
    if (ok && FindCommand(p.offered, std::to_string(item.command)) != nullptr) {
      chosen = &p;
      break;
    }
  }
  if (chosen != nullptr) (void)host.Handle(*chosen, selection, item.command);
  host.PostMenuCleanup();
  AEDisposeDesc(&selection);
  return chosen != nullptr && CurrentStaticItems(host, after, &error);
}

// Runs Trial in a child process; *found is `choice` as offered after it, when
// the trial brought it in.
bool TrialBringsIn(PlugInHost &host, const StaticItem &item, const std::string &choice, StaticItem *found) {
  const char *base = getenv("TMPDIR");
  std::string pattern = (base != nullptr && base[0] == '/' ? std::string(base) : std::string("/tmp")) +
                        "/tarrovel-trial-XXXXXX";
  std::vector<char> dir(pattern.begin(), pattern.end());
  dir.push_back('\0');
  if (mkdtemp(dir.data()) == nullptr) return false;
  std::string root = dir.data();
  std::string answer;
  int fds[2];
  if (pipe(fds) == 0) {
    fflush(nullptr);  // nothing buffered is written twice by the child
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_RDWR);
      for (int fd = 0; fd <= 2 && null >= 0; fd++) dup2(null, fd);
      TVSetAlertPresenter(CancelAlert, nullptr);
      TVSetKeyboardPoller(NoKeys, nullptr);
      TVSetBeepHandler(NoBeep, nullptr);
      TVSetConsoleSink(NoConsole, nullptr);
      std::vector<StaticItem> offered;
      const StaticItem *brought = Trial(host, item, root, &offered) ? Find(offered, choice) : nullptr;
      if (brought != nullptr) {
        // Where it is offered, then its title.
        std::string message = std::string(1, char('0' + (brought->forFiles ? 1 : 0) + (brought->forFolders ? 2 : 0))) +
                              brought->title;
        (void)!write(fds[1], message.data(), message.size());
      }
      _exit(0);
    }
    close(fds[1]);
    // A plug-in whose item never returns costs the hint, not the command.
    pollfd wait = {fds[0], POLLIN, 0};
    char buffer[512];
    ssize_t n = 0;
    while (pid > 0) {
      int ready = poll(&wait, 1, kTrialMilliseconds);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        kill(pid, SIGKILL);
        answer.clear();
        break;
      }
      n = read(fds[0], buffer, sizeof buffer);
      if (n > 0) answer.append(buffer, size_t(n));
      else if (n == 0 || errno != EINTR) break;
    }
    close(fds[0]);
    while (pid > 0 && waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  if (answer.size() < 2) return false;
  found->forFiles = (answer[0] - '0') & 1;
  found->forFolders = (answer[0] - '0') & 2;
  found->title = answer.substr(1);
  found->command = 0;
  return true;
}

}  // namespace

std::string OfferHint(const std::string &choice, const std::vector<StaticItem> &now, SInt32 toggle,
                      const std::vector<StaticItem> &afterToggle) {
  if (const StaticItem *item = Find(now, choice)) return Where(*item);
  const StaticItem *item = Find(afterToggle, choice);
  if (toggle == 0 || item == nullptr) return "";
  return Where(*item) + ", once switched on with the toggle [" + std::to_string(toggle) + "]";
}

NotOfferedText NotOfferedDialog(const std::string &language, const std::string &choice, const std::string &hint,
                                const std::string &offered) {
  // Thunar reads uca.xml when it starts; Dolphin reads its service menus at
  // each right-click, so that a stale item there is gone with the next menu.
  if (language == "ja") {
    std::string explanation = hint.empty() ? "" : "メモ：" + hint + "\n\n";
    explanation += "Thunar や Dolphin のメニューから選んだ場合は、そのメニューが古くなっています。"
                   "Thunar はアクションを起動時に読み込みます。「thunar -q」で終了してから開き直してください。"
                   "Dolphin ではメニューを開き直してください。\n\n";
    explanation += offered.empty() ? "この選択項目で使える項目はありません。" : "この選択項目で使える項目：" + offered;
    return {"「" + choice + "」は、選択した項目には使えません", explanation};
  }
  std::string explanation = hint.empty() ? "" : "Note: " + hint + ".\n\n";
  explanation += "If you chose it in Thunar's or Dolphin's menu, that menu is out of date. Thunar reads its actions "
                 "when it starts: quit it with \"thunar -q\" and open it again. In Dolphin, open the menu again.\n\n";
  explanation += offered.empty() ? "Nothing is offered for this selection." : "Offered for this selection:" + offered;
  return {"\"" + choice + "\" is not offered for this selection", explanation};
}

std::string HowToOffer(PlugInHost &host, const std::string &choice) {
  std::vector<StaticItem> now;
  std::string error;
  if (!StaticItemsInEveryLanguage(host, &now, &error)) return "";
  if (Find(now, choice) != nullptr) return OfferHint(choice, now, 0, {});
  for (const StaticItem &item : now) {
    StaticItem found;
    if (item.separator || !TrialBringsIn(host, item, choice, &found)) continue;
    // found has the title as offered: the choice may have been a command ID.
    return OfferHint(found.title, now, item.command, {found});
  }
  return "";
}

}  // namespace tarrovel
