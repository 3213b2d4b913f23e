// A plug-in whose factory makes nothing, and one that makes an instance that
// refuses every interface: the host must skip both and go on.
#include "platform/ContextualMenu.h"

extern "C" __attribute__((visibility("default"))) void *NullFactory(CFAllocatorRef, CFUUIDRef) { return nullptr; }

namespace {
HRESULT Refuse(void *, REFIID, LPVOID *ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOINTERFACE;
}
ULONG Count(void *) { return 1; }
const ContextualMenuInterfaceStruct kTable = {nullptr, Refuse, Count, Count, nullptr, nullptr, nullptr};
const ContextualMenuInterfaceStruct *kInstance = &kTable;
}  // namespace

extern "C" __attribute__((visibility("default"))) void *RefusingFactory(CFAllocatorRef, CFUUIDRef) {
  return const_cast<const ContextualMenuInterfaceStruct **>(&kInstance);
}
