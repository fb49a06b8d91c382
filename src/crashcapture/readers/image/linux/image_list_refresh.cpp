#include "crashcapture/readers/image/linux/image_list_refresh.h"

#include <mutex>
#include <string>
#include <vector>

#include "crashcapture/platform/linux/elf_image_feed.h"

namespace tlcrash {
namespace {

struct Listed {
  tlcrash_vm_address_t header = 0;
  std::string path;
};

// Two refreshes at once would both append an image they both find missing.
std::mutex& refreshMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

tlcrash_error_t tlcrash_async_image_list_refresh_elf(tlcrash_async_image_list* list) {
  const std::lock_guard<std::mutex> lock(refreshMutex());

  std::vector<Listed> loaded;
  tlcrash_linux_enumerate_elf_images(*list->task, [&loaded](const LoadedElfImage& image) {
    loaded.push_back({image.image.header_address, image.path});
  });

  std::vector<Listed> listed;
  tlcrash_async_image_list_set_reading(list, true);
  for (const tlcrash_async_image* image = tlcrash_async_image_list_next(list, nullptr);
       image != nullptr; image = tlcrash_async_image_list_next(list, image)) {
    if (image->format == tlcrash_async_image_format::elf)
      listed.push_back({image->header_addr, tlcrash_async_image_name(image)});
  }
  tlcrash_async_image_list_set_reading(list, false);

  auto same = [](const Listed& a, const Listed& b) {
    return a.header == b.header && a.path == b.path;
  };
  auto contains = [&same](const std::vector<Listed>& images, const Listed& image) {
    for (const Listed& other : images)
      if (same(other, image)) return true;
    return false;
  };

  for (const Listed& image : listed)
    if (!contains(loaded, image)) tlcrash_async_image_list_remove(list, image.header);
  tlcrash_error_t first = tlcrash_error_t::success;
  for (const Listed& image : loaded) {
    if (contains(listed, image)) continue;
    const tlcrash_error_t result =
        tlcrash_async_image_list_append_elf(list, image.header, image.path.c_str());
    if (result != tlcrash_error_t::success && first == tlcrash_error_t::success) first = result;
  }
  return first;
}

}  // namespace tlcrash
