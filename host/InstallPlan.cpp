#include "host/InstallPlan.h"

#include <algorithm>
#include <cstdio>

namespace tv::host {

namespace {
const char kPlaceholder[] = "@TARROVEL@";
const char kPackageList[] = "/var/lib/tarrovel/installed";
}

std::string SubstituteExtension(const std::string &templ, const std::string &tarrovel) {
  std::string literal;
  for (unsigned char c : tarrovel) {
    char buf[8];
    if (c == '\\' || c == '"') {
      literal += '\\';
      literal += char(c);
    } else if (c < 0x20 || c == 0x7f) {
      snprintf(buf, sizeof buf, "\\x%02x", c);
      literal += buf;
    } else if (c >= 0x80) {  // os.fsencode turns the lone surrogate back into this byte
      snprintf(buf, sizeof buf, "\\udc%02x", c);
      literal += buf;
    } else {
      literal += char(c);
    }
  }
  std::string out = templ;
  for (size_t at = out.find(kPlaceholder); at != std::string::npos; at = out.find(kPlaceholder, at + literal.size()))
    out.replace(at, sizeof kPlaceholder - 1, literal);
  return out;
}

InstallPlan PlanFor(bool user, const std::string &home, const std::string &xdgDataHome,
                    const std::string &xdgConfigHome, const std::string &xdgConfigDirs,
                    const std::string &systemPrefix) {
  InstallPlan plan;
  // Relative XDG values are to be ignored, as the base-directory rules say.
  auto absolute = [](const std::string &v, const std::string &fallback) {
    return !v.empty() && v[0] == '/' ? v : fallback;
  };
  if (user) {
    plan.prefix = home + "/.local";
    plan.dataDir = absolute(xdgDataHome, home + "/.local/share");
    plan.ucaXml = absolute(xdgConfigHome, home + "/.config") + "/Thunar/uca.xml";
    plan.manifest = plan.dataDir + "/tarrovel/installed";
    std::string dirs = xdgConfigDirs.empty() ? "/etc/xdg" : xdgConfigDirs;
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t colon = dirs.find(':', start);
      std::string d = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (!d.empty() && d[0] == '/') plan.ucaDefaults.push_back(d + "/Thunar/uca.xml");
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    plan.systemLists = {kPackageList, systemPrefix + "/share/tarrovel/installed"};
  } else {
    plan.prefix = systemPrefix;
    plan.dataDir = systemPrefix + "/share";
    plan.ucaXml = "/etc/xdg/Thunar/uca.xml";  // read by Thunar for every user without one of their own
    plan.manifest = systemPrefix + "/share/tarrovel/installed";
  }
  return plan;
}

InstallPlan PackagePlan() {
  InstallPlan plan = PlanFor(false, "", "", "", "", "/usr");
  plan.manifest = kPackageList;
  plan.thunarOnly = true;
  return plan;
}

PathVerdict JudgePath(const std::string &path, const PathFacts &have, const std::string &want,
                      const std::vector<std::string> &listed, bool *ours, std::string *why) {
  bool wroteThis = std::find(listed.begin(), listed.end(), have.digest) != listed.end();
  *ours = !have.exists || wroteThis;
  if (!have.exists) return PathVerdict::kWrite;
  if (have.digest == want) return wroteThis && !have.sameMode ? PathVerdict::kWrite : PathVerdict::kInPlace;
  if (wroteThis) return PathVerdict::kWrite;
  *why = listed.empty() ? path + " is already there and tarrovel install did not write it"
                        : path + " has changed since tarrovel install wrote it";
  *why += ": it is left as it is, and nothing is installed; move it elsewhere (or remove it), then install again";
  return PathVerdict::kRefuse;
}

std::string PackageProvidesText() {
  return "the tarrovel package already provides the integrations of every file manager for all users, "
         "so nothing is changed; `tarrovel install --user` installs for this user alone";
}

std::vector<std::string> RestartHints(const std::vector<std::string> &running) {
  const struct {
    const char *process, *name;
  } kNeedRestart[] = {{"nautilus", "Nautilus"}, {"nemo", "Nemo"}, {"thunar", "Thunar"}, {"Thunar", "Thunar"}};
  std::vector<std::string> out;
  for (const auto &fm : kNeedRestart) {
    if (std::find(running.begin(), running.end(), fm.process) == running.end()) continue;
    std::string line = std::string(fm.name) + " is running: its Tarrovel menu appears once it restarts (" +
                       std::string(fm.name == std::string("Thunar") ? "thunar" : fm.process) + " -q, then open it again)";
    if (std::find(out.begin(), out.end(), line) == out.end()) out.push_back(line);
  }
  return out;
}

}  // namespace tv::host
