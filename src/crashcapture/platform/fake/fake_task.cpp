#include "crashcapture/platform/fake/fake_task.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace tlcrash {

bool FakeTask::insert(tlcrash_vm_address_t address, Region region) {
  if (region.size == 0 || region.size - 1 > UINT64_MAX - address) return false;
  const tlcrash_vm_address_t last = address + (region.size - 1);
  // The first region starting after `address`, and the one before it.
  auto next = regions_.upper_bound(address);
  if (next != regions_.end() && next->first <= last) return false;
  if (next != regions_.begin()) {
    const auto& [start, previous] = *std::prev(next);
    if (start + (previous.size - 1) >= address) return false;
  }
  regions_.emplace(address, std::move(region));
  return true;
}

bool FakeTask::map(tlcrash_vm_address_t address, std::span<const std::uint8_t> bytes) {
  Region region;
  region.bytes.assign(bytes.begin(), bytes.end());
  region.size = bytes.size();
  return insert(address, std::move(region));
}

bool FakeTask::mapUnreadable(tlcrash_vm_address_t address, std::size_t length) {
  Region region;
  region.bytes.assign(length, 0);
  region.size = length;
  region.readable = false;
  return insert(address, std::move(region));
}

const std::pair<const tlcrash_vm_address_t, FakeTask::Region>* FakeTask::find(
    tlcrash_vm_address_t address) const {
  auto next = regions_.upper_bound(address);
  if (next == regions_.begin()) return nullptr;
  const auto& entry = *std::prev(next);
  if (address - entry.first > entry.second.size - 1) return nullptr;
  return &entry;
}

template <class Visit>
kern_return_t FakeTask::walk(tlcrash_vm_address_t address, std::size_t length, Visit visit) const {
  std::size_t done = 0;
  while (done < length) {
    const tlcrash_vm_address_t at = address + done;
    if (at < address) return KERN_INVALID_ADDRESS;  // ran past the end of the address space
    const auto* entry = find(at);
    if (entry == nullptr) return KERN_INVALID_ADDRESS;
    const Region& region = entry->second;
    if (!region.readable) return KERN_PROTECTION_FAILURE;
    const tlcrash_vm_size_t offset = at - entry->first;
    const std::size_t count =
        static_cast<std::size_t>(std::min<tlcrash_vm_size_t>(region.size - offset, length - done));
    visit(region, static_cast<std::size_t>(offset), done, count);
    done += count;
  }
  return KERN_SUCCESS;
}

kern_return_t FakeTask::read(tlcrash_vm_address_t address, void* destination,
                             std::size_t length) const noexcept {
  // Check the whole range first so that a failed read copies nothing.
  const kern_return_t checked =
      walk(address, length, [](const Region&, std::size_t, std::size_t, std::size_t) {});
  if (checked != KERN_SUCCESS) return checked;
  auto* out = static_cast<std::uint8_t*>(destination);
  return walk(address, length,
              [out](const Region& region, std::size_t offset, std::size_t done, std::size_t count) {
                std::memcpy(out + done, region.bytes.data() + offset, count);
              });
}

std::size_t FakeTask::readablePrefix(tlcrash_vm_address_t address,
                                     std::size_t length) const noexcept {
  std::size_t readable = 0;
  walk(address, length, [&readable](const Region&, std::size_t, std::size_t, std::size_t count) {
    readable += count;
  });
  return readable;
}

bool FakeTask::write(tlcrash_vm_address_t address, std::span<const std::uint8_t> bytes) {
  // Unreadable regions may be written, so walk by presence alone.
  std::size_t done = 0;
  while (done < bytes.size()) {
    const tlcrash_vm_address_t at = address + done;
    if (at < address) return false;
    const auto* entry = find(at);
    if (entry == nullptr) return false;
    done += static_cast<std::size_t>(
        std::min<tlcrash_vm_size_t>(entry->second.size - (at - entry->first), bytes.size() - done));
  }
  done = 0;
  while (done < bytes.size()) {
    const tlcrash_vm_address_t at = address + done;
    auto it = std::prev(regions_.upper_bound(at));
    Region& region = it->second;
    const std::size_t offset = static_cast<std::size_t>(at - it->first);
    const std::size_t count = std::min<std::size_t>(region.size - offset, bytes.size() - done);
    std::memcpy(region.bytes.data() + offset, bytes.data() + done, count);
    done += count;
  }
  return true;
}

const std::uint8_t* FakeTask::localView(tlcrash_vm_address_t address,
                                        std::size_t length) const noexcept {
  if (length == 0) return nullptr;
  const auto* entry = find(address);
  if (entry == nullptr || !entry->second.readable) return nullptr;
  const tlcrash_vm_size_t offset = address - entry->first;
  if (length > entry->second.size - offset) return nullptr;
  return entry->second.bytes.data() + offset;
}

}  // namespace tlcrash
