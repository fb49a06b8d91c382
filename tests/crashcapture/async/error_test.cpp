#include "crashcapture/readers/core/crash_error.h"

#include <gtest/gtest.h>

#include <string>

namespace tlcrash {
namespace {

TEST(TlcrashErrorTest, EveryCodeHasItsFixedMessageAndOtherValuesOneForAll) {
  struct Case {
    int code;
    const char* message;
  };
  const Case cases[] = {
      {0, "No error"},
      {1, "Unknown error"},
      {2, "Output file can not be opened (or written to)"},
      {3, "No memory available"},
      {4, "Operation not supported"},
      {5, "Invalid argument"},
      {6, "Internal error"},
      {7, "Access denied"},
      {8, "Not found"},
      {9, "The input data is in an unknown or invalid format."},
      {10, "Unhandled error code"},
      {-1, "Unhandled error code"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(std::string(tlcrash_async_strerror(static_cast<tlcrash_error_t>(c.code))), c.message);
  }
}

}  // namespace
}  // namespace tlcrash
