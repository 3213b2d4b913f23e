#include "menu/MyCMXMenu.h"

#include "menu/MyCMCmdList.h"
#include "selection/MyCMContext.h"
#include "support/MyBundle.h"
#include "support/MyStatus.h"

// One command item titled by the localization of key.
static OSStatus AddCommand(MyCMCmdList list, CFStringRef key, SInt32 commandID) {
  CFStringRef title = MyCopyLocalizedAutoreleased(key);
  if (title == nullptr) return nilPointerErr;
  return MyCMCmdListAddItem(list, title, commandID, 0);
}

OSStatus MyCMXExamineContextSelf(const AEDesc *inContext, AEDescList *outCommandPairs,
                                 MyCMXYourData *yourData) {
  MyCMContext context = nullptr;
  OSStatus err = MyCMContextCreateWithContext(inContext, false, &context);
  if (err != noErr) return err;
  if (!MyCMContextContainsAlias(context)) {
    MyCMContextDispose(context);
    return noErr;
  }
  const MyCMXYourData settings = yourData ? *yourData : MyCMXYourData{};
  Boolean hasFile = MyCMContextContainsPlainFile(context);
  Boolean hasFolder = MyCMContextContainsFolder(context);
  (void)GetMyBundle(kMyBundleIdentifier);

  MyCMCmdList submenu = nullptr;
  MyCMCmdList hostList = nullptr;
  err = MyCMCmdListCreate(nullptr, &submenu);
  bool anyZap = false;
  if (err == noErr && hasFile) {
    err = AddCommand(submenu, CFSTR("Zap Resource Fork..."), kCmdZapRsrcFork);
    anyZap = true;
  }
  if (err == noErr && settings.showRsrcForkRecursiveMenu && hasFolder) {
    err = AddCommand(submenu, CFSTR("Zap Resource Fork Recursively..."), kCmdZapRsrcForkRecursively);
    anyZap = true;
  }
  if (err == noErr && hasFile && settings.showDataForkMenu) {
    err = AddCommand(submenu, CFSTR("Zap Data Fork..."), kCmdZapDataFork);
    anyZap = true;
  }
  if (err == noErr && anyZap) (void)MyCMCmdListAddSeparatorItem(submenu);
  if (err == noErr) {
    err = AddCommand(submenu,
                     settings.showRsrcForkRecursiveMenu ? CFSTR("Hide Zap Resource Fork Recursively Menu")
                                                        : CFSTR("Show Zap Resource Fork Recursively Menu"),
                     kCmdToggleRsrcForkRecursiveMenu);
  }
  if (err == noErr) {
    err = AddCommand(submenu,
                     settings.showDataForkMenu ? CFSTR("Hide Zap Data Fork Menu") : CFSTR("Show Zap Data Fork Menu"),
                     kCmdToggleDataForkMenu);
  }
  if (err == noErr) {
    err = AddCommand(submenu,
                     settings.keepModificationDate ? CFSTR("Make change file modification date")
                                                   : CFSTR("Make no change file modification date"),
                     kCmdToggleKeepModificationDate);
  }
  if (err == noErr) err = MyCMCmdListCreate(outCommandPairs, &hostList);
  if (err == noErr) {
    // The only step that touches the host's list, and the last one.
    CFStringRef title = MyCopyLocalizedAutoreleased(CFSTR("Tarrovel"));
    err = MyCMCmdListAddSubmenuItem(hostList, title, submenu, 0);
  }
  MyCMCmdListDispose(submenu);
  MyCMCmdListDispose(hostList);
  MyCMContextDispose(context);
  return err;
}
