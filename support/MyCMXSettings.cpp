// The three settings, kept in the user's preferences under the bundle
// identifier and in a small record owned by the instance.
#include "support/MyCMXSettings.h"

#include "support/MyBundle.h"

#include <cstdlib>

MyCMXYourData *MyCMXCreateYourData() {
  return static_cast<MyCMXYourData *>(calloc(1, sizeof(MyCMXYourData)));
}

void MyCMXDisposeYourData(MyCMXYourData *data) { free(data); }

// A key that is missing or not a boolean leaves the field as it was.
static void LoadBool(CFStringRef key, Boolean *field) {
  Boolean valid = false;
  Boolean value = CFPreferencesGetAppBooleanValue(key, kMyBundleIdentifier, &valid);
  if (valid) *field = value ? 1 : 0;
}

OSStatus MyCMXQueryInterfaceSelf(MyCMXYourData *data) {
  // The factory fails when the record cannot be made, so data is never NULL
  // here; stay safe all the same.
  if (data == nullptr) return noErr;
  LoadBool(CFSTR("ShowDataForkMenu"), &data->showDataForkMenu);
  LoadBool(CFSTR("ShowRsrcForkRecursiveMenu"), &data->showRsrcForkRecursiveMenu);
  LoadBool(CFSTR("keepModificationDate"), &data->keepModificationDate);
  return noErr;
}

void MyPreferencesSetBoolValue(CFStringRef key, Boolean value, CFStringRef applicationID) {
  CFPreferencesSetAppValue(key, value ? kCFBooleanTrue : kCFBooleanFalse, applicationID);
}

void MyCMXToggleSetting(MyCMXYourData *data, Boolean *field, CFStringRef key) {
  if (data == nullptr || field == nullptr) return;
  *field = (*field == 0) ? 1 : 0;
  MyPreferencesSetBoolValue(key, *field, kMyBundleIdentifier);
}
