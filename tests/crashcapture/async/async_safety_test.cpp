// The crash path may call only what is safe inside a signal handler. This
// checks the library's undefined symbols against the short list of calls it
// is allowed to make.

#include "crashcapture/async_safety.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AsyncSafetyTest, TheLibraryCallsOnlyAsyncSignalSafeFunctions) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer instruments the library with calls into its runtime";
#endif
  using namespace tlcrash::testing;
  const auto undefined = librarySymbols(TLCRASH_ASYNC_LIBRARY, "-u");
  const auto defined = librarySymbols(TLCRASH_ASYNC_LIBRARY, "--defined-only");
  ASSERT_FALSE(undefined.empty()) << "nm gave no symbols for " << TLCRASH_ASYNC_LIBRARY;
  for (const std::string& name : undefined) {
    if (defined.count(name) != 0) continue;  // defined by another member of the library
    EXPECT_TRUE(isAsyncSignalSafeCall(name)) << name;
  }
}

}  // namespace
