// The Process Manager: the platform's own registry of the processes that take
// Apple events, in registration order. The host registers itself as the file
// manager; the plug-in finds it by walking the list.
//
// Serial numbers are never reused while the library is loaded, so a stale one
// is simply not found.
#include "platform/Processes.h"

#include "platform/Events.h"
#include "platform/HostServices.h"
#include "platform/ae/AEStorage.h"
#include "platform/ae/ProcessRegistry.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Process {
  ProcessSerialNumber psn;
  OSType type;
  OSType creator;
  std::string name;
  TVAppleEventHandler handler;
  void *refcon;
  UInt32 launchTicks;
};

std::mutex sLock;
std::vector<Process> sProcesses;
// Past kNoProcess, kSystemProcess and kCurrentProcess.
UInt32 sNextSerial = 0x100;

bool SamePSN(const ProcessSerialNumber &a, const ProcessSerialNumber &b) {
  return a.highLongOfPSN == b.highLongOfPSN && a.lowLongOfPSN == b.lowLongOfPSN;
}

// The registered process psn names; the caller holds sLock.
std::vector<Process>::iterator Find(const ProcessSerialNumber &psn) {
  return std::find_if(sProcesses.begin(), sProcesses.end(),
                      [&](const Process &p) { return SamePSN(p.psn, psn); });
}

// Whether a field of a ProcessInfoRec ends within the length the caller
// declared (a caller laid out for 32-bit systems passes 60).
template <class T> bool FieldFits(const ProcessInfoRec *info, size_t length, T ProcessInfoRec::*field) {
  const char *base = reinterpret_cast<const char *>(info);
  return size_t(reinterpret_cast<const char *>(&(info->*field)) - base) + sizeof(T) <= length;
}

template <class T>
void PutField(ProcessInfoRec *info, size_t length, T ProcessInfoRec::*field, const T &value) {
  if (FieldFits(info, length, field)) info->*field = value;
}

}  // namespace

namespace tv::ae {

bool FindProcessHandler(const ProcessSerialNumber &psn, TVAppleEventHandler *outHandler, void **outRefcon) {
  std::lock_guard<std::mutex> guard(sLock);
  auto it = Find(psn);
  if (it == sProcesses.end()) return false;
  *outHandler = it->handler;
  *outRefcon = it->refcon;
  return true;
}

}  // namespace tv::ae

OSErr TVRegisterProcess(OSType type, OSType creator, const char *name, TVAppleEventHandler handler,
                        void *refcon, ProcessSerialNumber *outPSN) {
  if (outPSN == nullptr) return paramErr;
  UInt32 now = TickCount();
  return tv::ae::Guarded([&]() -> OSErr {
    std::lock_guard<std::mutex> guard(sLock);
    Process p{{0, sNextSerial}, type, creator, name != nullptr ? name : "", handler, refcon, now};
    sProcesses.push_back(std::move(p));
    ++sNextSerial;
    *outPSN = sProcesses.back().psn;
    return noErr;
  });
}

OSErr TVUnregisterProcess(const ProcessSerialNumber *psn) {
  if (psn == nullptr) return paramErr;
  std::lock_guard<std::mutex> guard(sLock);
  auto it = Find(*psn);
  if (it == sProcesses.end()) return procNotFound;
  sProcesses.erase(it);
  return noErr;
}

// *pPSN is left as it was when there is no next process.
OSErr GetNextProcess(ProcessSerialNumber *pPSN) {
  if (pPSN == nullptr) return paramErr;
  std::lock_guard<std::mutex> guard(sLock);
  std::vector<Process>::iterator next;
  if (SamePSN(*pPSN, ProcessSerialNumber{0, kNoProcess})) {
    next = sProcesses.begin();
  } else {
    next = Find(*pPSN);
    if (next != sProcesses.end()) ++next;
  }
  if (next == sProcesses.end()) return procNotFound;
  *pPSN = next->psn;
  return noErr;
}

// Only the fields that end within info->processInfoLength are read or
// written. processName, when given, must hold 32 bytes: the name is stored as
// a Pascal string of at most 31 characters. There is no application file to
// describe, so processAppSpec must be NULL (or lie beyond the length).
OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info) {
  if (PSN == nullptr || info == nullptr) return paramErr;
  size_t length = std::min<size_t>(info->processInfoLength, sizeof(ProcessInfoRec));
  if (FieldFits(info, length, &ProcessInfoRec::processAppSpec) && info->processAppSpec != nullptr) return paramErr;

  std::lock_guard<std::mutex> guard(sLock);
  auto it = Find(*PSN);
  if (it == sProcesses.end()) return procNotFound;
  const Process &p = *it;

  if (FieldFits(info, length, &ProcessInfoRec::processName) && info->processName != nullptr) {
    size_t n = std::min<size_t>(p.name.size(), 31);
    info->processName[0] = UInt8(n);
    std::memcpy(info->processName + 1, p.name.data(), n);
  }
  PutField(info, length, &ProcessInfoRec::processNumber, p.psn);
  PutField(info, length, &ProcessInfoRec::processType, UInt32(p.type));
  PutField(info, length, &ProcessInfoRec::processSignature, p.creator);
  PutField(info, length, &ProcessInfoRec::processMode, UInt32(0));
  PutField(info, length, &ProcessInfoRec::processLocation, Ptr(nullptr));
  PutField(info, length, &ProcessInfoRec::processSize, UInt32(0));
  PutField(info, length, &ProcessInfoRec::processFreeMem, UInt32(0));
  PutField(info, length, &ProcessInfoRec::processLauncher, ProcessSerialNumber{0, kNoProcess});
  PutField(info, length, &ProcessInfoRec::processLaunchDate, p.launchTicks);
  PutField(info, length, &ProcessInfoRec::processActiveTime, UInt32(0));
  return noErr;
}
