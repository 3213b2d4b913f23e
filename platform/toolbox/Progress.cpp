// The progress service: forwards to the host's receiver, if any.
#include "platform/Progress.h"

#include "platform/HostServices.h"
#include "platform/toolbox/ForkEmptied.h"

#include <mutex>
#include <utility>

namespace {

std::mutex sLock;
TVProgressBeginHandler sBegin = nullptr;
TVProgressItemHandler sItem = nullptr;
void *sRefcon = nullptr;
TVForkEmptiedHandler sEmptied = nullptr;
void *sEmptiedRefcon = nullptr;

// A receiver and its refcon as they stand, taken under the lock and called
// outside it.
template <typename Handler>
std::pair<Handler, void *> Current(const Handler &handler, void *const &refcon) {
  std::lock_guard<std::mutex> guard(sLock);
  return {handler, refcon};
}

}  // namespace

void TVProgressBegin(SInt64 itemCount) {
  auto [begin, refcon] = Current(sBegin, sRefcon);
  if (begin != nullptr) begin(itemCount < 0 ? SInt64(kTVProgressUnknown) : itemCount, refcon);
}

void TVProgressItemDone(const FSRef *item) {
  auto [done, refcon] = Current(sItem, sRefcon);
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

namespace tv::toolbox {

void NoteForkEmptied(UInt64 bytesFreed) {
  auto [emptied, refcon] = Current(sEmptied, sEmptiedRefcon);
  if (emptied != nullptr) emptied(bytesFreed, refcon);
}

}  // namespace tv::toolbox
