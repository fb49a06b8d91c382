#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "crashcapture/platform/task.h"

namespace tlcrash {

// A sparse address space for tests: regions of bytes at chosen addresses,
// readable or not, with unmapped gaps between them. Reads never touch the
// test's own memory outside the regions' copies. Not thread-safe: set it up,
// then read.
class FakeTask final : public Task {
 public:
  // Maps a copy of `bytes` at `address`. False (nothing mapped) when the
  // region is empty, would pass the end of the address space or overlaps one
  // already mapped.
  bool map(tlcrash_vm_address_t address, std::span<const std::uint8_t> bytes);
  // Maps `length` bytes at `address` that exist but may not be read.
  bool mapUnreadable(tlcrash_vm_address_t address, std::size_t length);
  // Overwrites mapped bytes (readable or not). False, changing nothing, when
  // some byte is not mapped.
  bool write(tlcrash_vm_address_t address, std::span<const std::uint8_t> bytes);

  // Reads may span adjacent regions. A byte in no region gives
  // KERN_INVALID_ADDRESS, one in an unreadable region KERN_PROTECTION_FAILURE
  // (whichever the range meets first); nothing is copied then.
  kern_return_t read(tlcrash_vm_address_t address, void* destination,
                     std::size_t length) const noexcept override;
  std::size_t readablePrefix(tlcrash_vm_address_t address,
                             std::size_t length) const noexcept override;
  // A view into the copy held by one readable region; null when the range
  // leaves its region (even into an adjacent one) or is empty. Valid while the
  // task lives; write() changes what it shows.
  const std::uint8_t* localView(tlcrash_vm_address_t address,
                                std::size_t length) const noexcept override;

 private:
  struct Region {
    std::vector<std::uint8_t> bytes;
    tlcrash_vm_size_t size = 0;
    bool readable = true;
  };

  bool insert(tlcrash_vm_address_t address, Region region);
  // The region holding `address`, or null.
  const std::pair<const tlcrash_vm_address_t, Region>* find(tlcrash_vm_address_t address) const;
  // Walks the range region by region; `visit(region, offset in region, count)`
  // is called for each piece. Answers the first failure met, or KERN_SUCCESS.
  template <class Visit>
  kern_return_t walk(tlcrash_vm_address_t address, std::size_t length, Visit visit) const;

  std::map<tlcrash_vm_address_t, Region> regions_;
};

}  // namespace tlcrash
