#include "host/ZapSummary.h"

#include "host/DialogProcess.h"
#include "host/Dialogs.h"
#include "platform/cf/LanguageChoice.h"

#include <cstdio>

namespace tv::host {

SummaryLanguage SummaryLanguageFrom(const char *(*env)(const char *name)) {
  std::string chosen = tv::cf::ChooseLanguage(env, [](const std::string &l) { return l == "en" || l == "ja"; });
  return chosen == "ja" ? SummaryLanguage::kJapanese : SummaryLanguage::kEnglish;
}

std::string GroupedCount(unsigned long long n) {
  std::string digits = std::to_string(n), grouped;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string ReadableBytes(unsigned long long bytes, SummaryLanguage language) {
  if (bytes < 1000) {
    if (language == SummaryLanguage::kJapanese) return std::to_string(bytes) + " バイト";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  }
  static const char *const kUnits[] = {"kB", "MB", "GB", "TB"};
  double value = double(bytes) / 1000;
  size_t unit = 0;
  // 999,950 bytes would read "1000.0 kB": it is 1.0 MB.
  while (value >= 999.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1000;
    unit++;
  }
  char text[32];
  snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

namespace {

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", seconds < 0 ? 0.0 : seconds);
  return text;
}

// The files counted that the zap never finished with: the rest of the count,
// or -1 when the count gave up. A tree that grew since the count leaves none.
long long NotReached(const ZapTally &t) {
  if (t.filesCounted < 0) return -1;
  unsigned long long counted = static_cast<unsigned long long>(t.filesCounted);
  return counted > t.filesDone ? static_cast<long long>(counted - t.filesDone) : 0;
}

// The opening that says how the zap ended, when it did not finish.
std::string Head(const ZapTally &t, const char *canceled, const char *failed) {
  return t.end == ZapTally::kCanceled ? canceled : t.end == ZapTally::kFailed ? failed : "";
}

// What a stopped zap left: the count's rest between before and after, or
// unknown when the count gave up; nothing for a zap that finished.
std::string Left(const ZapTally &t, const char *before, const char *after, const char *unknown) {
  if (t.end == ZapTally::kFinished) return "";
  long long rest = NotReached(t);
  return rest < 0 ? unknown : before + GroupedCount(static_cast<unsigned long long>(rest)) + after;
}

std::string English(const ZapTally &t) {
  const unsigned long long without = t.filesDone - t.forksEmptied;
  return Head(t, "Canceled: ", "Stopped by an error: ") + GroupedCount(t.forksEmptied) +
         (t.forksEmptied == 1 ? " file" : " files") + " zapped, " +
         ReadableBytes(t.bytesFreed, SummaryLanguage::kEnglish) + " freed; " + GroupedCount(without) +
         (without == 1 ? " file had" : " files had") + " no fork" +
         Left(t, "; ", " not reached",
              "; the files after the stop were not reached (how many is not known: the count ran out of time)") +
         "; " + Seconds(t.seconds) + " s.";
}

std::string Japanese(const ZapTally &t) {
  const unsigned long long without = t.filesDone - t.forksEmptied;
  return Head(t, "キャンセルしました：", "エラーで停止しました：") + GroupedCount(t.forksEmptied) +
         " 個のファイルを消去、" + ReadableBytes(t.bytesFreed, SummaryLanguage::kJapanese) +
         " を解放しました。フォークのないファイル " + GroupedCount(without) + " 個" +
         Left(t, "、未処理 ", " 個", "、停止後のファイルは未処理です（数え上げが時間切れのため、数は不明）") + "。" +
         Seconds(t.seconds) + " 秒。";
}

// GVariant's text form of a string: quoted, with quotes, backslashes and
// control characters escaped, so that gdbus takes it as it is.
std::string VariantString(const std::string &s) {
  std::string quoted = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      quoted += ' ';
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

std::string ZapSummaryText(const ZapTally &tally, SummaryLanguage language) {
  ZapTally t = tally;
  if (t.forksEmptied > t.filesDone) t.filesDone = t.forksEmptied;
  return language == SummaryLanguage::kJapanese ? Japanese(t) : English(t);
}

std::vector<std::string> NotificationArguments(const std::string &body) {
  // Every argument typed, so that gdbus needs no introspection of the service.
  return {"call", "--session", "--timeout", "5", "--dest", "org.freedesktop.Notifications",
          "--object-path", "/org/freedesktop/Notifications", "--method", "org.freedesktop.Notifications.Notify",
          "'Tarrovel'", "uint32 0", "''", "'Tarrovel'", VariantString(body), "@as []", "@a{sv} {}", "int32 -1"};
}

bool NotifyDesktop(const std::string &body) {
  std::string gdbus = FindInPath("gdbus");
  if (gdbus.empty()) return false;
  std::string reply, error;
  bool interrupted = false;
  return RunChild(gdbus, NotificationArguments(body), &reply, &error, &interrupted) == 0;
}

}  // namespace tv::host
