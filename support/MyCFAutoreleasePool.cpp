#include "support/MyCFAutoreleasePool.h"

#include "support/MyLog.h"

#include <cstdlib>

// The stack of pools: each element is one pool's object array. Made on first
// use and never freed.
static CFMutableArrayRef sPools = nullptr;

static CFMutableArrayRef GetPools() {
  if (sPools == nullptr) {
    sPools = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    if (sPools == nullptr) MyLogMessage("MyCFAutoreleasePool GetPools() cannot alloc data\n");
  }
  return sPools;
}

static CFMutableArrayRef GetCurrentPool() {
  CFMutableArrayRef pools = GetPools();
  if (pools == nullptr) return nullptr;
  CFIndex count = CFArrayGetCount(pools);
  if (count > 0) {
    return static_cast<CFMutableArrayRef>(const_cast<void *>(CFArrayGetValueAtIndex(pools, count - 1)));
  }
  MyLogMessage("MyCFAutoreleasePool GetCurrentPool: no pool\n");
  return nullptr;
}

static void RemoveCurrentPool() {
  CFMutableArrayRef pools = GetPools();
  if (pools == nullptr) return;
  CFIndex count = CFArrayGetCount(pools);
  if (count > 0) {
    CFArrayRemoveValueAtIndex(pools, count - 1);
  } else {
    MyLogMessage("MyCFAutoreleasePool RemoveCurrentPool: no pool\n");
  }
}

MyCFAutoreleasePool MyCFAutoreleasePoolCreate() {
  CFMutableArrayRef pools = GetPools();
  if (pools == nullptr) return nullptr;
  auto *pool = static_cast<MyCFAutoreleasePool>(calloc(1, sizeof(MyCFAutoreleasePoolRecord)));
  if (pool == nullptr) return nullptr;
  pool->objects = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
  if (pool->objects == nullptr) {
    MyLogMessage("MyCFAutoreleasePoolCreate: cannot alloc data\n");
    free(pool);
    return nullptr;
  }
  // The stack now holds the only reference to the pool's array.
  CFArrayAppendValue(pools, pool->objects);
  CFRelease(pool->objects);
  return pool;
}

void MyCFAutoreleasePoolDispose(MyCFAutoreleasePool pool) {
  if (pool == nullptr) return;
  CFMutableArrayRef current = GetCurrentPool();
  if (pool->objects == nullptr || pool->objects != current) {
    MyLogMessage("MyCFAutoreleasePoolDispose: illegal dispose\n");
    return;
  }
  RemoveCurrentPool();
  free(pool);
}

CFTypeRef MyCFAutorelease(CFTypeRef obj) {
  if (obj == nullptr) return nullptr;
  CFMutableArrayRef current = GetCurrentPool();
  if (current != nullptr) {
    CFArrayAppendValue(current, obj);
    CFRelease(obj);
  }
  return obj;
}
