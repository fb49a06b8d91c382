#pragma once

// The memory of a task (a process) as the crash capture code sees it: reads
// that fail with a code instead of faulting. The Linux implementation reads
// the own process through process_vm_readv (linux/self_task.h); tests use a
// sparse address space (fake/fake_task.h).

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"

namespace tlcrash {

class Task {
 public:
  virtual ~Task() = default;

  // Copies `length` bytes at `address` into `destination`. Every byte must be
  // readable, else nothing useful is in `destination` and the answer is
  // KERN_INVALID_ADDRESS (some byte is not mapped), KERN_PROTECTION_FAILURE
  // (some byte is mapped but may not be read) or KERN_FAILURE. A length of 0
  // succeeds.
  // Crash path: async-signal-safe in every implementation.
  virtual kern_return_t read(tlcrash_vm_address_t address, void* destination,
                             std::size_t length) const noexcept = 0;

  // The number of bytes from `address` on, at most `length`, that can all be
  // read: the readable prefix of the range. 0 when `address` itself cannot be
  // read.
  // Crash path: async-signal-safe in every implementation.
  virtual std::size_t readablePrefix(tlcrash_vm_address_t address,
                                     std::size_t length) const noexcept = 0;

  // The bytes of [address, address + length) where they lie in this process,
  // when the task can lend them without copying and every byte is readable;
  // null otherwise (and for a length of 0). The view stays valid while the
  // range stays mapped in the task. Memory objects of large regions (load
  // commands, symbol tables, unwind sections) read through it instead of
  // copying at crash time.
  // Crash path: async-signal-safe in every implementation.
  virtual const std::uint8_t* localView(tlcrash_vm_address_t address,
                                        std::size_t length) const noexcept {
    (void)address;
    (void)length;
    return nullptr;
  }
};

}  // namespace tlcrash
