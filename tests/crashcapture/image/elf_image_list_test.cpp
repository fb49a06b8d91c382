// ELF images in the loaded-image list of this process: the refresh from the
// dynamic loader, look-ups by address and .dynsym names through the list,
// and a library loaded and unloaded between refreshes.

#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/found_symbol.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/linux/image_list_refresh.h"
#include "crashcapture/readers/image/symbol_lookup.h"
#include "macho_builder.h"

namespace tlcrash {
namespace {

struct Listed {
  tlcrash_async_image_format format;
  tlcrash_vm_address_t header;
  std::string name;
};

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class ElfImageListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tlcrash_async_image_list_init(&list_, task_), tlcrash_error_t::success);
  }
  void TearDown() override { tlcrash_async_image_list_free(&list_); }

  std::vector<Listed> listed() {
    std::vector<Listed> images;
    tlcrash_async_image_list_set_reading(&list_, true);
    for (auto* image = tlcrash_async_image_list_next(&list_, nullptr); image != nullptr;
         image = tlcrash_async_image_list_next(&list_, image))
      images.push_back({image->format, image->header_addr, tlcrash_async_image_name(image)});
    tlcrash_async_image_list_set_reading(&list_, false);
    return images;
  }

  // The listed image holding `address`: its name, or "" for none.
  std::string imageAt(const void* address) {
    tlcrash_async_image_list_set_reading(&list_, true);
    const tlcrash_async_image* image = tlcrash_async_image_list_image_for_address(
        &list_, reinterpret_cast<tlcrash_vm_address_t>(address));
    std::string name = image != nullptr ? tlcrash_async_image_name(image) : "";
    tlcrash_async_image_list_set_reading(&list_, false);
    return name;
  }

  // The symbol the list's image names for `address`.
  FoundSymbol symbolAt(const void* address, tlcrash_error_t* error) {
    FoundSymbol found;
    const auto pc = reinterpret_cast<tlcrash_vm_address_t>(address);
    tlcrash_async_image_list_set_reading(&list_, true);
    const tlcrash_async_image* image = tlcrash_async_image_list_image_for_address(&list_, pc);
    *error = image == nullptr
                 ? tlcrash_error_t::notFound
                 : tlcrash_async_find_image_symbol(image, TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL,
                                                   nullptr, pc, rememberSymbol, &found);
    tlcrash_async_image_list_set_reading(&list_, false);
    return found;
  }

  SelfTask task_;
  tlcrash_async_image_list list_{};
};

TEST_F(ElfImageListTest, ARefreshListsTheProgramAndItsLibraries) {
  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  const std::vector<Listed> images = listed();
  ASSERT_GE(images.size(), 3u);  // the program, libc, the loader at least
  for (const Listed& image : images)
    EXPECT_EQ(image.format, tlcrash_async_image_format::elf) << image.name;
  EXPECT_TRUE(endsWith(images[0].name, "/test_crashcapture_image")) << images[0].name;

  // Addresses find their images: this test's code, libc's.
  EXPECT_EQ(imageAt(reinterpret_cast<const void*>(&endsWith)), images[0].name);
  const void* libcFunction = reinterpret_cast<const void*>(&gnu_get_libc_version);
  EXPECT_NE(imageAt(libcFunction).find("libc.so"), std::string::npos) << imageAt(libcFunction);
  EXPECT_EQ(imageAt(nullptr), "");

  // libc's exported functions are named from its .dynsym, also from inside.
  tlcrash_error_t error = tlcrash_error_t::unknown;
  FoundSymbol found = symbolAt(libcFunction, &error);
  EXPECT_EQ(error, tlcrash_error_t::success);
  EXPECT_EQ(found.name, "gnu_get_libc_version");
  EXPECT_EQ(found.address, reinterpret_cast<tlcrash_vm_address_t>(libcFunction));
  found = symbolAt(static_cast<const char*>(libcFunction) + 1, &error);
  EXPECT_EQ(found.name, "gnu_get_libc_version");

  // Nothing changed: a second refresh keeps the same records.
  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  const std::vector<Listed> again = listed();
  ASSERT_EQ(again.size(), images.size());
  for (std::size_t i = 0; i < images.size(); ++i)
    EXPECT_EQ(again[i].header, images[i].header);
}

TEST_F(ElfImageListTest, ARefreshFollowsDlopenAndDlclose) {
  constexpr const char* kLibrary = "libz.so.1";
  if (void* loaded = ::dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD)) {
    ::dlclose(loaded);
    GTEST_SKIP() << kLibrary << " is loaded already";
  }
  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  const std::size_t before = listed().size();

  void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  void* function = ::dlsym(library, "zlibVersion");
  ASSERT_NE(function, nullptr);
  EXPECT_EQ(imageAt(function), "") << "listed before the refresh";

  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  std::vector<Listed> images = listed();
  EXPECT_EQ(images.size(), before + 1);
  EXPECT_NE(imageAt(function).find(kLibrary), std::string::npos) << imageAt(function);
  tlcrash_error_t error = tlcrash_error_t::unknown;
  EXPECT_EQ(symbolAt(function, &error).name, "zlibVersion");
  EXPECT_EQ(error, tlcrash_error_t::success);

  ASSERT_EQ(::dlclose(library), 0);
  if (void* still = ::dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD)) {
    ::dlclose(still);
    GTEST_SKIP() << kLibrary << " stayed loaded after dlclose";
  }
  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  images = listed();
  EXPECT_EQ(images.size(), before);
  for (const Listed& image : images)
    EXPECT_EQ(image.name.find(kLibrary), std::string::npos) << image.name;
  EXPECT_EQ(imageAt(function), "");
}

TEST_F(ElfImageListTest, MachOImagesStayAcrossRefreshes) {
  // A Mach-O image in this process's memory, listed by hand.
  const std::vector<std::uint8_t> bytes =
      test::MachOBuilder::standard(true, false, {{"_f", 0x1800}}).build();
  const auto header = reinterpret_cast<tlcrash_vm_address_t>(bytes.data());
  ASSERT_EQ(tlcrash_async_image_list_append(&list_, header, "fixture"), tlcrash_error_t::success);
  // Neither a Mach-O header nor an unreadable address is taken as ELF.
  EXPECT_EQ(tlcrash_async_image_list_append_elf(&list_, header, "not elf"),
            tlcrash_error_t::invalidData);
  EXPECT_NE(tlcrash_async_image_list_append_elf(&list_, 0x10, "nothing"), tlcrash_error_t::success);

  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  const std::vector<Listed> images = listed();
  ASSERT_GE(images.size(), 2u);
  EXPECT_EQ(images[0].format, tlcrash_async_image_format::macho);
  EXPECT_EQ(images[0].header, header);
  EXPECT_EQ(images[0].name, "fixture");
  for (std::size_t i = 1; i < images.size(); ++i)
    EXPECT_EQ(images[i].format, tlcrash_async_image_format::elf) << images[i].name;
  EXPECT_EQ(imageAt(bytes.data() + 0x10), "fixture");
}

}  // namespace
}  // namespace tlcrash
