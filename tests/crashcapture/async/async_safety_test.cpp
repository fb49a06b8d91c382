// The crash path may call only what is safe inside a signal handler. This
// checks the library's undefined symbols against the short list of calls it
// is allowed to make.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> symbols(const std::string& nmOptions) {
  const std::string command = "nm " + nmOptions + " --format=posix '" +
                              std::string(TLCRASH_ASYNC_LIBRARY) + "' 2>/dev/null";
  std::set<std::string> names;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
      text.pop_back();
    // Archive member headers end in ":" ("lib.a[memory.cpp.o]:").
    if (text.empty() || text.back() == ':') continue;
    names.insert(text.substr(0, text.find(' ')));
  }
  ::pclose(pipe);
  return names;
}

bool allowed(const std::string& name) {
  // System calls and C library entries that are async-signal-safe, the C++
  // runtime's personality routine (no allocation: nothing here throws), and
  // the sanitizers' instrumentation in sanitized builds, and the type-info
  // tables (data, not code) that the sanitizers' type checks refer to.
  static const std::set<std::string> kAllowed = {"write",
                                                 "close",
                                                 "gettid",
                                                 "getpid",
                                                 "process_vm_readv",
                                                 "abort",
                                                 "memcpy",
                                                 "memset",
                                                 "__errno_location",
                                                 "__stack_chk_fail",
                                                 "__gxx_personality_v0",
                                                 "_GLOBAL_OFFSET_TABLE_"};
  if (kAllowed.count(name) != 0) return true;
  for (const char* prefix : {"__asan_", "__ubsan_", "__sanitizer_", "_ZTVN10__cxxabiv1"})
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

TEST(AsyncSafetyTest, TheLibraryCallsOnlyAsyncSignalSafeFunctions) {
  const auto undefined = symbols("-u");
  const auto defined = symbols("--defined-only");
  ASSERT_FALSE(undefined.empty()) << "nm gave no symbols for " << TLCRASH_ASYNC_LIBRARY;
  for (const std::string& name : undefined) {
    if (defined.count(name) != 0) continue;  // defined by another member of the library
    EXPECT_TRUE(allowed(name)) << name;
  }
}

}  // namespace
