// Test plumbing for the CoreFoundation tests: a fixture that fails a test
// which leaks or over-releases objects, and an owning holder for references.
#pragma once

#include "platform/HostServices.h"

#include <gtest/gtest.h>

#include <string>

namespace tv::test {

// Every test must end with as many live CF objects as it began with.
class CFBalanceTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = TVCFGetLiveObjectCount(); }
  void TearDown() override {
    TVCFFailNthAllocation(0);
    EXPECT_EQ(liveAtStart_, TVCFGetLiveObjectCount()) << "CF objects leaked or over-released";
  }

 private:
  CFIndex liveAtStart_ = 0;
};

// Owns one reference; releases it when it goes.
template <class T> class CFOwned {
 public:
  explicit CFOwned(T ref = nullptr) : ref_(ref) {}
  ~CFOwned() {
    if (ref_) CFRelease(ref_);
  }
  CFOwned(const CFOwned &) = delete;
  CFOwned &operator=(const CFOwned &) = delete;
  T get() const { return ref_; }
  operator T() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  T ref_;
};

// The string's UTF-8 bytes ("<NULL>" for NULL), for readable expectations.
inline std::string Utf8(CFStringRef s) {
  if (!s) return "<NULL>";
  CFIndex used = 0;
  const CFIndex n = CFStringGetLength(s);
  CFStringGetBytes(s, CFRangeMake(0, n), kCFStringEncodingUTF8, '?', false, nullptr, 0, &used);
  std::string out(size_t(used), '\0');
  CFStringGetBytes(s, CFRangeMake(0, n), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8 *>(out.data()), used, &used);
  return out;
}

}  // namespace tv::test
