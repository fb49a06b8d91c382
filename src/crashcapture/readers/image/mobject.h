#pragma once

// Memory objects: bounded, read-only views of a range of a task's memory.
// Every access is checked against the view, so a damaged image or stack
// answers an error instead of a fault. The bytes are the task's own where it
// can lend them (Task::localView); nothing is copied.
// Crash path: every function here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"

namespace tlcrash {

struct tlcrash_async_mobject {
  const Task* task = nullptr;
  // First address of the range in the task, and the usable length from there.
  tlcrash_vm_address_t target_address = 0;
  tlcrash_vm_size_t length = 0;
  // Where the target address lies in this process.
  const std::uint8_t* local = nullptr;
};

// Views `length` bytes at `address` of `task`. With `require_full` every byte
// must be readable; without it the view is cut to the readable prefix of the
// range. noMemory when nothing (or, with `require_full`, not everything) can
// be viewed, and for a length of 0; notSupported when the task cannot lend its
// memory. `*object` is cleared on failure.
tlcrash_error_t tlcrash_async_mobject_init(tlcrash_async_mobject* object, const Task& task,
                                           tlcrash_vm_address_t address, tlcrash_vm_size_t length,
                                           bool require_full) noexcept;

// True when [pointer + offset, pointer + offset + length) lies inside the
// object's usable range, with every addition checked for overflow.
bool tlcrash_async_mobject_verify_local_pointer(const tlcrash_async_mobject* object,
                                                const void* pointer, std::size_t offset,
                                                std::size_t length) noexcept;

// The local pointer of `address` + `offset`, when that byte and the `length`
// after it lie inside the object; null otherwise.
const std::uint8_t* tlcrash_async_mobject_remap_address(const tlcrash_async_mobject* object,
                                                        tlcrash_vm_address_t address,
                                                        tlcrash_vm_off_t offset,
                                                        std::size_t length) noexcept;

// Typed reads at `address` + `offset`, converted with `byteorder`;
// invalidArgument when outside. `*result` is written only on success.
tlcrash_error_t tlcrash_async_mobject_read_uint8(const tlcrash_async_mobject* object,
                                                 tlcrash_vm_address_t address,
                                                 tlcrash_vm_off_t offset,
                                                 std::uint8_t* result) noexcept;
tlcrash_error_t tlcrash_async_mobject_read_uint16(const tlcrash_async_mobject* object,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  tlcrash_vm_off_t offset,
                                                  std::uint16_t* result) noexcept;
tlcrash_error_t tlcrash_async_mobject_read_uint32(const tlcrash_async_mobject* object,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  tlcrash_vm_off_t offset,
                                                  std::uint32_t* result) noexcept;
tlcrash_error_t tlcrash_async_mobject_read_uint64(const tlcrash_async_mobject* object,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  tlcrash_vm_off_t offset,
                                                  std::uint64_t* result) noexcept;

inline tlcrash_vm_address_t tlcrash_async_mobject_base_address(
    const tlcrash_async_mobject* object) noexcept {
  return object->target_address;
}
inline tlcrash_vm_size_t tlcrash_async_mobject_length(
    const tlcrash_async_mobject* object) noexcept {
  return object->length;
}
inline const Task* tlcrash_async_mobject_task(const tlcrash_async_mobject* object) noexcept {
  return object->task;
}

// Releases the view; the object is empty afterwards.
void tlcrash_async_mobject_free(tlcrash_async_mobject* object) noexcept;

}  // namespace tlcrash
