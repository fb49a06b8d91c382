#include "crashcapture/capture/reporter_setup/linux/process_images.h"

#include "crashcapture/platform/linux/elf_image_feed.h"
#include "crashcapture/readers/image/linux/image_list_refresh.h"

namespace tlcrash {

ProcessImages::ProcessImages(const Task& task)
    : ready_(tlcrash_async_image_list_init(&list_, task) == tlcrash_error_t::success) {}

ProcessImages::~ProcessImages() {
  if (ready_) tlcrash_async_image_list_free(&list_);
}

void ProcessImages::refresh() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!ready_) return;
  const std::uint64_t generation = tlcrash_linux_loaded_images_generation();
  if (refreshed_ && generation == generation_) return;
  // An image that cannot be read is left out; the others are listed.
  tlcrash_async_image_list_refresh_elf(&list_);
  refreshed_ = true;
  generation_ = generation;
}

}  // namespace tlcrash
