// The choice of a bundle's language. See LanguageChoice.h.
#include "platform/cf/LanguageChoice.h"

#include <string_view>
#include <vector>

namespace tv::cf {
namespace {

// A language name safe to use as a folder name: letters, digits, "_" and "-".
bool IsLanguageName(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// The forms of one locale value to try, most specific first.
void AddCandidates(std::string_view value, std::vector<std::string> *out) {
  value = value.substr(0, value.find_first_of(".@"));  // drop codeset and modifier
  if (value == "C" || value == "POSIX" || !IsLanguageName(value)) return;
  out->emplace_back(value);
  const size_t region = value.find_first_of("_-");
  if (region != std::string_view::npos && region > 0) out->emplace_back(value.substr(0, region));
}

}  // namespace

std::string ChooseLanguage(const EnvLookup &env, const HasLocalization &has) {
  std::vector<std::string> candidates;
  if (const char *list = env("LANGUAGE")) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      AddCandidates(rest.substr(0, colon), &candidates);
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char *v = env(name)) AddCandidates(v, &candidates);
  }
  for (const std::string &c : candidates) {
    if (has(c)) return c;
  }
  return "en";
}

}  // namespace tv::cf
