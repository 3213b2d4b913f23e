// Test helpers for the fork formats: readable errors, parsing shortcuts.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "platform/forks/AppleDouble.h"
#include "tests/support/Sidecars.h"

// Beside the type, where GoogleTest looks for its printer.
namespace tv::forks {
inline void PrintTo(ForkFormatError error, std::ostream *os) { *os << ForkFormatErrorName(error); }
}  // namespace tv::forks

namespace tv::test {

// The parsed view of bytes, failing the test when they do not parse.
inline forks::AppleDoubleView MustParse(const std::vector<UInt8> &bytes) {
  forks::AppleDoubleView view;
  forks::ForkFormatError error = forks::ParseAppleDouble(bytes, &view);
  EXPECT_EQ(forks::ForkFormatError::kNone, error);
  return view;
}

// The view borrows the bytes: parsing a temporary would leave it dangling.
forks::AppleDoubleView MustParse(const std::vector<UInt8> &&bytes) = delete;

// What a sidecar's bytes hold, failing the test when they do not parse.
inline forks::SidecarContent ContentOf(const std::vector<UInt8> &bytes) {
  return forks::GetSidecarContent(MustParse(bytes));
}

inline forks::ForkFormatError ParseError(const std::vector<UInt8> &bytes) {
  forks::AppleDoubleView view;
  return forks::ParseAppleDouble(bytes, &view);
}

}  // namespace tv::test
