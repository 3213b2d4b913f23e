#include "support/MyBundle.h"

#include "support/MyCFAutoreleasePool.h"

static CFBundleRef myCFBundleRef = nullptr;

CFBundleRef GetMyBundle(CFStringRef bundleIdentifier) {
  if (myCFBundleRef == nullptr) myCFBundleRef = CFBundleGetBundleWithIdentifier(bundleIdentifier);
  return myCFBundleRef;
}

CFStringRef MyCopyLocalizedAutoreleased(CFStringRef key) {
  CFBundleRef bundle = GetMyBundle(kMyBundleIdentifier);
  return MyCFAutoreleaseT(CFBundleCopyLocalizedString(bundle, key, key, nullptr));
}
