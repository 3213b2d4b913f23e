// The progress service: forwards to the host's receiver, if any.
#include "platform/Progress.h"

#include "platform/HostServices.h"
#include "platform/sys/ForkEmptied.h"

#include <mutex>

namespace {

std::mutex sLock;
TVProgressBeginHandler sBegin = nullptr;
TVProgressItemHandler sItem = nullptr;
void *sRefcon = nullptr;
TVForkEmptiedHandler sEmptied = nullptr;
void *sEmptiedRefcon = nullptr;

}  // namespace

void TVProgressBegin(SInt64 itemCount) {
  TVProgressBeginHandler begin;
  void *refcon;
  {
    std::lock_guard<std::mutex> guard(sLock);
    begin = sBegin;
    refcon = sRefcon;
  }
  if (begin != nullptr) begin(itemCount < 0 ? SInt64(kTVProgressUnknown) : itemCount, refcon);
}

void TVProgressItemDone(const FSRef *item) {
  TVProgressItemHandler done;
  void *refcon;
  {
    std::lock_guard<std::mutex> guard(sLock);
    done = sItem;
    refcon = sRefcon;
  }
  if (done != nullptr) done(item, refcon);
}

void TVSetProgressReceiver(TVProgressBeginHandler begin, TVProgressItemHandler itemDone, void *refcon) {
  std::lock_guard<std::mutex> guard(sLock);
  sBegin = begin;
  sItem = itemDone;
  sRefcon = begin != nullptr || itemDone != nullptr ? refcon : nullptr;
}

void TVSetForkEmptiedReceiver(TVForkEmptiedHandler handler, void *refcon) {
  std::lock_guard<std::mutex> guard(sLock);
  sEmptied = handler;
  sEmptiedRefcon = handler != nullptr ? refcon : nullptr;
}

namespace tv::sys {

void NoteForkEmptied(UInt64 bytesFreed) {
  TVForkEmptiedHandler emptied;
  void *refcon;
  {
    std::lock_guard<std::mutex> guard(sLock);
    emptied = sEmptied;
    refcon = sEmptiedRefcon;
  }
  if (emptied != nullptr) emptied(bytesFreed, refcon);
}

}  // namespace tv::sys
