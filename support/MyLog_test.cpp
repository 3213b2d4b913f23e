#include "support/MyLog.h"

#include "platform/HostServices.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyStatus.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace {

std::string sConsole;
void Capture(const char *text, void *) { sConsole += text; }

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sConsole.clear();
    TVSetConsoleSink(Capture, nullptr);
  }
  void TearDown() override { TVSetConsoleSink(nullptr, nullptr); }
};

TEST_F(LogTest, ErrorLinesNameTheCodeAndThePhase) {
  MyLogError(noErr, 4);
  MyLogError(noBeepErr, 4);
  EXPECT_EQ(sConsole, "");
  MyLogError(-108, 4);
  MyLogError(nilPointerErr, 4);
  MyLogError(paramErr, 3);
  EXPECT_EQ(sConsole,
            "Tarrovel: execution fail: error=-108, phase is 'HandleSelection'\n"
            "Tarrovel: execution fail: error='NilP', phase is 'HandleSelection'\n"
            "Tarrovel: execution fail: error=-50, phase is 'ExamineContext'\n");
}

TEST_F(LogTest, UnknownPhasesAndLowCodesPrintAsTheyAre) {
  MyLogError(-1, 0);
  MyLogError(-1, 7);
  MyLogError(-1, 0xFFFFFFFFu);
  MyLogError(0x00414243, 1);  // most significant byte 0: empty text
  EXPECT_EQ(sConsole,
            "Tarrovel: execution fail: error=-1, phase is 'Undefined'\n"
            "Tarrovel: execution fail: error=-1, phase is 'Undefined'\n"
            "Tarrovel: execution fail: error=-1, phase is 'Undefined'\n"
            "Tarrovel: execution fail: error='', phase is 'Allocate'\n");
}

TEST_F(LogTest, PathLinesUseLabelAndPath) {
  tv::test::TempTree tree;
  std::string path = tree.folder("Data/Projects é");
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), noErr);
  MyCFAutoreleasePool pool = MyCFAutoreleasePoolCreate();
  MyLogPathForFSRef(CFSTR("Permission denied"), &ref);
  MyLogPathForFSRef(nullptr, &ref);
  MyLogPathForFSRef(CFSTR("x"), nullptr);
  MyCFAutoreleasePoolDispose(pool);
  EXPECT_EQ(sConsole, "Tarrovel: Permission denied: " + path + "\nTarrovel: : " + path + "\n");
}

TEST(CreateUTF8CStringTest, CountsUTF8BytesNotUnits) {
  const UniChar text[] = {'a', 0x00E9, 0x65E5, 0xD83D, 0xDE00};  // a é 日 😀
  CFStringRef s = CFStringCreateWithCharacters(nullptr, text, 5);
  char *utf8 = CreateUTF8CString(s);
  ASSERT_NE(utf8, nullptr);
  EXPECT_STREQ(utf8, "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(strlen(utf8), 10u);
  free(utf8);
  CFRelease(s);
  char *empty = CreateUTF8CString(CFSTR(""));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], 0);
  free(empty);
  EXPECT_EQ(CreateUTF8CString(nullptr), nullptr);
}

}  // namespace
