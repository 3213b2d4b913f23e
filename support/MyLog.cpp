#include "support/MyLog.h"

#include "support/MyCFAutoreleasePool.h"
#include "support/MyStatus.h"

#include <cstdlib>

static const char kProgramName[] = "Tarrovel";

void MyLogMessage(const char *message) { TVConsolePrintf("%s: %s\n", kProgramName, message); }

const char *MyLogPhaseName(UInt32 phase) {
  switch (phase) {
    case 1: return "Allocate";
    case 2: return "Query";
    case 3: return "ExamineContext";
    case 4: return "HandleSelection";
    case 5: return "PostMenuCleanup";
    case 6: return "Dealloc";
    default: return "Undefined";
  }
}

void MyLogError(OSStatus err, UInt32 phase) {
  if (err == noErr || err == noBeepErr) return;
  const char *phaseName = MyLogPhaseName(phase);
  if (err < 0) {
    TVConsolePrintf("%s: execution fail: error=%ld, phase is '%s'\n", kProgramName, long(err), phaseName);
  } else {
    // The code's four bytes as text; a zero byte ends the text early.
    char text[5] = {char((UInt32(err) >> 24) & 0xFF), char((UInt32(err) >> 16) & 0xFF),
                    char((UInt32(err) >> 8) & 0xFF), char(UInt32(err) & 0xFF), 0};
    TVConsolePrintf("%s: execution fail: error='%s', phase is '%s'\n", kProgramName, text, phaseName);
  }
}

void MyLogPathForFSRef(CFStringRef label, const FSRef *ref) {
  if (ref == nullptr) return;
  if (label == nullptr) label = CFSTR("");
  CFStringRef path = MyCFAutoreleaseT(CopyPathForRef(ref));
  if (path == nullptr) return;
  char *labelText = CreateUTF8CString(label);
  if (labelText == nullptr) return;
  char *pathText = CreateUTF8CString(path);
  if (pathText != nullptr) TVConsolePrintf("%s: %s: %s\n", kProgramName, labelText, pathText);
  free(pathText);
  free(labelText);
}

CFStringRef CopyPathForRef(const FSRef *ref) {
  if (ref == nullptr) return nullptr;
  CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, ref);
  if (url == nullptr) return nullptr;
  CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
  CFRelease(url);
  return path;
}

char *CreateUTF8CString(CFStringRef string) {
  if (string == nullptr) return nullptr;
  CFIndex length = CFStringGetLength(string);
  CFIndex byteCount = 0;
  CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false, nullptr, 0,
                   &byteCount);
  char *buffer = static_cast<char *>(malloc(size_t(byteCount) + 1));
  if (buffer == nullptr) return nullptr;
  CFIndex used = 0;
  if (byteCount > 0) {
    CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8 *>(buffer), byteCount, &used);
  }
  buffer[used] = 0;
  return buffer;
}
