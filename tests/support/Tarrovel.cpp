#include "tests/support/Tarrovel.h"

#include <regex>

namespace tvtest {

RunResult Tarrovel(const std::vector<std::string> &args, const std::string &input,
                   const std::vector<std::string> &env) {
  std::vector<std::string> argv = {TV_TARROVEL_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string bundleDir = TV_BUNDLE_DIR;
  std::vector<std::string> fullEnv = {"TARROVEL_PLUGIN_PATH=" + bundleDir.substr(0, bundleDir.rfind('/')),
                                      "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=C.UTF-8"};
  fullEnv.insert(fullEnv.end(), env.begin(), env.end());
  return Run(argv, input, fullEnv);
}

std::vector<std::string> JsonTitles(const std::string &json) {
  std::vector<std::string> titles;
  std::regex title("\"title\": \"((?:[^\"\\\\]|\\\\.)*)\"");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), title); it != std::sregex_iterator(); ++it) {
    titles.push_back((*it)[1]);
  }
  return titles;
}

void WriteSettings(TempTree &tree, bool showDataFork, bool showRecursive, bool keepDate) {
  auto b = [](bool v) { return v ? "<true/>" : "<false/>"; };
  tree.file("home/.config/tarrovel/org.tarrovel.Tarrovel.plist",
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>") +
                "<key>ShowDataForkMenu</key>" + b(showDataFork) + "<key>ShowRsrcForkRecursiveMenu</key>" +
                b(showRecursive) + "<key>keepModificationDate</key>" + b(keepDate) + "</dict></plist>\n");
}

}  // namespace tvtest
