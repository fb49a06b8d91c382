#pragma once

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/task.h"

namespace tlcrash {

// The memory of the calling process, read with process_vm_readv(2) so that a
// bad address answers an error instead of a fault. Create it outside the
// crash path (it asks for the page size once); its reads may then run in a
// signal handler. In a forked child it reads the child.
class SelfTask final : public Task {
 public:
  SelfTask();

  // A read that stops short (its end is not mapped) answers
  // KERN_INVALID_ADDRESS, as does a bad start (EFAULT); EPERM or EACCES answer
  // KERN_PROTECTION_FAILURE. Pages that are mapped but not readable cannot be
  // told apart from unmapped ones here.
  // Crash path: async-signal-safe; errno is kept.
  kern_return_t read(tlcrash_vm_address_t address, void* destination,
                     std::size_t length) const noexcept override;

  // Probes one byte per page (many pages per system call) up to the first
  // page that cannot be read.
  // Crash path: async-signal-safe; errno is kept.
  std::size_t readablePrefix(tlcrash_vm_address_t address,
                             std::size_t length) const noexcept override;

  // The range itself: the task is this process. Null when some byte of it
  // cannot be read.
  // Crash path: async-signal-safe; errno is kept.
  const std::uint8_t* localView(tlcrash_vm_address_t address,
                                std::size_t length) const noexcept override;

  std::size_t pageSize() const { return pageSize_; }

 private:
  std::size_t pageSize_;
};

}  // namespace tlcrash
