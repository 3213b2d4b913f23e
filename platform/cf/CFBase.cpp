// The object header: reference counting, equality, hashing, the live-object
// counter and failure injection for tests, and the two boolean constants.
//
// Single-threaded by contract (the host calls in on one thread), so counts
// are plain integers.
#include "platform/Console.h"
#include "platform/cf/CFInternal.h"
#include "platform/HostServices.h"

#include <limits>
#include <unordered_set>

namespace tvcf {
namespace {

struct Registry {
  std::unordered_set<const void *> objects;  // live counted objects and constants
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
  return p && TheRegistry().objects.count(p) != 0;
}

std::u16string Describe(CFTypeRef cf) {
  if (!cf) return u"(null)";
  return Obj(cf)->Describe();
}

}  // namespace tvcf

std::u16string TVCFObject::Describe() const { return u"<CF object>"; }

const CFBooleanRef kCFBooleanTrue = &tvcf::sTrue;
const CFBooleanRef kCFBooleanFalse = &tvcf::sFalse;

Boolean CFBooleanGetValue(CFBooleanRef b) {
  const __CFBoolean *o = tvcf::As<__CFBoolean>(b, tvcf::kBooleanTypeID);
  return o && o->value;
}

CFTypeRef CFRetain(CFTypeRef cf) {
  if (!tvcf::IsObject(cf)) return cf;  // NULL or not alive: nothing to count
  TVCFObject *o = tvcf::MutableObj(cf);
  if (!o->constant) ++o->retainCount;
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (!cf) return;
  if (!tvcf::IsObject(cf)) {
    // Releasing something already freed would corrupt memory: say so, leave
    // it, and count it so that a test's live count shows the imbalance.
    TVConsolePrintf("tarrovel: CFRelease of an object that is not alive (%p)\n", cf);
    ++tvcf::TheRegistry().overReleases;
    return;
  }
  TVCFObject *o = tvcf::MutableObj(cf);
  if (o->constant) return;
  if (--o->retainCount > 0) return;
  tvcf::Registry &r = tvcf::TheRegistry();
  r.objects.erase(o);
  --r.liveCount;
  delete o;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  const TVCFObject *o = tvcf::Obj(cf);
  if (!o) return 0;
  return o->constant ? std::numeric_limits<CFIndex>::max() : o->retainCount;
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == b) return a != nullptr;
  const TVCFObject *x = tvcf::Obj(a), *y = tvcf::Obj(b);
  if (!x || !y || x->typeID != y->typeID) return false;
  return x->Equal(*y);
}

CFHashCode CFHash(CFTypeRef cf) {
  const TVCFObject *o = tvcf::Obj(cf);
  return o ? o->Hash() : 0;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const TVCFObject *o = tvcf::Obj(cf);
  return o ? o->typeID : 0;
}

CFTypeID CFStringGetTypeID() { return tvcf::kStringTypeID; }
CFTypeID CFArrayGetTypeID() { return tvcf::kArrayTypeID; }
CFTypeID CFDictionaryGetTypeID() { return tvcf::kDictionaryTypeID; }
CFTypeID CFNumberGetTypeID() { return tvcf::kNumberTypeID; }
CFTypeID CFDataGetTypeID() { return tvcf::kDataTypeID; }
CFTypeID CFBooleanGetTypeID() { return tvcf::kBooleanTypeID; }
CFTypeID CFUUIDGetTypeID() { return tvcf::kUUIDTypeID; }
CFTypeID CFBundleGetTypeID() { return tvcf::kBundleTypeID; }
CFTypeID CFURLGetTypeID() { return tvcf::kURLTypeID; }

// An over-release counts as one object less, so that a test comparing counts
// before and after fails on a double release as it does on a leak.
CFIndex TVCFGetLiveObjectCount() {
  return tvcf::TheRegistry().liveCount - tvcf::TheRegistry().overReleases;
}

void TVCFFailNthAllocation(CFIndex n) { tvcf::TheRegistry().failCountdown = n > 0 ? n : 0; }
