// The Process Manager subset: the platform's own registry of processes that
// receive Apple events (the host registers itself as the file manager).
#pragma once

#include "AppleEvents.h"
#include "MacTypes.h"

struct ProcessSerialNumber {
  UInt32 highLongOfPSN;
  UInt32 lowLongOfPSN;
};
enum : UInt32 { kNoProcess = 0, kSystemProcess = 1, kCurrentProcess = 2 };

struct ProcessInfoRec {
  UInt32 processInfoLength;  // fields that end past this length are not written
  StringPtr processName;     // may be NULL
  ProcessSerialNumber processNumber;
  UInt32 processType;
  OSType processSignature;
  UInt32 processMode;
  Ptr processLocation;
  UInt32 processSize;
  UInt32 processFreeMem;
  ProcessSerialNumber processLauncher;
  UInt32 processLaunchDate;
  UInt32 processActiveTime;
  struct FSSpec *processAppSpec;  // must be NULL
};

// Advances *psn to the next registered process; {0, kNoProcess} starts the
// list. procNotFound after the last one.
OSErr GetNextProcess(ProcessSerialNumber *pPSN);
OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info);
