// A plain driver for the fuzz targets: runs LLVMFuzzerTestOneInput once on
// each file named on the command line (each file of a named folder, in name
// order), as libFuzzer replays a corpus. The ordinary test build links every
// target with it, so the committed corpus is checked without clang.

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// An input that makes a parser run away with memory fails its test instead of
// taking the machine's memory (libFuzzer's -rss_limit_mb does this when
// fuzzing). The sanitizers reserve huge address ranges, so under them their
// own RSS watch does it; a plain build limits its address space.
extern "C" const char* __asan_default_options() {
  return "hard_rss_limit_mb=4096";
}
extern "C" const char* __tsan_default_options() {
  return "hard_rss_limit_mb=4096";
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define WENDRIX_REPLAY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define WENDRIX_REPLAY_SANITIZED 1
#endif
#endif

int main(int argc, char** argv) {
#ifndef WENDRIX_REPLAY_SANITIZED
  constexpr rlim_t kMemoryLimit = rlim_t{4096} << 20;
  const rlimit limit{kMemoryLimit, kMemoryLimit};
  setrlimit(RLIMIT_AS, &limit);
#endif
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      files.push_back(path);
      continue;
    }
    std::vector<fs::path> inFolder;
    for (const auto& entry : fs::directory_iterator(path, error)) {
      if (entry.is_regular_file()) inFolder.push_back(entry.path());
    }
    std::sort(inFolder.begin(), inFolder.end());
    files.insert(files.end(), inFolder.begin(), inFolder.end());
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> contents((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 2;
    }
    // A heap block of exactly the input's size, as libFuzzer passes it, so
    // AddressSanitizer sees a read past the end.
    const std::size_t size = contents.size();
    auto data = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
    std::copy(contents.begin(), contents.end(), data.get());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), size);
    LLVMFuzzerTestOneInput(data.get(), size);
  }
  std::fprintf(stderr, "replayed %zu inputs\n", files.size());
  return 0;
}
