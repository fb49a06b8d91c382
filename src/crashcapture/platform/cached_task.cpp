#include "crashcapture/platform/cached_task.h"

#include <cstring>

namespace tlcrash {

const CachedTask::Block* CachedTask::block(tlcrash_vm_address_t address) const noexcept {
  // Most reads fall in the block the last one did.
  if (last_ != nullptr && last_->address == address) return last_;
  Block* oldest = &blocks_[0];
  for (Block& candidate : blocks_) {
    if (candidate.lastUse != 0 && candidate.address == address) {
      candidate.lastUse = ++clock_;
      last_ = &candidate;
      return &candidate;
    }
    if (candidate.lastUse < oldest->lastUse) oldest = &candidate;
  }
  ++baseReads_;
  if (base_.read(address, oldest->bytes, kBlockSize) != KERN_SUCCESS) {
    oldest->lastUse = 0;
    if (last_ == oldest) last_ = nullptr;
    return nullptr;
  }
  oldest->address = address;
  oldest->lastUse = ++clock_;
  last_ = oldest;
  return oldest;
}

kern_return_t CachedTask::read(tlcrash_vm_address_t address, void* destination,
                               std::size_t length) const noexcept {
  if (length == 0) return KERN_SUCCESS;
  // A range that wraps around the address space is the underlying task's to
  // refuse.
  if (length - 1 > UINT64_MAX - address) return base_.read(address, destination, length);
  auto* out = static_cast<std::uint8_t*>(destination);
  tlcrash_vm_address_t at = address;
  std::size_t left = length;
  while (left > 0) {
    const tlcrash_vm_address_t start = at & ~tlcrash_vm_address_t{kBlockSize - 1};
    const Block* found = block(start);
    if (found == nullptr) {
      ++baseReads_;
      return base_.read(address, destination, length);
    }
    const std::size_t offset = static_cast<std::size_t>(at - start);
    const std::size_t count = left < kBlockSize - offset ? left : kBlockSize - offset;
    std::memcpy(out, found->bytes + offset, count);
    out += count;
    left -= count;
    at += count;
  }
  return KERN_SUCCESS;
}

}  // namespace tlcrash
