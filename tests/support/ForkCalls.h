// The File Manager calls with which the plug-in zaps a resource fork and
// clears the custom-icon flag, for tests that act on real files the same way.
#pragma once

#include "platform/Files.h"

namespace tv::test {

// Opens the resource fork for reading and writing, sets its size to 0 and
// closes it: the first failing status, or the close's.
inline OSStatus ZapResourceFork(const FSRef &ref) {
  HFSUniStr255 name;
  FSGetResourceForkName(&name);
  FSIORefNum fork = -1;
  OSStatus s = FSOpenFork(&ref, name.length, name.unicode, fsRdWrPerm, &fork);
  if (s != noErr) return s;
  s = FSSetForkSize(fork, fsFromStart, 0);
  OSStatus closed = FSCloseFork(fork);
  return s != noErr ? s : closed;
}

// Reads FinderInfo and, when the custom-icon flag is set, writes it back
// without the flag.
inline OSStatus ClearCustomIconFlag(const FSRef &ref) {
  FSCatalogInfo info{};
  OSStatus s = FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr);
  FileInfo *finder = reinterpret_cast<FileInfo *>(info.finderInfo);
  if (s != noErr || !(finder->finderFlags & kHasCustomIcon)) return s;
  finder->finderFlags &= UInt16(~kHasCustomIcon);
  return FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info);
}

}  // namespace tv::test
