// What the Apple Event Manager tests share: a fixture that proves every
// descriptor a test makes is disposed of exactly once, and small helpers.
#pragma once

#include "platform/AppleEvents.h"
#include "platform/HostServices.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace tv::test {

class AETest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = TVAEGetLiveDescriptorCount(); }
  void TearDown() override {
    TVAEFailNthAllocation(0);
    TVSetAESendFailure(0, noErr);
    EXPECT_EQ(start_, TVAEGetLiveDescriptorCount()) << "a descriptor leaked or was freed twice";
  }
  CFIndex live() const { return TVAEGetLiveDescriptorCount() - start_; }
  CFIndex start_ = 0;
};

inline AEDesc Bytes(DescType type, const std::string &data) {
  AEDesc d{typeNull, nullptr};
  EXPECT_STATUS(noErr, AECreateDesc(type, data.data(), Size(data.size()), &d));
  return d;
}

inline AEDesc NewList(bool isRecord = false) {
  AEDesc d{typeNull, nullptr};
  EXPECT_STATUS(noErr, AECreateList(nullptr, 0, isRecord, &d));
  return d;
}

// The bytes of a byte descriptor ("" for anything else).
inline std::string DataOf(const AEDesc &d) {
  std::string s(size_t(AEGetDescDataSize(&d)), '\0');
  if (!s.empty() && AEGetDescData(&d, s.data(), Size(s.size())) != noErr) return "<unreadable>";
  return s;
}

inline long CountOf(const AEDesc &list) {
  long n = -1;
  EXPECT_STATUS(noErr, AECountItems(&list, &n));
  return n;
}

inline bool IsEmptyDesc(const AEDesc &d) { return d.descriptorType == typeNull && d.dataHandle == nullptr; }

}  // namespace tv::test
