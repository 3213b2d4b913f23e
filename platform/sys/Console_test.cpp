#include "platform/Console.h"
#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Write {
  int fd;
  std::string bytes;
};
std::vector<Write> sWrites;
size_t sMaxChunk = 0;  // 0: write everything asked
int sInterrupts = 0;   // EINTR answers still to give

ssize_t FakeWrite(int fd, const void *buf, size_t count) {
  if (sInterrupts > 0) {
    --sInterrupts;
    errno = EINTR;
    return -1;
  }
  size_t n = sMaxChunk != 0 && count > sMaxChunk ? sMaxChunk : count;
  sWrites.push_back({fd, std::string(static_cast<const char *>(buf), n)});
  return ssize_t(n);
}

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sWrites.clear();
    sMaxChunk = 0;
    sInterrupts = 0;
    tv::sys::SubstituteCall(&tv::sys::CallTable::write, FakeWrite);
  }
  void TearDown() override {
    tv::sys::ClearSubstitutes();
    TVSetConsoleSink(nullptr, nullptr);
  }
  static std::string Joined() {
    std::string all;
    for (const Write &w : sWrites) all += w.bytes;
    return all;
  }
};

TEST_F(ConsoleTest, WritesEachLineToStandardErrorInOneWrite) {
  TVConsolePrintf("Tarrovel: %s %d\nsecond %x\nunfinished", "zap", -45, 255u);
  ASSERT_EQ(3u, sWrites.size());
  EXPECT_EQ("Tarrovel: zap -45\n", sWrites[0].bytes);
  EXPECT_EQ("second ff\n", sWrites[1].bytes);
  EXPECT_EQ("unfinished", sWrites[2].bytes);
  for (const Write &w : sWrites) EXPECT_EQ(STDERR_FILENO, w.fd);
}

TEST_F(ConsoleTest, ShortAndInterruptedWritesLoseNothing) {
  sMaxChunk = 3;
  sInterrupts = 2;
  TVConsolePrintf("Tarrovel: %s\n", "a somewhat longer line");
  EXPECT_EQ("Tarrovel: a somewhat longer line\n", Joined());
}

TEST_F(ConsoleTest, LongLinesAreNotTruncated) {
  std::string path(10000, 'p');
  TVConsolePrintf("Tarrovel: %s\n", path.c_str());
  EXPECT_EQ("Tarrovel: " + path + "\n", Joined());
  EXPECT_EQ(1u, sWrites.size());
}

TEST_F(ConsoleTest, SinkTakesTheFormattedTextInsteadOfStandardError) {
  std::string got;
  TVSetConsoleSink([](const char *text, void *refcon) { *static_cast<std::string *>(refcon) += text; }, &got);
  TVConsolePrintf("Tarrovel: %s = %ld\n", "status", -108L);
  TVConsolePrintf("two\nlines\n");
  EXPECT_EQ("Tarrovel: status = -108\ntwo\nlines\n", got);
  EXPECT_TRUE(sWrites.empty());

  TVSetConsoleSink(nullptr, nullptr);
  TVConsolePrintf("back\n");
  EXPECT_EQ("Tarrovel: status = -108\ntwo\nlines\n", got);
  EXPECT_EQ("back\n", Joined());
}

}  // namespace
