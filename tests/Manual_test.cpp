// The manual page and `tarrovel --help` name the same commands and options,
// so that neither can drift from the other.
#include "tests/support/Tarrovel.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

namespace {

// Names the manual page documents before `--help` shows them: each must
// leave this list as soon as the command line learns it.
const std::set<std::string> kAheadOfHelp = {};

std::string ManualText() {
  std::ifstream in(std::string(TV_SOURCE_DIR) + "/doc/tarrovel.1");
  std::stringstream roff;
  roff << in.rdbuf();
  // As the page reads: "\-" is a hyphen, font changes and macros are not words.
  std::string text = std::regex_replace(roff.str(), std::regex(R"(\\-)"), "-");
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  text = std::regex_replace(text, std::regex(R"(\\\(dq)"), "\"");
  return std::regex_replace(text, std::regex(R"((^|\n)\.[A-Z]+ ?)"), "$1");
}

void Collect(const std::string &text, const std::regex &re, std::set<std::string> *into) {
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    into->insert((*it)[1]);
}

// Options: "-v", "--json", "--" standing as words of their own.
std::set<std::string> Options(const std::string &text) {
  std::set<std::string> names;
  Collect(text, std::regex(R"((?:^|[\s\[|(])(--?[a-z][a-z-]*|--)(?=[\s\]|),.:]|$))"), &names);
  return names;
}

// Commands: the word after "tarrovel" at the start of a synopsis line, or
// after a "|" between two forms ("tarrovel install | tarrovel uninstall").
std::set<std::string> Commands(const std::string &text) {
  std::set<std::string> names;
  Collect(text, std::regex(R"((?:^|\n|\| )(?:usage:)?\s*tarrovel ([a-z]+))"), &names);
  return names;
}

TEST(Manual, NamesEveryCommandAndOptionOfTheHelpAndNoOther) {
  tv::test::RunResult help = tv::test::Tarrovel({"--help"});
  ASSERT_EQ(help.status, 0) << help.err;
  std::string manual = ManualText();
  ASSERT_NE(manual.find("EXIT STATUS"), std::string::npos);

  std::set<std::string> helpNames = Commands(help.out), manualNames = Commands(manual);
  ASSERT_TRUE(helpNames.count("menu") && helpNames.count("run")) << help.out;
  std::set<std::string> helpOptions = Options(help.out), manualOptions = Options(manual);
  ASSERT_TRUE(helpOptions.count("--json") && helpOptions.count("-v")) << help.out;
  helpNames.insert(helpOptions.begin(), helpOptions.end());
  manualNames.insert(manualOptions.begin(), manualOptions.end());

  for (const std::string &name : helpNames)
    EXPECT_TRUE(manualNames.count(name)) << "tarrovel --help names " << name << ", the manual page does not";
  for (const std::string &name : manualNames)
    EXPECT_TRUE(helpNames.count(name) || kAheadOfHelp.count(name))
        << "the manual page names " << name << ", tarrovel --help does not";
  for (const std::string &name : kAheadOfHelp)
    EXPECT_FALSE(helpNames.count(name)) << "tarrovel --help now names " << name
                                        << ": take it off the list of names ahead of the help";
}

}  // namespace
