// The object header: reference counting, equality, hashing, the live-object
// counter and failure injection for tests, and the two boolean constants.
//
// Single-threaded by contract (the host calls in on one thread), so counts
// are plain integers.
#include "platform/Console.h"
#include "platform/cf/CFInternal.h"
#include "platform/HostServices.h"
#include "platform/sys/PointerSet.h"

#include <limits>

namespace tv::cf {
namespace {

struct Registry {
  sys::PointerSet objects;  // live counted objects and constants
  CFIndex liveCount = 0;                     // counted objects only
  CFIndex overReleases = 0;                  // releases of objects no longer alive
  CFIndex failCountdown = 0;                 // 0: no failure planned
};

// Never destroyed, so that objects released during exit still find it.
Registry &TheRegistry() {
  static Registry *r = new Registry;
  return *r;
}

__CFBoolean sTrue{true};
__CFBoolean sFalse{false};

}  // namespace

bool AllocationAllowed() {
  Registry &r = TheRegistry();
  if (r.failCountdown == 0) return true;
  return --r.failCountdown != 0;
}

void Register(TVCFObject *obj) {
  Registry &r = TheRegistry();
  r.objects.insert(obj);
  ++r.liveCount;
}

void RegisterConstant(TVCFObject *obj) {
  obj->constant = true;
  TheRegistry().objects.insert(obj);
}

bool IsObject(const void *p) {
  if (p == &sTrue || p == &sFalse) return true;
  return p && TheRegistry().objects.contains(p);
}

std::u16string Describe(CFTypeRef cf) {
  if (!cf) return u"(null)";
  return Obj(cf)->Describe();
}

}  // namespace tv::cf

std::u16string TVCFObject::Describe() const { return u"<CF object>"; }

const CFBooleanRef kCFBooleanTrue = &tv::cf::sTrue;
const CFBooleanRef kCFBooleanFalse = &tv::cf::sFalse;

Boolean CFBooleanGetValue(CFBooleanRef b) {
  const __CFBoolean *o = tv::cf::As<__CFBoolean>(b, tv::cf::kBooleanTypeID);
  return o && o->value;
}

CFTypeRef CFRetain(CFTypeRef cf) {
  if (!tv::cf::IsObject(cf)) return cf;  // NULL or not alive: nothing to count
  TVCFObject *o = tv::cf::MutableObj(cf);
  if (!o->constant) ++o->retainCount;
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (!cf) return;
  if (!tv::cf::IsObject(cf)) {
    // Releasing something already freed would corrupt memory: say so, leave
    // it, and count it so that a test's live count shows the imbalance.
    TVConsolePrintf("tarrovel: CFRelease of an object that is not alive (%p)\n", cf);
    ++tv::cf::TheRegistry().overReleases;
    return;
  }
  TVCFObject *o = tv::cf::MutableObj(cf);
  if (o->constant) return;
  if (--o->retainCount > 0) return;
  tv::cf::Registry &r = tv::cf::TheRegistry();
  r.objects.erase(o);
  --r.liveCount;
  delete o;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  const TVCFObject *o = tv::cf::Obj(cf);
  if (!o) return 0;
  return o->constant ? std::numeric_limits<CFIndex>::max() : o->retainCount;
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == b) return a != nullptr;
  const TVCFObject *x = tv::cf::Obj(a), *y = tv::cf::Obj(b);
  if (!x || !y || x->typeID != y->typeID) return false;
  return x->Equal(*y);
}

CFHashCode CFHash(CFTypeRef cf) {
  const TVCFObject *o = tv::cf::Obj(cf);
  return o ? o->Hash() : 0;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const TVCFObject *o = tv::cf::Obj(cf);
  return o ? o->typeID : 0;
}

CFTypeID CFStringGetTypeID() { return tv::cf::kStringTypeID; }
CFTypeID CFArrayGetTypeID() { return tv::cf::kArrayTypeID; }
CFTypeID CFDictionaryGetTypeID() { return tv::cf::kDictionaryTypeID; }
CFTypeID CFNumberGetTypeID() { return tv::cf::kNumberTypeID; }
CFTypeID CFDataGetTypeID() { return tv::cf::kDataTypeID; }
CFTypeID CFBooleanGetTypeID() { return tv::cf::kBooleanTypeID; }
CFTypeID CFUUIDGetTypeID() { return tv::cf::kUUIDTypeID; }
CFTypeID CFBundleGetTypeID() { return tv::cf::kBundleTypeID; }
CFTypeID CFURLGetTypeID() { return tv::cf::kURLTypeID; }

// An over-release counts as one object less, so that a test comparing counts
// before and after fails on a double release as it does on a leak.
CFIndex TVCFGetLiveObjectCount() {
  return tv::cf::TheRegistry().liveCount - tv::cf::TheRegistry().overReleases;
}

void TVCFFailNthAllocation(CFIndex n) { tv::cf::TheRegistry().failCountdown = n > 0 ? n : 0; }
