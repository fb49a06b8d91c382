// The report writer runs inside the signal handler: it may call only what is
// safe there, the checked readers (core, DWARF, unwind), the report framing,
// and the reading entries of the image library. Its record's set-up and
// freeing, which allocate, live in the writer_setup library.

#include "crashcapture/async_safety.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

bool isImageReadingEntry(const std::string& name) {
  for (const char* entry :
       {"tlcrash_async_image_list_set_reading", "tlcrash_async_image_list_image_for_address",
        "tlcrash_async_image_list_next", "tlcrash_async_macho_cmd_",
        "tlcrash_async_macho_find_command", "tlcrash_async_find_image_symbol",
        "tlcrash_async_objc_cache_init", "tlcrash_async_objc_cache_free"})
    if (name.find(entry) != std::string::npos) return true;
  return false;
}

// The cached task the writer reads memory through, made on its stack: its
// vtable (the platform library's cached_task.cpp, which only copies), the
// deleting destructor emitted beside it (never called for a stack object) and
// the pure-virtual slot of its abstract base.
bool isStackTaskEntry(const std::string& name) {
  // Its type information is data the undefined-behaviour sanitizer's checks
  // read, not a call.
  return name == "_ZTVN7tlcrash10CachedTaskE" || name == "_ZTIN7tlcrash10CachedTaskE" ||
         name == "_ZdlPvm" || name == "__cxa_pure_virtual";
}

TEST(WriterAsyncSafetyTest, TheWriterCallsOnlyCrashPathFunctions) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer instruments the library with calls into its runtime";
#endif
  using namespace tlcrash::testing;
  std::set<std::string> checked;
  for (const char* library : {TLCRASH_WRITER_LIBRARY, TLCRASH_ASYNC_LIBRARY, TLCRASH_DWARF_LIBRARY,
                              TLCRASH_UNWIND_LIBRARY, TLCRASH_REPORT_LIBRARY})
    checked.merge(librarySymbols(library, "--defined-only"));
  const auto undefined = librarySymbols(TLCRASH_WRITER_LIBRARY, "-u");
  ASSERT_FALSE(undefined.empty()) << "nm gave no symbols for " << TLCRASH_WRITER_LIBRARY;
  for (const std::string& name : undefined) {
    if (checked.count(name) != 0) continue;
    EXPECT_TRUE(isAsyncSignalSafeCall(name) || isImageReadingEntry(name) || isStackTaskEntry(name))
        << name;
  }
}

}  // namespace
