// The choice of a bundle's language from the environment.
#include "platform/cf/LanguageChoice.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

std::string Choose(const std::map<std::string, std::string> &env,
                   const std::set<std::string> &localizations = {"en", "ja", "fr", "pt", "pt_BR"}) {
  return tv::cf::ChooseLanguage(
      [&](const char *name) -> const char * {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
      },
      [&](const std::string &language) { return localizations.count(language) != 0; });
}

TEST(LanguageChoiceTest, StripsCodesetAndRegionToFindALocalization) {
  EXPECT_EQ("ja", Choose({{"LANG", "ja_JP.UTF-8"}}));
  EXPECT_EQ("pt_BR", Choose({{"LANG", "pt_BR.UTF-8"}}));
  EXPECT_EQ("pt", Choose({{"LANG", "pt_PT"}}));
  EXPECT_EQ("fr", Choose({{"LANG", "fr_FR.ISO-8859-1@euro"}}));
}

TEST(LanguageChoiceTest, FollowsTheGettextOrderOfVariables) {
  const std::map<std::string, std::string> all = {
      {"LANGUAGE", "fr"}, {"LC_ALL", "ja_JP.UTF-8"}, {"LC_MESSAGES", "pt_BR"}, {"LANG", "en_US"}};
  EXPECT_EQ("fr", Choose(all));
  auto noLanguage = all;
  noLanguage.erase("LANGUAGE");
  EXPECT_EQ("ja", Choose(noLanguage));
  noLanguage.erase("LC_ALL");
  EXPECT_EQ("pt_BR", Choose(noLanguage));
  noLanguage.erase("LC_MESSAGES");
  EXPECT_EQ("en", Choose(noLanguage));
}

TEST(LanguageChoiceTest, WalksTheLanguageListPastMissingLocalizations) {
  EXPECT_EQ("ja", Choose({{"LANGUAGE", "de_DE:sv:ja:fr"}}));
  EXPECT_EQ("fr", Choose({{"LANGUAGE", "de::"}, {"LC_ALL", "fr_CA.UTF-8"}}));
  EXPECT_EQ("en", Choose({{"LANGUAGE", "de:sv"}, {"LANG", "it_IT.UTF-8"}}));
}

TEST(LanguageChoiceTest, SkipsCAndPosixAndEmptyValues) {
  EXPECT_EQ("ja", Choose({{"LC_ALL", "C"}, {"LC_MESSAGES", "POSIX"}, {"LANG", "ja_JP.UTF-8"}}));
  EXPECT_EQ("ja", Choose({{"LC_ALL", ""}, {"LC_MESSAGES", "C.UTF-8"}, {"LANG", "ja"}}));
  EXPECT_EQ("en", Choose({}));
  EXPECT_EQ("en", Choose({{"LANG", "ja_JP.UTF-8"}}, {}));  // the bundle has no localizations
}

TEST(LanguageChoiceTest, NeverTurnsAValueIntoAPathOutsideTheBundle) {
  std::set<std::string> asked;
  tv::cf::ChooseLanguage(
      [](const char *name) -> const char * {
        return std::string(name) == "LANGUAGE" ? "../../etc:a/b:..:ja" : nullptr;
      },
      [&](const std::string &language) {
        asked.insert(language);
        return false;
      });
  EXPECT_EQ(std::set<std::string>{"ja"}, asked);
}

}  // namespace
