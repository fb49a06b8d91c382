#include "crashcapture/platform/linux/elf_image_feed.h"

#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <vector>

namespace tlcrash {
namespace {

struct Found {
  std::string path;
  tlcrash_vm_address_t header = 0;
};

std::string executablePath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

int collect(dl_phdr_info* info, std::size_t, void* data) {
  auto* found = static_cast<std::vector<Found>*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& phdr = info->dlpi_phdr[i];
    if (phdr.p_type == PT_LOAD && phdr.p_offset == 0) {
      found->push_back({info->dlpi_name != nullptr ? info->dlpi_name : "",
                        static_cast<tlcrash_vm_address_t>(info->dlpi_addr + phdr.p_vaddr)});
      break;
    }
  }
  return 0;
}

int generation(dl_phdr_info* info, std::size_t size, void* data) {
  if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs)
    *static_cast<std::uint64_t*>(data) = info->dlpi_adds + info->dlpi_subs;
  return 1;  // every entry carries the same counters
}

}  // namespace

void tlcrash_linux_enumerate_elf_images(const Task& task,
                                        const std::function<void(const LoadedElfImage&)>& visit) {
  std::vector<Found> found;
  ::dl_iterate_phdr(collect, &found);
  for (std::size_t i = 0; i < found.size(); ++i) {
    LoadedElfImage loaded;
    // The loader names the main program (always first) with an empty string.
    loaded.path = found[i].path.empty() && i == 0 ? executablePath() : found[i].path;
    if (tlcrash_async_elf_image_init(&loaded.image, task, found[i].header) !=
        tlcrash_error_t::success)
      continue;
    visit(loaded);
  }
}

std::uint64_t tlcrash_linux_loaded_images_generation() {
  std::uint64_t value = 0;
  ::dl_iterate_phdr(generation, &value);
  return value;
}

}  // namespace tlcrash
