#include "fuzz_input.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace fuzz {

std::filesystem::path scratchFolder() {
  // Never destroyed, so the exit handler below can still read it.
  static const std::filesystem::path* const folder = [] {
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "wendrix-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    // Removed when the process ends normally (a replay run); a fuzzing run
    // that stops at a crash leaves it behind.
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchFolder(), ignored);
    });
    return new std::filesystem::path(pattern);
  }();
  return *folder;
}

void emptyFolder(const std::filesystem::path& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    std::filesystem::remove_all(entry.path(), error);
}

}  // namespace fuzz
