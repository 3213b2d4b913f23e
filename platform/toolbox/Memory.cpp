// Handles: a master pointer and a size in one block, so that a Handle is the
// address of the master pointer as Carbon code expects (*h is the data).
//
// Every handle given out is registered, so that a handle that is not one of
// ours (or one already disposed of) is refused with nilHandleErr instead of
// corrupting the heap.
#include "platform/HostServices.h"
#include "platform/MacMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace {

struct HandleBlock {
  char *data;  // first: a Handle is the address of this member
  Size size;
};

std::mutex sLock;
std::unordered_set<HandleBlock *> sLive;
CFIndex sFailCountdown = 0;  // the allocation that brings it to 0 fails
thread_local OSErr sMemError = noErr;

HandleBlock *BlockOf(Handle h) { return reinterpret_cast<HandleBlock *>(h); }

// Looks h up among the live handles; the caller holds sLock.
bool IsLive(Handle h) { return h != nullptr && sLive.count(BlockOf(h)) != 0; }

// Consumes one step of the injected failure countdown; the caller holds sLock.
bool InjectedFailure() {
  if (sFailCountdown <= 0) return false;
  return --sFailCountdown == 0;
}

Handle Allocate(Size byteCount) {
  if (byteCount < 0) {
    sMemError = paramErr;
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(sLock);
  if (InjectedFailure()) {
    sMemError = memFullErr;
    return nullptr;
  }
  // At least one byte, so that *h is never NULL, even for an empty handle.
  auto *block = static_cast<HandleBlock *>(std::malloc(sizeof(HandleBlock)));
  char *data = static_cast<char *>(std::calloc(size_t(byteCount > 0 ? byteCount : 1), 1));
  if (block == nullptr || data == nullptr) {
    std::free(data);
    std::free(block);
    sMemError = memFullErr;
    return nullptr;
  }
  block->data = data;
  block->size = byteCount;
  try {
    sLive.insert(block);
  } catch (...) {
    std::free(data);
    std::free(block);
    sMemError = memFullErr;
    return nullptr;
  }
  sMemError = noErr;
  return &block->data;
}

}  // namespace

// Carbon leaves a new handle's content undefined; here it is always zero.
Handle NewHandle(Size byteCount) { return Allocate(byteCount); }

Handle NewHandleClear(Size byteCount) { return Allocate(byteCount); }

void DisposeHandle(Handle h) {
  if (h == nullptr) {
    sMemError = noErr;
    return;
  }
  std::lock_guard<std::mutex> guard(sLock);
  if (!IsLive(h)) {
    sMemError = nilHandleErr;
    return;
  }
  HandleBlock *block = BlockOf(h);
  sLive.erase(block);
  std::free(block->data);
  std::free(block);
  sMemError = noErr;
}

Size GetHandleSize(Handle h) {
  std::lock_guard<std::mutex> guard(sLock);
  if (!IsLive(h)) {
    sMemError = nilHandleErr;
    return 0;
  }
  sMemError = noErr;
  return BlockOf(h)->size;
}

// Keeps the content up to the smaller size; new bytes are zero. On failure the
// handle is unchanged.
void SetHandleSize(Handle h, Size newSize) {
  std::lock_guard<std::mutex> guard(sLock);
  if (!IsLive(h)) {
    sMemError = nilHandleErr;
    return;
  }
  if (newSize < 0) {
    sMemError = paramErr;
    return;
  }
  HandleBlock *block = BlockOf(h);
  char *data = static_cast<char *>(std::realloc(block->data, size_t(newSize > 0 ? newSize : 1)));
  if (data == nullptr) {
    sMemError = memFullErr;
    return;
  }
  if (newSize > block->size) std::memset(data + block->size, 0, size_t(newSize - block->size));
  block->data = data;
  block->size = newSize;
  sMemError = noErr;
}

OSErr MemError() { return sMemError; }

CFIndex TVGetLiveHandleCount() {
  std::lock_guard<std::mutex> guard(sLock);
  return CFIndex(sLive.size());
}

void TVFailNthHandleAllocation(CFIndex n) {
  std::lock_guard<std::mutex> guard(sLock);
  sFailCountdown = n > 0 ? n : 0;
}
