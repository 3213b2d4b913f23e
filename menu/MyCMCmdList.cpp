#include "menu/MyCMCmdList.h"

#include <cstdlib>
#include <cstring>

static SInt32 sysVersion = -1;

SInt32 GetOSVersion() {
  if (sysVersion == -1) {
    if (Gestalt(gestaltSystemVersion, &sysVersion) != noErr) sysVersion = 0x1000;
  }
  return sysVersion;
}

void MyCMCmdListResetOSVersionCache() { sysVersion = -1; }

OSStatus MyCMCmdListCreate(AEDescList *hostList, MyCMCmdList *outCmdList) {
  if (outCmdList == nullptr) return paramErr;
  auto *cmdList = static_cast<MyCMCmdList>(calloc(1, sizeof(MyCMCmdListRecord)));
  if (cmdList == nullptr) {
    *outCmdList = nullptr;
    return memFullErr;
  }
  if (hostList != nullptr) {
    cmdList->list = hostList;
  } else {
    OSStatus err = AECreateList(nullptr, 0, false, &cmdList->ownList);
    if (err != noErr) {
      free(cmdList);
      *outCmdList = nullptr;
      return err;
    }
    cmdList->list = &cmdList->ownList;
  }
  *outCmdList = cmdList;
  return noErr;
}

OSStatus MyCMCmdListDispose(MyCMCmdList cmdList) {
  if (cmdList == nullptr) return noErr;
  OSStatus err = AEDisposeDesc(&cmdList->ownList);
  free(cmdList);
  return err;
}

// Builds one item record: the name, then either the command ID or the
// submenu, then the attributes when they are not 0; appends it at the end.
static OSStatus AddRecord(MyCMCmdList cmdList, CFStringRef title, SInt32 commandID,
                          const AEDescList *submenu, UInt32 attributes) {
  AEDesc item = {typeNull, nullptr};
  AEDesc name = {typeNull, nullptr};
  OSStatus err = AECreateList(nullptr, 0, true, &item);
  if (err == noErr) err = CreateNameDesc(title, &name);
  if (err == noErr) err = AEPutParamDesc(&item, keyAEName, &name);
  if (err == noErr) {
    if (submenu != nullptr) {
      err = AEPutParamDesc(&item, keyContextualMenuSubmenu, submenu);
    } else {
      err = AEPutParamPtr(&item, keyContextualMenuCommandID, typeLongInteger, &commandID, sizeof commandID);
    }
  }
  if (err == noErr && attributes != 0) {
    // Not consulted: an item without its attributes is still an item.
    (void)AEPutParamPtr(&item, keyContextualMenuAttributes, typeLongInteger, &attributes, sizeof attributes);
  }
  if (err == noErr) err = AEPutDesc(cmdList->list, 0, &item);
  AEDisposeDesc(&name);
  AEDisposeDesc(&item);
  return err;
}

OSStatus MyCMCmdListAddItem(MyCMCmdList cmdList, CFStringRef title, SInt32 commandID, UInt32 attributes) {
  if (cmdList == nullptr || title == nullptr) return paramErr;
  return AddRecord(cmdList, title, commandID, nullptr, attributes);
}

OSStatus MyCMCmdListAddSeparatorItem(MyCMCmdList cmdList) {
  return MyCMCmdListAddItem(cmdList, CFSTR("-"), 0, kMenuItemAttrSeparator);
}

OSStatus MyCMCmdListAddSubmenuItem(MyCMCmdList cmdList, CFStringRef title, MyCMCmdList submenu,
                                   UInt32 attributes) {
  if (cmdList == nullptr || title == nullptr || submenu == nullptr) return paramErr;
  return AddRecord(cmdList, title, 0, submenu->list, attributes);
}

OSStatus CreateNameDesc(CFStringRef title, AEDesc *outDesc) {
  if (outDesc == nullptr) return paramErr;
  if (title == nullptr) title = CFSTR("");
  CFIndex length = CFStringGetLength(title);
  OSStatus err = noErr;
  if (GetOSVersion() > 0x101F) {
    auto *units = static_cast<UniChar *>(calloc(size_t(length) + 1, sizeof(UniChar)));
    if (units == nullptr) return memFullErr;
    CFStringGetCharacters(title, CFRangeMake(0, length), units);
    err = AECreateDesc(typeUnicodeText, units, Size(length) * 2, outDesc);
    free(units);
    return err;
  }
  CFStringEncoding encoding = CFStringGetSystemEncoding();
  CFIndex measured = 0;
  if (length > 0) {
    CFStringGetBytes(title, CFRangeMake(0, length), encoding, '?', false, nullptr, 0, &measured);
  }
  auto *buffer = static_cast<UInt8 *>(calloc(size_t(measured) + 4, 1));
  if (buffer == nullptr) return memFullErr;
  ScriptCode script = 0;
  LangCode language = 0;
  (void)RevertTextEncodingToScriptInfo(encoding, &script, &language, nullptr);
  // The header: script and language, native byte order.
  memcpy(buffer, &script, 2);
  memcpy(buffer + 2, &language, 2);
  if (length > 0) {
    CFIndex used = 0;
    CFStringGetBytes(title, CFRangeMake(0, length), encoding, '?', false, buffer + 4, measured, &used);
  }
  err = AECreateDesc(typeIntlText, buffer, Size(measured) + 4, outDesc);
  free(buffer);
  return err;
}
