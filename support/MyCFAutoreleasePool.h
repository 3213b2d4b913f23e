// Autorelease pools for short-lived CoreFoundation objects. Pools nest as a
// stack shared by the whole process; an object handed to MyCFAutorelease
// belongs to the innermost open pool and loses that reference when the pool
// is disposed of. Only the host's calling thread uses them.
#pragma once

#include "platform/Carbon.h"

struct MyCFAutoreleasePoolRecord {
  CFMutableArrayRef objects;  // not owned: the stack owns the pool's array
};
typedef MyCFAutoreleasePoolRecord *MyCFAutoreleasePool;

// Opens a pool, which becomes the current one. The caller disposes of the
// handle with MyCFAutoreleasePoolDispose. NULL on failure.
MyCFAutoreleasePool MyCFAutoreleasePoolCreate();
// Closes the pool if it is the current one (releasing everything handed to it)
// and frees the handle; otherwise logs "illegal dispose" and changes nothing.
// NULL is ignored.
void MyCFAutoreleasePoolDispose(MyCFAutoreleasePool pool);
// Takes over one reference of obj for the current pool and returns obj. With
// no pool open obj is returned untouched. NULL gives NULL.
CFTypeRef MyCFAutorelease(CFTypeRef obj);

// Typed convenience: MyCFAutorelease(CFStringRef) gives back a CFStringRef.
template <class T> inline T MyCFAutoreleaseT(T obj) {
  return static_cast<T>(const_cast<void *>(MyCFAutorelease(obj)));
}
