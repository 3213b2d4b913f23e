// Clock, keyboard, beep, system version and script codes. The keyboard and
// the beep are backed by whatever front end the host installs.
#include "platform/Events.h"

#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"
#include "platform/sys/Published.h"
#include "platform/toolbox/SystemInfo.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tv::toolbox {

UInt32 TicksFromClock(int64_t seconds, int64_t nanoseconds, uint32_t ticksPerSecond) {
  uint64_t ticks = uint64_t(seconds) * ticksPerSecond + uint64_t(nanoseconds) * ticksPerSecond / 1000000000u;
  return UInt32(ticks);
}

uint32_t TicksPerSecond() {
  // TARROVEL_TICKS_PER_SECOND speeds the clock up for tests and benchmarks
  // that need a time limit to pass quickly; anything else keeps 60.
  static const uint32_t rate = [] {
    const char *text = getenv("TARROVEL_TICKS_PER_SECOND");
    if (text == nullptr) return 60u;
    char *end = nullptr;
    unsigned long v = strtoul(text, &end, 10);
    return (end != text && *end == 0 && v >= 1 && v <= 1000000000ul) ? uint32_t(v) : 60u;
  }();
  return rate;
}

bool ParseSystemVersion(const char *text, SInt32 *outVersion) {
  if (text == nullptr || outVersion == nullptr) return false;
  int base = 10;
  const char *digits = text;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    digits = text + 2;
  }
  if (*digits == '\0') return false;
  uint64_t value = 0;
  for (const char *p = digits; *p != '\0'; ++p) {
    int d;
    if (*p >= '0' && *p <= '9') d = *p - '0';
    else if (base == 16 && *p >= 'a' && *p <= 'f') d = *p - 'a' + 10;
    else if (base == 16 && *p >= 'A' && *p <= 'F') d = *p - 'A' + 10;
    else return false;
    value = value * uint64_t(base) + uint64_t(d);
    if (value > uint64_t(INT32_MAX)) return false;
  }
  *outVersion = SInt32(value);
  return true;
}

SInt32 ChooseSystemVersion(SInt32 override, const char *environmentText) {
  if (override >= 0) return override;
  SInt32 fromEnvironment;
  if (ParseSystemVersion(environmentText, &fromEnvironment)) return fromEnvironment;
  return kDefaultSystemVersion;
}

bool ScriptInfoForEncoding(TextEncoding encoding, ScriptCode *outScript, LangCode *outLanguage) {
  // The Japanese encodings CoreFoundation names: Mac, DOS (Windows 932),
  // Shift-JIS, EUC-JP and ISO-2022-JP.
  constexpr TextEncoding kJapanese[] = {0x0001, 0x0421, 0x0A01, 0x0920, 0x0820};
  if (encoding == kTextEncodingMacRoman) {
    *outScript = smRoman;
    *outLanguage = langEnglish;
    return true;
  }
  for (TextEncoding japanese : kJapanese) {
    if (encoding == japanese) {
      *outScript = smJapanese;
      *outLanguage = langJapanese;
      return true;
    }
  }
  return false;
}

}  // namespace tv::toolbox

namespace {

struct Hooks {
  TVTickSource tickSource = nullptr;
  void *tickRefcon = nullptr;
  TVKeyboardPoller poller = nullptr;
  void *pollerRefcon = nullptr;
  TVBeepHandler beep = nullptr;
  void *beepRefcon = nullptr;
  SInt32 systemVersion = -1;  // negative: no override
  bool gestaltFails = false;
};

// Asked at every item a walk reaches (the keyboard) and set once by a host.
tv::sys::Published<Hooks> &InstalledHooks() {
  static auto *hooks = new tv::sys::Published<Hooks>();
  return *hooks;
}

Hooks CurrentHooks() { return InstalledHooks().Get(); }

}  // namespace

UInt32 TickCount() {
  Hooks hooks = CurrentHooks();
  if (hooks.tickSource != nullptr) return hooks.tickSource(hooks.tickRefcon);
  struct timespec now {};
  if (tv::sys::ClockGettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return tv::toolbox::TicksFromClock(now.tv_sec, now.tv_nsec, tv::toolbox::TicksPerSecond());
}

void TVSetTickSource(TVTickSource source, void *refcon) {
  InstalledHooks().Update([&](Hooks &h) {
    h.tickSource = source;
    h.tickRefcon = source != nullptr ? refcon : nullptr;
  });
}

void GetKeys(KeyMap theKeys) {
  if (theKeys == nullptr) return;
  std::memset(theKeys, 0, sizeof(KeyMap));
  Hooks hooks = CurrentHooks();
  if (hooks.poller != nullptr) hooks.poller(theKeys, hooks.pollerRefcon);
}

void TVSetKeyboardPoller(TVKeyboardPoller poller, void *refcon) {
  InstalledHooks().Update([&](Hooks &h) {
    h.poller = poller;
    h.pollerRefcon = poller != nullptr ? refcon : nullptr;
  });
}

// Without a front end the bell rings only on a terminal, so that a redirected
// standard error does not collect BEL bytes.
void SysBeep(short duration) {
  Hooks hooks = CurrentHooks();
  if (hooks.beep != nullptr) {
    hooks.beep(duration, hooks.beepRefcon);
    return;
  }
  if (tv::sys::Isatty(STDERR_FILENO) == 1) tv::sys::WriteAll(STDERR_FILENO, "\a", 1);
}

void TVSetBeepHandler(TVBeepHandler handler, void *refcon) {
  InstalledHooks().Update([&](Hooks &h) {
    h.beep = handler;
    h.beepRefcon = handler != nullptr ? refcon : nullptr;
  });
}

OSErr Gestalt(OSType selector, SInt32 *response) {
  if (response == nullptr) return paramErr;
  if (selector != gestaltSystemVersion) return OSErr(gestaltUndefSelectorErr);
  Hooks hooks = CurrentHooks();
  if (hooks.gestaltFails) return OSErr(gestaltUndefSelectorErr);
  *response = tv::toolbox::ChooseSystemVersion(hooks.systemVersion, std::getenv("TARROVEL_SYSTEM_VERSION"));
  return noErr;
}

void TVSetSystemVersion(SInt32 version) {
  InstalledHooks().Update([&](Hooks &h) { h.systemVersion = version < 0 ? -1 : version; });
}

void TVSetGestaltFails(Boolean fails) {
  InstalledHooks().Update([&](Hooks &h) { h.gestaltFails = fails != 0; });
}

// Outputs are written only on success; the font name, when asked for, is
// empty because no font is tied to a script here.
OSStatus RevertTextEncodingToScriptInfo(TextEncoding iEncoding, ScriptCode *oScript,
                                        LangCode *oLanguage, Str255 oFontName) {
  ScriptCode script;
  LangCode language;
  if (!tv::toolbox::ScriptInfoForEncoding(iEncoding, &script, &language)) return kTextUnsupportedEncodingErr;
  if (oScript != nullptr) *oScript = script;
  if (oLanguage != nullptr) *oLanguage = language;
  if (oFontName != nullptr) oFontName[0] = 0;
  return noErr;
}
