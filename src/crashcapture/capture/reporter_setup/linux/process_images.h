#pragma once

// The images of this process as the crash path reads them: a loaded-image
// list kept in line with what the dynamic loader has loaded. The loader
// announces no loads or unloads, so the list is refreshed only when asked (at
// enable and before a live report) and the loader's generation has changed
// since; an object loaded after that is missing from a crash report. The
// frame cursor's readers find the unwind tables of ELF images through the
// same list.

#include <cstdint>
#include <mutex>

#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/image/image_list.h"

namespace tlcrash {

class ProcessImages {
 public:
  // `task` (the own process) must outlive the images.
  explicit ProcessImages(const Task& task);
  ~ProcessImages();
  ProcessImages(const ProcessImages&) = delete;
  ProcessImages& operator=(const ProcessImages&) = delete;

  // Enumerates the loaded images again when the loader's generation changed
  // since the last time (always the first time). Not for the crash path.
  void refresh();

  // The list the writer reports; null when it could not be made.
  // Crash path: async-signal-safe.
  tlcrash_log_writer_images images() noexcept { return {ready_ ? &list_ : nullptr}; }

 private:
  std::mutex mutex_;
  tlcrash_async_image_list list_;
  bool ready_ = false;
  bool refreshed_ = false;
  std::uint64_t generation_ = 0;
};

}  // namespace tlcrash
