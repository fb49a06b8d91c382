#include "crashcapture/platform/reporter_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace tlcrash {
namespace {

TEST(ReporterErrorTest, BuildsErrorsOfTheReportersDomainWithTheirCause) {
  ReporterError plain;
  tlcrash_populate_error(&plain, TLCrashReporterError::alreadyEnabled, "Already enabled");
  EXPECT_EQ(plain.error, base::Error("TLCrashReporterErrorDomain", 3, "Already enabled"));
  EXPECT_FALSE(plain.underlying.has_value());

  ReporterError posix;
  tlcrash_populate_posix_error(&posix, ENOENT, "Failed to create temporary path");
  EXPECT_EQ(posix.error,
            base::Error("TLCrashReporterErrorDomain", 1, "Failed to create temporary path"));
  ASSERT_TRUE(posix.underlying.has_value());
  EXPECT_EQ(posix.underlying->domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(posix.underlying->code, ENOENT);
  EXPECT_EQ(posix.underlying->description, std::strerror(ENOENT));

  ReporterError mach;
  tlcrash_populate_mach_error(&mach, KERN_INVALID_ADDRESS, "Failed to fetch mach exception ports");
  EXPECT_EQ(mach.code(), 1);
  ASSERT_TRUE(mach.underlying.has_value());
  EXPECT_EQ(mach.underlying->domain, "NSMachErrorDomain");
  EXPECT_EQ(mach.underlying->code, KERN_INVALID_ADDRESS);

  // No out-value: nothing to do, and no crash.
  tlcrash_populate_posix_error(nullptr, EIO, "ignored");
}

}  // namespace
}  // namespace tlcrash
