// The console: the plug-in's diagnostic lines. Each line reaches standard error
// in one write, so that lines from several processes sharing the terminal or a
// log file do not interleave mid-line.
#include "platform/Console.h"

#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

std::mutex sLock;
TVConsoleSink sSink = nullptr;
void *sSinkRefcon = nullptr;

// The formatted text, or an empty string when the format cannot be applied.
std::string Format(const char *format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(size_t(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(size_t(length));
  return text;
}

void WriteLines(const std::string &text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    tv::sys::WriteAll(STDERR_FILENO, text.data() + start, end - start);
    start = end;
  }
}

}  // namespace

void TVConsolePrintf(const char *format, ...) {
  if (format == nullptr) return;
  va_list args;
  va_start(args, format);
  std::string text;
  try {
    text = Format(format, args);
  } catch (...) {
    // No memory for the line: the console has nowhere to say so.
  }
  va_end(args);
  if (text.empty()) return;

  TVConsoleSink sink;
  void *refcon;
  {
    std::lock_guard<std::mutex> guard(sLock);
    sink = sSink;
    refcon = sSinkRefcon;
  }
  if (sink != nullptr) sink(text.c_str(), refcon);
  else WriteLines(text);
}

void TVSetConsoleSink(TVConsoleSink sink, void *refcon) {
  std::lock_guard<std::mutex> guard(sLock);
  sSink = sink;
  sSinkRefcon = sink != nullptr ? refcon : nullptr;
}
