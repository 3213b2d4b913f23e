#include "selection/MyCMContext.h"

#include <cstdlib>

OSStatus MyCMContextCreateWithContext(const AEDesc *hostDesc, Boolean copy, MyCMContext *outContext) {
  if (outContext == nullptr) return paramErr;
  auto *context = static_cast<MyCMContext>(calloc(1, sizeof(MyCMContextRecord)));
  if (context == nullptr) {
    *outContext = nullptr;
    return memFullErr;
  }
  context->ownDesc = {typeNull, nullptr};
  context->desc = &context->ownDesc;
  OSStatus err = noErr;
  if (hostDesc == nullptr || hostDesc->descriptorType == typeNull) {
    // An empty selection.
  } else if (hostDesc->descriptorType == typeAEList) {
    if (copy) {
      err = AEDuplicateDesc(hostDesc, &context->ownDesc);
    } else {
      context->desc = const_cast<AEDesc *>(hostDesc);
    }
  } else {
    err = AECoerceDesc(hostDesc, typeAEList, &context->ownDesc);
  }
  if (err != noErr) {
    MyCMContextDispose(context);
    *outContext = nullptr;
    return err;
  }
  *outContext = context;
  return noErr;
}

OSStatus MyCMContextDispose(MyCMContext context) {
  if (context == nullptr) return noErr;
  if (context->iter != nullptr) MyFSDirIterDispose(context->iter);
  OSStatus err = AEDisposeDesc(&context->ownDesc);
  free(context);
  return err;
}

UInt32 MyCMContextGetItemCount(MyCMContext context) {
  long count = 0;
  if (context != nullptr && context->desc->descriptorType != typeNull) {
    (void)AECountItems(context->desc, &count);
  }
  return count > 0 ? UInt32(count) : 0;
}

AliasHandle MyCMContextExtractAliasAt(MyCMContext context, UInt32 index) {
  if (context == nullptr || context->desc->descriptorType == typeNull) return nullptr;
  AEDesc item = {typeNull, nullptr};
  AEKeyword keyword = 0;
  if (AEGetNthDesc(context->desc, long(index), typeAlias, &keyword, &item) != noErr) return nullptr;
  Size size = AEGetDescDataSize(&item);
  AliasHandle alias = NewHandle(size);
  if (alias != nullptr && AEGetDescData(&item, *alias, size) != noErr) {
    DisposeHandle(alias);
    alias = nullptr;
  }
  AEDisposeDesc(&item);
  return alias;
}

Boolean MyCMContextExtractFSRefAt(MyCMContext context, UInt32 index, FSRef *outRef) {
  AliasHandle alias = MyCMContextExtractAliasAt(context, index);
  if (alias == nullptr) return false;
  Boolean wasChanged = false;
  OSErr err = FSResolveAlias(nullptr, alias, outRef, &wasChanged);
  DisposeHandle(alias);
  return err == noErr;
}

Boolean MyCMContextContainsAlias(MyCMContext context) {
  UInt32 count = MyCMContextGetItemCount(context);
  for (UInt32 i = 1; i <= count; i++) {
    FSRef ref;
    if (MyCMContextExtractFSRefAt(context, i, &ref)) return true;
  }
  return false;
}

// Walks the resolvable items until one's node flags answer the question.
static Boolean ContainsNode(MyCMContext context, bool folder) {
  UInt32 count = MyCMContextGetItemCount(context);
  for (UInt32 i = 1; i <= count; i++) {
    FSRef ref;
    if (!MyCMContextExtractFSRefAt(context, i, &ref)) continue;
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr) != noErr) continue;
    bool isFolder = (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
    if (isFolder == folder) return true;
  }
  return false;
}

Boolean MyCMContextContainsFolder(MyCMContext context) { return ContainsNode(context, true); }

Boolean MyCMContextContainsPlainFile(MyCMContext context) { return ContainsNode(context, false); }

MyFSDirIter MyCMContextGetIterater(MyCMContext context) {
  if (context == nullptr) return nullptr;
  if (context->iter == nullptr && MyFSDirIterCreateWithContext(context, &context->iter) != noErr) {
    return nullptr;
  }
  MyFSDirIterReset(context->iter);
  return context->iter;
}
