#pragma once

// What a crash-path library may call: its undefined symbols, read from the
// library archive with nm, against the short list of calls that are safe
// inside a signal handler.

#include <cstdio>
#include <set>
#include <string>

namespace tlcrash::testing {

// The symbol names nm lists for `library` with `nmOptions` ("-u" for the
// undefined ones, "--defined-only").
inline std::set<std::string> librarySymbols(const std::string& library,
                                            const std::string& nmOptions) {
  const std::string command = "nm " + nmOptions + " --format=posix '" + library + "' 2>/dev/null";
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

// System calls and C library entries that are async-signal-safe (strlen too:
// the optimizer makes it of a counting loop), the C++ runtime's personality
// routine (no allocation: nothing here throws), the sanitizers'
// instrumentation in sanitized builds, and the type-info tables (data, not
// code) that the sanitizers' type checks refer to.
inline bool isAsyncSignalSafeCall(const std::string& name) {
  static const std::set<std::string> kAllowed = {"write",
                                                 "close",
                                                 "gettid",
                                                 "getpid",
                                                 "process_vm_readv",
                                                 "abort",
                                                 "memcpy",
                                                 "memset",
                                                 "strlen",
                                                 "__errno_location",
                                                 "__stack_chk_fail",
                                                 "__gxx_personality_v0",
                                                 "_GLOBAL_OFFSET_TABLE_"};
  if (kAllowed.count(name) != 0) return true;
  for (const char* prefix : {"__asan_", "__ubsan_", "__sanitizer_", "_ZTVN10__cxxabiv1"})
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace tlcrash::testing
