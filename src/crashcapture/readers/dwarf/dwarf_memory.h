#pragma once

// A bounded window of a task's memory, as the DWARF call-frame reader reads
// it: a section, one entry of it, or one expression. Every read is checked
// against the window (a byte outside gives invalidArgument) and then goes to
// the task, which fails instead of faulting. The window owns nothing and is
// copied freely.
// Crash path: every function here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"

namespace tlcrash::async {

class dwarf_memory {
 public:
  // An empty window: every read gives invalidArgument.
  dwarf_memory() noexcept = default;
  // [address, address + length), cut short where it would pass the end of
  // the address space.
  dwarf_memory(const Task& task, tlcrash_vm_address_t address, tlcrash_vm_size_t length) noexcept;

  const Task* task() const noexcept { return task_; }
  tlcrash_vm_address_t address() const noexcept { return address_; }
  tlcrash_vm_size_t length() const noexcept { return length_; }
  // One past the last byte.
  tlcrash_vm_address_t end() const noexcept { return address_ + length_; }

  // `address` + `offset` into `*result` when the `length` bytes there lie
  // inside the window (a length of 0 needs only its start inside or at the
  // end); false otherwise, also when the sum overflows.
  bool contains(tlcrash_vm_address_t address, tlcrash_vm_off_t offset, tlcrash_vm_size_t length,
                tlcrash_vm_address_t* result) const noexcept;
  // The part [address + offset, + length) of this window; false when it does
  // not lie inside.
  bool sub_window(tlcrash_vm_address_t address, tlcrash_vm_off_t offset, tlcrash_vm_size_t length,
                  dwarf_memory* result) const noexcept;

  // Copies `length` bytes at `address` + `offset`. invalidArgument when some
  // byte lies outside the window; the task's read errors otherwise
  // (tlcrash_async_task_memcpy).
  tlcrash_error_t read(tlcrash_vm_address_t address, tlcrash_vm_off_t offset, void* destination,
                       std::size_t length) const noexcept;
  tlcrash_error_t read_uint8(tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                             std::uint8_t* result) const noexcept;
  tlcrash_error_t read_uint16(const tlcrash_async_byteorder* byteorder,
                              tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                              std::uint16_t* result) const noexcept;
  tlcrash_error_t read_uint32(const tlcrash_async_byteorder* byteorder,
                              tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                              std::uint32_t* result) const noexcept;
  tlcrash_error_t read_uint64(const tlcrash_async_byteorder* byteorder,
                              tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                              std::uint64_t* result) const noexcept;

 private:
  const Task* task_ = nullptr;
  tlcrash_vm_address_t address_ = 0;
  tlcrash_vm_size_t length_ = 0;
};

// Reads one machine word (4 or 8 bytes) of a task at `address` through
// `byteorder`; errors as for tlcrash_async_task_memcpy.
tlcrash_error_t dwarf_read_task_word(const Task& task, const tlcrash_async_byteorder* byteorder,
                                     tlcrash_vm_address_t address, std::uint32_t* result) noexcept;
tlcrash_error_t dwarf_read_task_word(const Task& task, const tlcrash_async_byteorder* byteorder,
                                     tlcrash_vm_address_t address, std::uint64_t* result) noexcept;

}  // namespace tlcrash::async
