// Test helpers for the fork formats: readable errors, parsing shortcuts.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "platform/forks/AppleDouble.h"
#include "platform/forks/Fixtures.h"

namespace tv::forks {

inline void PrintTo(ForkFormatError error, std::ostream *os) { *os << ForkFormatErrorName(error); }

// The parsed view of bytes, failing the test when they do not parse.
inline AppleDoubleView MustParse(const std::vector<UInt8> &bytes) {
  AppleDoubleView view;
  ForkFormatError error = ParseAppleDouble(bytes, &view);
  EXPECT_EQ(ForkFormatError::kNone, error);
  return view;
}

// The view borrows the bytes: parsing a temporary would leave it dangling.
AppleDoubleView MustParse(const std::vector<UInt8> &&bytes) = delete;

// What a sidecar's bytes hold, failing the test when they do not parse.
inline SidecarContent ContentOf(const std::vector<UInt8> &bytes) {
  return GetSidecarContent(MustParse(bytes));
}

inline ForkFormatError ParseError(const std::vector<UInt8> &bytes) {
  AppleDoubleView view;
  return ParseAppleDouble(bytes, &view);
}

}  // namespace tv::forks
