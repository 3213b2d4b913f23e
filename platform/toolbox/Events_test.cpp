#include "platform/Events.h"
#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"
#include "platform/toolbox/SystemInfo.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Written {
  int fd;
  std::string bytes;
};
std::vector<Written> sWritten;
int sIsTty = 0;
clockid_t sClockAsked = -1;

ssize_t RecordWrite(int fd, const void *buf, size_t count) {
  sWritten.push_back({fd, std::string(static_cast<const char *>(buf), count)});
  return ssize_t(count);
}
int FakeIsatty(int) { return sIsTty; }
int FakeClock(clockid_t clock, struct timespec *ts) {
  sClockAsked = clock;
  ts->tv_sec = 10;
  ts->tv_nsec = 500000000;
  return 0;
}

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sWritten.clear();
    const char *v = std::getenv("TARROVEL_SYSTEM_VERSION");
    hadEnv_ = v != nullptr;
    if (hadEnv_) savedEnv_ = v;
    unsetenv("TARROVEL_SYSTEM_VERSION");
  }
  void TearDown() override {
    tv::sys::ClearSubstitutes();
    TVSetTickSource(nullptr, nullptr);
    TVSetKeyboardPoller(nullptr, nullptr);
    TVSetBeepHandler(nullptr, nullptr);
    TVSetSystemVersion(-1);
    TVSetGestaltFails(false);
    if (hadEnv_) setenv("TARROVEL_SYSTEM_VERSION", savedEnv_.c_str(), 1);
    else unsetenv("TARROVEL_SYSTEM_VERSION");
  }
  bool hadEnv_ = false;
  std::string savedEnv_;
};

TEST(TicksFromClockTest, CountsSixtiethsAndWraps) {
  EXPECT_EQ(0u, tv::toolbox::TicksFromClock(0, 0));
  EXPECT_EQ(60u, tv::toolbox::TicksFromClock(1, 0));
  EXPECT_EQ(0u, tv::toolbox::TicksFromClock(0, 16666666));
  EXPECT_EQ(1u, tv::toolbox::TicksFromClock(0, 16666667));
  EXPECT_EQ(119u, tv::toolbox::TicksFromClock(1, 999999999));
  // 71582789 s is 4294967340 ticks: 44 past the 32-bit wrap.
  EXPECT_EQ(44u, tv::toolbox::TicksFromClock(71582789, 0));
  EXPECT_EQ(6000u, tv::toolbox::TicksFromClock(1, 0, 6000));
  EXPECT_EQ(3000u, tv::toolbox::TicksFromClock(0, 500000000, 6000));
}

TEST_F(EventsTest, TickCountReadsTheMonotonicClock) {
  tv::sys::SubstituteCall(&tv::sys::CallTable::clockgettime, FakeClock);
  EXPECT_EQ(630u, TickCount());
  EXPECT_EQ(CLOCK_MONOTONIC, sClockAsked);
  tv::sys::ClearSubstitutes();
  UInt32 a = TickCount();
  usleep(50 * 1000);
  UInt32 b = TickCount();
  EXPECT_GE(UInt32(b - a), 2u) << "50 ms is three ticks";
  EXPECT_LE(UInt32(b - a), 60u);
}

TEST_F(EventsTest, TickSourceReplacesTheClockUntilCleared) {
  static UInt32 now = 1000;
  TVSetTickSource([](void *refcon) { return *static_cast<UInt32 *>(refcon); }, &now);
  EXPECT_EQ(1000u, TickCount());
  now = 0xFFFFFFFFu;
  EXPECT_EQ(0xFFFFFFFFu, TickCount());
  TVSetTickSource(nullptr, nullptr);
  tv::sys::SubstituteCall(&tv::sys::CallTable::clockgettime, FakeClock);
  EXPECT_EQ(630u, TickCount());
}

TEST_F(EventsTest, GetKeysIsAllUpWithoutPollerAndReportsPolledKeys) {
  KeyMap keys;
  std::memset(keys, 0xFF, sizeof keys);
  GetKeys(keys);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(0, keys[i]) << "byte " << i;

  static int calls = 0;
  TVSetKeyboardPoller(
      [](KeyMap k, void *refcon) {
        ++*static_cast<int *>(refcon);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(0, k[i]) << "the poller gets a cleared map";
        k[kVK_Escape / 8] |= UInt8(1u << (kVK_Escape % 8));
      },
      &calls);
  std::memset(keys, 0xFF, sizeof keys);
  GetKeys(keys);
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0x20, keys[6]) << "Escape (53) is bit 5 of byte 6";
  for (int i = 0; i < 16; ++i) {
    if (i == 6) continue;
    EXPECT_EQ(0, keys[i]) << "byte " << i;
  }
}

TEST_F(EventsTest, SysBeepGoesToHandlerOrToTerminalOnly) {
  static short heard = -1;
  TVSetBeepHandler([](short duration, void *) { heard = duration; }, nullptr);
  tv::sys::SubstituteCall(&tv::sys::CallTable::write, RecordWrite);
  SysBeep(7);
  EXPECT_EQ(7, heard);
  EXPECT_TRUE(sWritten.empty());

  TVSetBeepHandler(nullptr, nullptr);
  tv::sys::SubstituteCall(&tv::sys::CallTable::isatty, FakeIsatty);
  sIsTty = 0;
  SysBeep(0);
  EXPECT_TRUE(sWritten.empty()) << "no bell into a pipe or file";
  sIsTty = 1;
  SysBeep(0);
  ASSERT_EQ(1u, sWritten.size());
  EXPECT_EQ(STDERR_FILENO, sWritten[0].fd);
  EXPECT_EQ("\a", sWritten[0].bytes);
}

TEST(SystemVersionTest, ParsesHexAndDecimalOnly) {
  struct Case {
    const char *text;
    bool ok;
    SInt32 value;
  } cases[] = {
      {"0x1028", true, 0x1028}, {"0X1a", true, 0x1A},  {"4136", true, 4136},
      {"0", true, 0},           {"2147483647", true, INT32_MAX},
      {"", false, 0},           {"0x", false, 0},      {"-1", false, 0},
      {" 1", false, 0},         {"12a", false, 0},     {"0x1g", false, 0},
      {"0x80000000", false, 0}, {"99999999999", false, 0}, {"+5", false, 0},
  };
  for (const Case &c : cases) {
    SInt32 v = -7;
    EXPECT_EQ(c.ok, tv::toolbox::ParseSystemVersion(c.text, &v)) << '"' << c.text << '"';
    EXPECT_EQ(c.ok ? c.value : -7, v) << '"' << c.text << '"';
  }
  SInt32 v;
  EXPECT_FALSE(tv::toolbox::ParseSystemVersion(nullptr, &v));
}

TEST_F(EventsTest, GestaltAnswersDefaultThenEnvironmentThenOverride) {
  SInt32 v = 0;
  ASSERT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(0x1049, v);

  setenv("TARROVEL_SYSTEM_VERSION", "0x1028", 1);
  ASSERT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(0x1028, v);
  setenv("TARROVEL_SYSTEM_VERSION", "4127", 1);
  ASSERT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(4127, v);
  setenv("TARROVEL_SYSTEM_VERSION", "ten", 1);
  ASSERT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(0x1049, v) << "an unreadable value is ignored";

  setenv("TARROVEL_SYSTEM_VERSION", "0x1028", 1);
  TVSetSystemVersion(0x1030);
  ASSERT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(0x1030, v) << "the host's override wins over the environment";
  TVSetSystemVersion(-1);
  ASSERT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(0x1028, v);
}

TEST_F(EventsTest, GestaltFailuresLeaveTheAnswerAlone) {
  SInt32 v = 123;
  EXPECT_STATUS(paramErr, Gestalt(gestaltSystemVersion, nullptr));
  EXPECT_STATUS(gestaltUndefSelectorErr, Gestalt(FOUR_CHAR_CODE("cpuf"), &v));
  EXPECT_EQ(123, v);
  TVSetGestaltFails(true);
  EXPECT_STATUS(gestaltUndefSelectorErr, Gestalt(gestaltSystemVersion, &v));
  EXPECT_EQ(123, v);
  TVSetGestaltFails(false);
  EXPECT_STATUS(noErr, Gestalt(gestaltSystemVersion, &v));
}

TEST(ScriptInfoTest, RomanAndJapaneseHaveScriptsOthersAreUnsupported) {
  ScriptCode script = 99;
  LangCode language = 99;
  Str255 font;
  font[0] = 5;
  ASSERT_STATUS(noErr, RevertTextEncodingToScriptInfo(kTextEncodingMacRoman, &script, &language, font));
  EXPECT_EQ(smRoman, script);
  EXPECT_EQ(langEnglish, language);
  EXPECT_EQ(0, font[0]);

  ASSERT_STATUS(noErr, RevertTextEncodingToScriptInfo(1 /* Mac Japanese */, &script, &language, nullptr));
  EXPECT_EQ(smJapanese, script);
  EXPECT_EQ(langJapanese, language);
  ASSERT_STATUS(noErr, RevertTextEncodingToScriptInfo(0x0A01 /* Shift-JIS */, &script, &language, nullptr));
  EXPECT_EQ(smJapanese, script);

  for (TextEncoding other : {TextEncoding(kCFStringEncodingUTF8), TextEncoding(kCFStringEncodingISOLatin1),
                             TextEncoding(kCFStringEncodingUnicode), TextEncoding(2)}) {
    script = 99;
    language = 99;
    font[0] = 5;
    EXPECT_STATUS(kTextUnsupportedEncodingErr, RevertTextEncodingToScriptInfo(other, &script, &language, font))
        << "encoding " << other;
    EXPECT_EQ(99, script);
    EXPECT_EQ(99, language);
    EXPECT_EQ(5, font[0]);
  }
}

}  // namespace
