// A second contextual-menu plug-in, unlike Tarrovel in all the host could
// know of: its titles, its command IDs and where it keeps its one setting.
// It offers "Greet..." (501) and the toggle "Show Farewell" (502) for any
// selection, and "Farewell..." (503) once the toggle has been chosen. Its
// setting and what its items did are files in $XDG_CONFIG_HOME/greeter.
#include "platform/ContextualMenu.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr SInt32 kGreet = 501, kShowFarewell = 502, kFarewell = 503;

std::string Folder() {
  const char *config = getenv("XDG_CONFIG_HOME");
  const char *home = getenv("HOME");
  std::string base = config != nullptr && config[0] == '/' ? config : std::string(home ? home : "/tmp") + "/.config";
  return base + "/greeter";
}

bool FarewellShown() { return access((Folder() + "/farewell").c_str(), F_OK) == 0; }

void Note(const std::string &file, const std::string &line) {
  mkdir(Folder().c_str(), 0755);
  if (FILE *f = fopen((Folder() + "/" + file).c_str(), "a")) {
    fputs(line.c_str(), f);
    fclose(f);
  }
}

OSStatus AddItem(AEDescList *list, const char16_t *title, SInt32 command) {
  std::u16string units(title);
  AEDesc item = {typeNull, nullptr}, name = {typeNull, nullptr};
  OSStatus err = AECreateList(nullptr, 0, true, &item);
  if (err == noErr) err = AECreateDesc(typeUnicodeText, units.data(), Size(units.size() * 2), &name);
  if (err == noErr) err = AEPutParamDesc(&item, keyAEName, &name);
  if (err == noErr) err = AEPutParamPtr(&item, keyContextualMenuCommandID, typeLongInteger, &command, sizeof command);
  if (err == noErr) err = AEPutDesc(list, 0, &item);
  AEDisposeDesc(&name);
  AEDisposeDesc(&item);
  return err;
}

struct Instance {
  const ContextualMenuInterfaceStruct *table;
  ULONG refs;
};

HRESULT QueryInterface(void *self, REFIID iid, LPVOID *ppv) {
  CFUUIDRef asked = CFUUIDCreateFromUUIDBytes(kCFAllocatorDefault, iid);
  bool ours = asked != nullptr && (CFEqual(asked, kContextualMenuInterfaceID) || CFEqual(asked, IUnknownUUID));
  if (asked != nullptr) CFRelease(asked);
  *ppv = ours ? self : nullptr;
  if (!ours) return E_NOINTERFACE;
  static_cast<Instance *>(self)->refs++;
  return S_OK;
}

ULONG AddRef(void *self) { return ++static_cast<Instance *>(self)->refs; }

ULONG Release(void *self) {
  auto *instance = static_cast<Instance *>(self);
  ULONG left = --instance->refs;
  if (left == 0) delete instance;
  return left;
}

OSStatus Examine(void *, const AEDesc *, AEDescList *commands) {
  OSStatus err = AddItem(commands, u"Greet...", kGreet);
  if (err == noErr) err = AddItem(commands, u"Show Farewell", kShowFarewell);
  if (err == noErr && FarewellShown()) err = AddItem(commands, u"Farewell...", kFarewell);
  return err;
}

OSStatus Handle(void *, AEDesc *context, SInt32 command) {
  long count = 0;
  if (AECountItems(context, &count) != noErr) return paramErr;
  switch (command) {
    case kGreet:
      Note("log", "greet " + std::to_string(count) + "\n");
      return noErr;
    case kShowFarewell:
      Note("farewell", "");
      return noErr;
    case kFarewell:
      Note("log", "farewell " + std::to_string(count) + "\n");
      return noErr;
    default:
      return paramErr;
  }
}

void Cleanup(void *) {}

const ContextualMenuInterfaceStruct kTable = {nullptr, QueryInterface, AddRef, Release, Examine, Handle, Cleanup};

}  // namespace

extern "C" __attribute__((visibility("default"))) void *GreeterFactory(CFAllocatorRef, CFUUIDRef type) {
  if (!CFEqual(type, kContextualMenuTypeID)) return nullptr;
  return new Instance{&kTable, 1};
}
