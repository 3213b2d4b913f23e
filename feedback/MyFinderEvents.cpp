#include "feedback/MyFinderEvents.h"

OSStatus FindAProcess(OSType processType, OSType creator, ProcessSerialNumber *psn) {
  if (psn == nullptr) return paramErr;
  psn->highLongOfPSN = 0;
  psn->lowLongOfPSN = kNoProcess;
  ProcessInfoRec info = {};
  info.processInfoLength = 60;  // the record's length on the systems this layout comes from
  info.processName = nullptr;
  info.processAppSpec = nullptr;
  OSStatus err = noErr;
  for (;;) {
    err = GetNextProcess(psn);
    if (err == noErr) {
      info.processType = 0;
      info.processSignature = 0;
      (void)GetProcessInformation(psn, &info);  // an unreadable process is passed over
      if (info.processSignature == creator && info.processType == processType) break;
    } else {
      break;
    }
  }
  return err;
}

OSStatus GetFinderProcessSerialNumber(ProcessSerialNumber *psn) {
  return FindAProcess(FOUR_CHAR_CODE("FNDR"), FOUR_CHAR_CODE("MACS"), psn);
}

OSStatus MakeAppleEvent(AEEventClass eventClass, AEEventID eventID, AppleEvent *outEvent) {
  if (outEvent == nullptr) return paramErr;
  AEAddressDesc target = {typeNull, nullptr};
  ProcessSerialNumber psn;
  OSStatus err = GetFinderProcessSerialNumber(&psn);
  if (err == noErr) err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err == noErr) {
    err = AECreateAppleEvent(eventClass, eventID, &target, kAutoGenerateReturnID, kAnyTransactionID, outEvent);
  }
  AEDisposeDesc(&target);
  return err;
}

OSStatus SendAppleEvent(const AppleEvent *event, AESendMode mode) {
  if (event == nullptr) return paramErr;
  AppleEvent reply = {typeNull, nullptr};
  OSStatus err = AESend(event, &reply, mode | kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
  AEDisposeDesc(&reply);
  return err;
}

OSStatus SendAEToFinderForAEList(AEEventClass eventClass, AEEventID eventID, const AEDescList *list,
                                 AESendMode mode) {
  if (list == nullptr) return paramErr;
  AppleEvent event = {typeNull, nullptr};
  OSStatus err = MakeAppleEvent(eventClass, eventID, &event);
  if (err == noErr) err = AEPutParamDesc(&event, keyDirectObject, list);
  if (err == noErr) err = SendAppleEvent(&event, mode);
  AEDisposeDesc(&event);
  return err;
}

OSStatus MakeAliasDesc(AliasHandle alias, AEDesc *outDesc) {
  if (alias == nullptr || outDesc == nullptr) return paramErr;
  outDesc->descriptorType = typeNull;
  outDesc->dataHandle = nullptr;
  return AECreateDesc(typeAlias, *alias, GetHandleSize(alias), outDesc);
}

OSStatus SendAEToFinderForRef(AEEventClass eventClass, AEEventID eventID, const FSRef *ref, AESendMode mode) {
  if (ref == nullptr) return paramErr;
  AliasHandle alias = nullptr;
  OSStatus err = FSNewAlias(nullptr, ref, &alias);
  if (err == noErr && alias == nullptr) return paramErr;
  if (err == noErr) {
    AEDesc aliasDesc = {typeNull, nullptr};
    AEDescList list = {typeNull, nullptr};
    err = MakeAliasDesc(alias, &aliasDesc);
    if (err == noErr) err = AECreateList(nullptr, 0, false, &list);
    if (err == noErr) err = AEPutDesc(&list, 0, &aliasDesc);
    if (err == noErr) err = SendAEToFinderForAEList(eventClass, eventID, &list, mode);
    AEDisposeDesc(&list);
    AEDisposeDesc(&aliasDesc);
  }
  if (alias != nullptr) DisposeHandle(alias);
  return err;
}

OSStatus SendAESyncToFinder(const FSRef *ref) {
  return SendAEToFinderForRef(kAEFinderSuite, kAESync, ref, kAENoReply);
}
