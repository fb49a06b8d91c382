#pragma once

// A task that reads another one in blocks and keeps the last few: a stack
// walk reads many small values (unwind table entries, call-frame entries,
// saved registers) that lie close together, and each read of the underlying
// task is a system call. Reads that the blocks cannot serve (a block that is
// not wholly readable) go to the underlying task unchanged, so answers and
// errors are the same as its own. For one walk at a time, while the memory
// it reads does not change; not shared between threads.
// Crash path: async-signal-safe, no allocation.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"

namespace tlcrash {

class CachedTask final : public Task {
 public:
  // Blocks are aligned to their size, which divides a page: a block is then
  // readable as a whole or not at all.
  static constexpr std::size_t kBlockSize = 512;
  static constexpr std::size_t kBlockCount = 16;

  explicit CachedTask(const Task& base) noexcept : base_(base) {}

  kern_return_t read(tlcrash_vm_address_t address, void* destination,
                     std::size_t length) const noexcept override;
  std::size_t readablePrefix(tlcrash_vm_address_t address,
                             std::size_t length) const noexcept override {
    return base_.readablePrefix(address, length);
  }
  const std::uint8_t* localView(tlcrash_vm_address_t address,
                                std::size_t length) const noexcept override {
    return base_.localView(address, length);
  }

  // Reads of the underlying task so far (tests).
  std::size_t baseReads() const noexcept { return baseReads_; }

 private:
  struct Block {
    tlcrash_vm_address_t address;
    std::uint64_t lastUse;  // 0: empty
    std::uint8_t bytes[kBlockSize];
  };
  // The block at `address` (aligned), read now when not kept; null when it
  // cannot be read whole.
  const Block* block(tlcrash_vm_address_t address) const noexcept;

  const Task& base_;
  mutable Block blocks_[kBlockCount] = {};
  mutable const Block* last_ = nullptr;
  mutable std::uint64_t clock_ = 0;
  mutable std::size_t baseReads_ = 0;
};

}  // namespace tlcrash
