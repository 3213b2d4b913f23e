// Which localization of a bundle the user reads: the first usable language of
// LANGUAGE (a colon-separated list), LC_ALL, LC_MESSAGES and LANG, in that
// order, else "en". "ja_JP.UTF-8" is tried as "ja_JP", then "ja"; "C", "POSIX"
// and empty values are skipped, and so is a language the bundle has no
// <language>.lproj folder for. A pure function, tested directly.
#pragma once

#include <functional>
#include <string>

namespace tv::cf {

// Reads an environment variable (getenv, or a table in tests); NULL when unset.
using EnvLookup = std::function<const char *(const char *name)>;
// Tells whether the bundle has a localization for a language.
using HasLocalization = std::function<bool(const std::string &language)>;

std::string ChooseLanguage(const EnvLookup &env, const HasLocalization &has);

}  // namespace tv::cf
