#pragma once

// The ELF images of this process as a table the crash path can read: made by
// enumerating the loaded objects outside the crash path (the loader's lock is
// taken then) and published whole. The loader announces no loads or unloads,
// so the table is made again only when asked (at enable and before a live
// report) and the loader's generation has changed since; an object loaded
// after that is missing from a crash report.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crashcapture/image/image_list.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/writer/log_writer.h"

namespace tlcrash {

class ElfImageTable {
 public:
  // `task` (the own process) must outlive the table.
  explicit ElfImageTable(const Task& task) : task_(task) {}
  ElfImageTable(const ElfImageTable&) = delete;
  ElfImageTable& operator=(const ElfImageTable&) = delete;

  // Enumerates the loaded images again when the loader's generation changed
  // since the last time (always the first time). Not for the crash path.
  void refresh();

  // The images of the current table, after the Mach-O images of `list` (may
  // be null).
  // Crash path: async-signal-safe.
  tlcrash_log_writer_images images(tlcrash_async_image_list* list) const noexcept;

 private:
  struct Table {
    std::vector<std::string> paths;
    std::vector<tlcrash_log_writer_elf_image> entries;
  };

  const Task& task_;
  std::mutex mutex_;
  bool made_ = false;
  std::uint64_t generation_ = 0;
  std::atomic<const Table*> current_{nullptr};
  // Every table made: a crash may still be reading one that was replaced.
  std::vector<std::unique_ptr<Table>> tables_;
};

}  // namespace tlcrash
