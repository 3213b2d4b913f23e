// What a zap did, said once it ends: the files whose fork it emptied, those
// it looked at that had none, the bytes the stores freed, the files it did not
// reach when it stopped early, and the time it took. One line on standard
// error, and with --gui a desktop notification. The wording is pure.
#pragma once

#include <string>
#include <vector>

namespace tv::host {

enum class SummaryLanguage { kEnglish, kJapanese };

struct ZapTally {
  unsigned long long filesDone = 0;     // files the zap finished with, fork or not
  unsigned long long forksEmptied = 0;  // of those, the ones whose fork it emptied
  unsigned long long bytesFreed = 0;    // as the stores freed them
  long long filesCounted = -1;          // what the count found; -1 when it gave up
  enum End { kFinished, kCanceled, kFailed } end = kFinished;
  double seconds = 0;
};

// Pure: the language of the user's locale (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG), as env reads it: Japanese or English.
SummaryLanguage SummaryLanguageFrom(const char *(*env)(const char *name));
// Pure: 1,234,567 (both languages group by three with commas).
std::string GroupedCount(unsigned long long n);
// Pure: sizes as file managers show them: bytes below 1 kB, then kB, MB, GB
// and TB of 1,000, with one decimal.
std::string ReadableBytes(unsigned long long bytes, SummaryLanguage language);
// Pure: the summary, one sentence without a program name.
std::string ZapSummaryText(const ZapTally &tally, SummaryLanguage language);

// Pure: the arguments of `gdbus` that post a notification titled "Tarrovel"
// with body as its text, through the freedesktop notification service.
std::vector<std::string> NotificationArguments(const std::string &body);
// Posts it, when gdbus is there and a session bus answers; false otherwise.
bool NotifyDesktop(const std::string &body);

}  // namespace tv::host
