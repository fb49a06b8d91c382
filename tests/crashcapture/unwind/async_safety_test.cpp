// The DWARF readers and the unwinders run on the crash path: they may call
// only what is safe in a signal handler, the checked core readers, and the
// crash-path entries of the image library (the image list's reader side,
// Mach-O section mapping, memory objects), never its allocating ones.

#include "crashcapture/async_safety.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool isImageCrashPathEntry(const std::string& name) {
  for (const char* entry :
       {"tlcrash_async_image_list_set_reading", "tlcrash_async_image_list_image_for_address",
        "tlcrash_async_image_list_next", "tlcrash_async_macho_map_section",
        "tlcrash_async_mobject_"})
    if (name.find(entry) != std::string::npos) return true;
  return false;
}

TEST(UnwindAsyncSafetyTest, TheLibrariesCallOnlyCrashPathFunctions) {
  using namespace tlcrash::testing;
  const auto core = librarySymbols(TLCRASH_ASYNC_LIBRARY, "--defined-only");
  const auto dwarf = librarySymbols(TLCRASH_DWARF_LIBRARY, "--defined-only");
  for (const char* library : {TLCRASH_DWARF_LIBRARY, TLCRASH_UNWIND_LIBRARY}) {
    const auto undefined = librarySymbols(library, "-u");
    const auto defined = librarySymbols(library, "--defined-only");
    ASSERT_FALSE(undefined.empty()) << "nm gave no symbols for " << library;
    for (const std::string& name : undefined) {
      if (defined.count(name) != 0 || core.count(name) != 0 || dwarf.count(name) != 0) continue;
      EXPECT_TRUE(isAsyncSignalSafeCall(name) || isImageCrashPathEntry(name))
          << library << ": " << name;
    }
  }
}

}  // namespace
