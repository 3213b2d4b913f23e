// Runs the real `tarrovel` with the build tree's bundle, inside a TempTree.
#pragma once

#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace tvtest {

RunResult Tarrovel(const std::vector<std::string> &args, const std::string &input = "",
                   const std::vector<std::string> &env = {});
// The titles in a `menu --json` output, in order, submenu titles included.
std::vector<std::string> JsonTitles(const std::string &json);
// Writes the three settings into the preferences file of the tree's HOME.
void WriteSettings(TempTree &tree, bool showDataFork, bool showRecursive, bool keepDate);

}  // namespace tvtest
