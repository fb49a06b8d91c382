// The crash-time reporter libraries run inside the signal handler: the
// handler and its callback chain, the crash callback, and the Linux thread
// source (reporter/linux/). They may call only what is safe there, the
// checked writer and readers, and the thread suspender's crash-path entries. Its set-up (enabling,
// registration, the uncaught-exception bridge, thread start-up), which
// allocates, lives in the reporter_setup library.

#include "crashcapture/async_safety.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// What the signal path adds to the common list, all async-signal-safe: the
// report file's open, a second crashing thread's wait, and putting a signal
// back to its default action and raising it again.
bool isSignalPathCall(const std::string& name) {
  static const std::set<std::string> kSignalPath = {"open", "pause", "raise", "sigaction",
                                                    "sigemptyset"};
  return kSignalPath.count(name) != 0;
}

// The thread suspender (platform/linux/thread_suspender.h) stops and resumes
// the other threads with signals and system calls only.
bool isThreadSuspenderEntry(const std::string& name) {
  return name == "_ZN7tlcrash15ThreadSuspender13suspendOthersEl" ||
         name == "_ZN7tlcrash15ThreadSuspender9resumeAllEv";
}

// What the thread source's vtable names without calling it: the deleting
// destructor (the source lives in the process-wide platform and is never
// deleted) and, where its abstract base's vtable is emitted too (unoptimized
// builds), that base's pure-virtual slots.
bool isVtableEntry(const std::string& name) {
  return name == "_ZdlPvm" || name == "__cxa_pure_virtual";
}

TEST(ReporterAsyncSafetyTest, TheCrashTimeReporterCallsOnlyCrashPathFunctions) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer instruments the library with calls into its runtime";
#endif
  using namespace tlcrash::testing;
  std::set<std::string> checked;
  for (const char* library : {TLCRASH_REPORTER_LIBRARY, TLCRASH_REPORTER_LINUX_LIBRARY,
                              TLCRASH_WRITER_LIBRARY, TLCRASH_ASYNC_LIBRARY})
    checked.merge(librarySymbols(library, "--defined-only"));
  for (const char* library : {TLCRASH_REPORTER_LIBRARY, TLCRASH_REPORTER_LINUX_LIBRARY}) {
    const auto undefined = librarySymbols(library, "-u");
    ASSERT_FALSE(undefined.empty()) << "nm gave no symbols for " << library;
    for (const std::string& name : undefined) {
      if (checked.count(name) != 0) continue;
      EXPECT_TRUE(isAsyncSignalSafeCall(name) || isSignalPathCall(name) ||
                  isThreadSuspenderEntry(name) || isVtableEntry(name))
          << library << ": " << name;
    }
  }
}

}  // namespace
