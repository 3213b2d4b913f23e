#include "platform/HostServices.h"
#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// Found by argument-dependent lookup, so it must live beside the type.
static bool operator==(const ProcessSerialNumber &a, const ProcessSerialNumber &b) {
  return a.highLongOfPSN == b.highLongOfPSN && a.lowLongOfPSN == b.lowLongOfPSN;
}

namespace {

constexpr OSType kFinderType = FOUR_CHAR_CODE("FNDR");
constexpr OSType kFinderCreator = FOUR_CHAR_CODE("MACS");

// Registers processes for one test and unregisters them at its end.
class ProcessesTest : public ::testing::Test {
 protected:
  ProcessSerialNumber add(OSType type, OSType creator, const char *name = "proc") {
    ProcessSerialNumber psn{};
    EXPECT_STATUS(noErr, TVRegisterProcess(type, creator, name, nullptr, nullptr, &psn));
    mine_.push_back(psn);
    return psn;
  }
  void TearDown() override {
    for (const ProcessSerialNumber &psn : mine_) TVUnregisterProcess(&psn);
  }
  // The registered processes in walking order, as far as this test made them.
  std::vector<ProcessSerialNumber> walk() {
    std::vector<ProcessSerialNumber> seen;
    ProcessSerialNumber psn{0, kNoProcess};
    OSErr err;
    while ((err = GetNextProcess(&psn)) == noErr) {
      for (const ProcessSerialNumber &m : mine_)
        if (m == psn) seen.push_back(psn);
      if (seen.size() > 1000) break;
    }
    EXPECT_STATUS(procNotFound, err);
    return seen;
  }
  std::vector<ProcessSerialNumber> mine_;
};

// The lookup as the plug-in makes it: a 60-byte record without name or file
// buffers, matching type and creator, walking from the start.
OSErr FindProcess(OSType type, OSType creator, ProcessSerialNumber *psn) {
  *psn = ProcessSerialNumber{0, kNoProcess};
  ProcessInfoRec info;
  std::memset(&info, 0, sizeof info);
  info.processInfoLength = 60;
  OSErr err;
  do {
    err = GetNextProcess(psn);
    if (err == noErr) GetProcessInformation(psn, &info);
  } while (err == noErr && !(info.processSignature == creator && info.processType == type));
  return err;
}

TEST_F(ProcessesTest, WalkFollowsRegistrationOrderAndEndsWithProcNotFound) {
  ProcessSerialNumber a = add(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("aaaa"));
  ProcessSerialNumber b = add(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("bbbb"));
  ProcessSerialNumber c = add(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("cccc"));
  EXPECT_FALSE(a == b);
  for (const ProcessSerialNumber &p : {a, b, c}) {
    EXPECT_FALSE(p == (ProcessSerialNumber{0, kNoProcess}));
    EXPECT_FALSE(p == (ProcessSerialNumber{0, kSystemProcess}));
    EXPECT_FALSE(p == (ProcessSerialNumber{0, kCurrentProcess}));
  }
  EXPECT_EQ((std::vector<ProcessSerialNumber>{a, b, c}), walk());

  ProcessSerialNumber last = c;
  while (GetNextProcess(&last) == noErr) {
  }
  ProcessSerialNumber end = last;
  EXPECT_STATUS(procNotFound, GetNextProcess(&end));
  EXPECT_TRUE(end == last) << "the serial number is left alone at the end";

  ASSERT_STATUS(noErr, TVUnregisterProcess(&b));
  EXPECT_EQ((std::vector<ProcessSerialNumber>{a, c}), walk());
  ProcessSerialNumber gone = b;
  EXPECT_STATUS(procNotFound, GetNextProcess(&gone)) << "a stale serial number is not found";
  EXPECT_STATUS(procNotFound, TVUnregisterProcess(&b));
  ProcessSerialNumber d = add(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("dddd"));
  EXPECT_FALSE(d == b) << "serial numbers are not reused";
  EXPECT_STATUS(paramErr, GetNextProcess(nullptr));
  EXPECT_STATUS(paramErr, TVUnregisterProcess(nullptr));
  EXPECT_STATUS(paramErr, TVRegisterProcess(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("xxxx"), "x", nullptr, nullptr, nullptr));
}

TEST_F(ProcessesTest, FinderLookupSkipsProcessesThatMatchOnlyHalfway) {
  add(FOUR_CHAR_CODE("APPL"), kFinderCreator, "not the finder (type)");
  add(kFinderType, FOUR_CHAR_CODE("ttxt"), "not the finder (creator)");
  ProcessSerialNumber psn;
  EXPECT_STATUS(procNotFound, FindProcess(kFinderType, kFinderCreator, &psn));

  ProcessSerialNumber finder = add(kFinderType, kFinderCreator, "Finder");
  add(kFinderType, kFinderCreator, "a second one");
  ASSERT_STATUS(noErr, FindProcess(kFinderType, kFinderCreator, &psn));
  EXPECT_TRUE(psn == finder) << "the first match in the list";
}

TEST_F(ProcessesTest, InformationFillsOnlyFieldsWithinTheDeclaredLength) {
  ProcessSerialNumber psn = add(kFinderType, kFinderCreator, "Finder");
  ProcessInfoRec info;
  std::memset(&info, 0xAB, sizeof info);  // processAppSpec beyond 60 is garbage, never read
  info.processInfoLength = 60;
  info.processName = nullptr;
  ASSERT_STATUS(noErr, GetProcessInformation(&psn, &info));
  EXPECT_EQ(kFinderType, info.processType);
  EXPECT_EQ(kFinderCreator, info.processSignature);
  EXPECT_TRUE(info.processNumber == psn);
  EXPECT_EQ(60u, info.processInfoLength);
  const auto *bytes = reinterpret_cast<const UInt8 *>(&info);
  for (size_t i = 60; i < sizeof info; ++i) ASSERT_EQ(0xAB, bytes[i]) << "byte " << i << " lies past the length";

  std::memset(&info, 0xAB, sizeof info);
  info.processInfoLength = 8;
  ASSERT_STATUS(noErr, GetProcessInformation(&psn, &info));
  for (size_t i = sizeof(UInt32); i < sizeof info; ++i) ASSERT_EQ(0xAB, bytes[i]) << "byte " << i;
}

TEST_F(ProcessesTest, InformationNameIsAShortPascalStringAndFileSpecIsRefused) {
  ProcessSerialNumber psn = add(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("long"), "A process name much longer than thirty-one characters");
  ProcessInfoRec info;
  std::memset(&info, 0, sizeof info);
  info.processInfoLength = sizeof info;
  unsigned char name[40];
  std::memset(name, 0xEE, sizeof name);
  info.processName = name;
  ASSERT_STATUS(noErr, GetProcessInformation(&psn, &info));
  EXPECT_EQ(31, name[0]);
  EXPECT_EQ("A process name much longer than", std::string(reinterpret_cast<char *>(name + 1), 31));
  EXPECT_EQ(0xEE, name[32]) << "nothing past the 32-byte name buffer";
  EXPECT_TRUE(info.processLauncher == (ProcessSerialNumber{0, kNoProcess}));

  info.processAppSpec = reinterpret_cast<struct FSSpec *>(name);
  info.processType = 0;
  EXPECT_STATUS(paramErr, GetProcessInformation(&psn, &info));
  EXPECT_EQ(0u, info.processType) << "nothing is written on failure";

  info.processAppSpec = nullptr;
  ProcessSerialNumber unknown{0, 0x7FFFFFFF};
  EXPECT_STATUS(procNotFound, GetProcessInformation(&unknown, &info));
  ProcessSerialNumber none{0, kNoProcess};
  EXPECT_STATUS(procNotFound, GetProcessInformation(&none, &info));
  EXPECT_STATUS(paramErr, GetProcessInformation(nullptr, &info));
  EXPECT_STATUS(paramErr, GetProcessInformation(&psn, nullptr));
}

}  // namespace
