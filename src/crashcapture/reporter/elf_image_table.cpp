#include "crashcapture/reporter/elf_image_table.h"

#include "crashcapture/platform/linux/elf_image_feed.h"

namespace tlcrash {

void ElfImageTable::refresh() {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::uint64_t generation = tlcrash_linux_loaded_images_generation();
  if (made_ && generation == generation_) return;
  auto table = std::make_unique<Table>();
  std::vector<tlcrash_async_elf_image> images;
  tlcrash_linux_enumerate_elf_images(task_, [&](const LoadedElfImage& loaded) {
    table->paths.push_back(loaded.path);
    images.push_back(loaded.image);
  });
  // The paths are all in place before the entries point into them.
  table->entries.reserve(images.size());
  for (std::size_t i = 0; i < images.size(); ++i)
    table->entries.push_back(tlcrash_log_writer_elf_image{table->paths[i].c_str(), images[i]});
  current_.store(table.get(), std::memory_order_release);
  tables_.push_back(std::move(table));
  made_ = true;
  generation_ = generation;
}

tlcrash_log_writer_images ElfImageTable::images(tlcrash_async_image_list* list) const noexcept {
  const Table* table = current_.load(std::memory_order_acquire);
  if (table == nullptr) return {list, nullptr, 0};
  return {list, table->entries.data(), table->entries.size()};
}

}  // namespace tlcrash
