// The loaded images of this test program, read through its own memory and
// compared with what binutils' readelf says of the same files.

#include "crashcapture/platform/linux/elf_image_feed.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/found_symbol.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/readers/core/elf_image.h"

namespace tlcrash {
namespace {

std::vector<LoadedElfImage> loadedImages(const Task& task) {
  std::vector<LoadedElfImage> images;
  tlcrash_linux_enumerate_elf_images(task,
                                     [&](const LoadedElfImage& image) { images.push_back(image); });
  return images;
}

std::string hex(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  char digits[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    text += digits;
  }
  return text;
}

// The build id `readelf -n` prints for `path`, empty when it prints none.
std::string readelfBuildId(const std::string& path) {
  const std::string command = "readelf -n '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string id;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text(line);
    const auto at = text.find("Build ID: ");
    if (at == std::string::npos) continue;
    id = text.substr(at + 10);
    while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
      id.pop_back();
  }
  ::pclose(pipe);
  return id;
}

const LoadedElfImage* imageContaining(const std::vector<LoadedElfImage>& images,
                                      const void* address) {
  for (const auto& image : images) {
    if (tlcrash_async_elf_image_contains_address(&image.image,
                                                 reinterpret_cast<std::uintptr_t>(address)))
      return &image;
  }
  return nullptr;
}

TEST(ElfImageFeedTest, ListsTheProgramAndItsLibrariesWithTheBuildIdsReadelfPrints) {
  SelfTask task;
  const auto images = loadedImages(task);
  ASSERT_GE(images.size(), 3u);

  char exe[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(images.front().path, exe);
  const auto* program = imageContaining(images, reinterpret_cast<const void*>(&loadedImages));
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->path, exe);
  const auto* libc = imageContaining(images, dlsym(RTLD_DEFAULT, "getpid"));
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(libc->path.find("libc.so"), std::string::npos) << libc->path;

  int compared = 0;
  for (const auto& image : images) {
    SCOPED_TRACE(image.path);
    EXPECT_EQ(image.image.cpu_type, CPU_TYPE_X86_64);
    if (image.path.empty() || image.path.front() != '/') continue;  // the vDSO has no file
    EXPECT_EQ(hex(image.image.build_id, image.image.build_id_size), readelfBuildId(image.path));
    ++compared;
  }
  EXPECT_EQ(compared + 1, static_cast<int>(images.size())) << "every image but the vDSO";
  EXPECT_EQ(program->image.build_id_size, 20u);
  EXPECT_EQ(libc->image.build_id_size, 20u);
}

TEST(ElfImageFeedTest, FindsTheUnwindTablesOfTheProgramAndOfLibc) {
  SelfTask task;
  const auto images = loadedImages(task);
  for (const void* address : {reinterpret_cast<const void*>(&loadedImages),
                              static_cast<const void*>(dlsym(RTLD_DEFAULT, "getpid"))}) {
    const auto* image = imageContaining(images, address);
    ASSERT_NE(image, nullptr);
    SCOPED_TRACE(image->path);
    const auto& elf = image->image;
    ASSERT_NE(elf.eh_frame_hdr, 0u);
    const tlcrash_vm_address_t ehFrame = tlcrash_async_elf_eh_frame(&elf);
    ASSERT_NE(ehFrame, 0u);
    EXPECT_EQ(*reinterpret_cast<const std::uint8_t*>(elf.eh_frame_hdr), 1) << "version";
    EXPECT_GE(ehFrame, elf.load_start);
    EXPECT_LT(ehFrame, elf.load_end);
    // .eh_frame starts with a CIE: a length, then the CIE id 0.
    const auto* words = reinterpret_cast<const std::uint32_t*>(ehFrame);
    EXPECT_GT(words[0], 0u);
    EXPECT_EQ(words[1], 0u);
  }
}

TEST(ElfImageFeedTest, NamesALibcFunctionFromItsDynamicSymbols) {
  SelfTask task;
  const auto images = loadedImages(task);
  for (const char* function : {"getpid", "write", "dl_iterate_phdr"}) {
    SCOPED_TRACE(function);
    void* entry = dlsym(RTLD_DEFAULT, function);
    ASSERT_NE(entry, nullptr);
    const auto* libc = imageContaining(images, entry);
    ASSERT_NE(libc, nullptr);
    FoundSymbol symbol;
    ASSERT_EQ(
        tlcrash_async_elf_find_symbol_by_pc(
            &libc->image, reinterpret_cast<std::uintptr_t>(entry) + 1, rememberSymbol, &symbol),
        tlcrash_error_t::success);
    EXPECT_EQ(symbol.address, reinterpret_cast<std::uintptr_t>(entry));
    // The name found may be an alias of the same function (such as __write).
    ASSERT_FALSE(symbol.name.empty());
    EXPECT_EQ(dlsym(RTLD_DEFAULT, symbol.name.c_str()), entry) << symbol.name;
    EXPECT_NE(symbol.name.find(function), std::string::npos) << symbol.name;
  }
}

TEST(ElfImageFeedTest, ALoadedLibraryChangesTheGenerationAndJoinsTheList) {
  const std::uint64_t before = tlcrash_linux_loaded_images_generation();
  EXPECT_EQ(tlcrash_linux_loaded_images_generation(), before);
  void* library = ::dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_NE(tlcrash_linux_loaded_images_generation(), before);
  SelfTask task;
  const auto images = loadedImages(task);
  const auto* zlib = imageContaining(images, dlsym(library, "deflate"));
  ASSERT_NE(zlib, nullptr);
  EXPECT_NE(zlib->path.find("libz.so"), std::string::npos);
  ::dlclose(library);
}

}  // namespace
}  // namespace tlcrash
