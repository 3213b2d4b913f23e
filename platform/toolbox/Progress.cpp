// The progress service: forwards to the host's receiver, if any.
#include "platform/Progress.h"

#include "platform/HostServices.h"
#include "platform/sys/Published.h"
#include "platform/toolbox/ForkEmptied.h"

namespace {

// The host's receivers, set once and asked at every item a walk reaches.
struct Receivers {
  TVProgressBeginHandler begin = nullptr;
  TVProgressItemHandler item = nullptr;
  void *refcon = nullptr;
  TVForkEmptiedHandler emptied = nullptr;
  void *emptiedRefcon = nullptr;
};

tv::sys::Published<Receivers> &Installed() {
  static auto *receivers = new tv::sys::Published<Receivers>();
  return *receivers;
}

}  // namespace

void TVProgressBegin(SInt64 itemCount) {
  const Receivers r = Installed().Get();
  if (r.begin != nullptr) r.begin(itemCount < 0 ? SInt64(kTVProgressUnknown) : itemCount, r.refcon);
}

void TVProgressItemDone(const FSRef *item) {
  const Receivers r = Installed().Get();
  if (r.item != nullptr) r.item(item, r.refcon);
}

void TVSetProgressReceiver(TVProgressBeginHandler begin, TVProgressItemHandler itemDone, void *refcon) {
  Installed().Update([&](Receivers &r) {
    r.begin = begin;
    r.item = itemDone;
    r.refcon = begin != nullptr || itemDone != nullptr ? refcon : nullptr;
  });
}

void TVSetForkEmptiedReceiver(TVForkEmptiedHandler handler, void *refcon) {
  Installed().Update([&](Receivers &r) {
    r.emptied = handler;
    r.emptiedRefcon = handler != nullptr ? refcon : nullptr;
  });
}

namespace tv::toolbox {

void NoteForkEmptied(UInt64 bytesFreed) {
  const Receivers r = Installed().Get();
  if (r.emptied != nullptr) r.emptied(bytesFreed, r.emptiedRefcon);
}

}  // namespace tv::toolbox
