#include "menu/MyCMXDispatch.h"

#include "menu/MyCMXMenu.h"
#include "selection/MyCMContext.h"
#include "support/MyStatus.h"
#include "zap/MyZapDriver.h"

OSStatus MyCMXHandleSelectionSelf(AEDesc *inContext, SInt32 inCommandID, MyCMXYourData *yourData) {
  MyCMContext context = nullptr;
  OSStatus err = MyCMContextCreateWithContext(inContext, true, &context);
  if (err != noErr) return err;
  MyCMXYourData fallback = {};
  MyCMXYourData *settings = yourData ? yourData : &fallback;
  Boolean keepModificationDate = settings->keepModificationDate;
  MyFSDirIter iter = MyCMContextGetIterater(context);
  if (iter == nullptr) {
    err = nilPointerErr;
  } else {
    switch (inCommandID) {
      case kCmdZapDataFork:
        err = DoZapFork(iter, true, false, keepModificationDate);
        break;
      case kCmdZapRsrcFork:
        err = DoZapFork(iter, false, false, keepModificationDate);
        break;
      case kCmdZapRsrcForkRecursively:
        err = DoZapFork(iter, false, true, keepModificationDate);
        break;
      case kCmdToggleRsrcForkRecursiveMenu:
        MyCMXToggleSetting(settings, &settings->showRsrcForkRecursiveMenu, CFSTR("ShowRsrcForkRecursiveMenu"));
        break;
      case kCmdToggleDataForkMenu:
        MyCMXToggleSetting(settings, &settings->showDataForkMenu, CFSTR("ShowDataForkMenu"));
        break;
      case kCmdToggleKeepModificationDate:
        MyCMXToggleSetting(settings, &settings->keepModificationDate, CFSTR("keepModificationDate"));
        break;
      default:
        break;  // not one of ours: nothing happens
    }
  }
  MyCMContextDispose(context);
  return err;
}
