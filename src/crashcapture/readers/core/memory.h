#pragma once

// Address arithmetic that cannot overflow, and reads of task memory that fail
// instead of faulting, with conversion from the target's byte order.
// Crash path: every function here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

// Conversion of 16-, 32- and 64-bit values between a target's byte order and
// the host's.
struct tlcrash_async_byteorder {
  std::uint16_t (*swap16)(std::uint16_t);
  std::uint32_t (*swap32)(std::uint32_t);
  std::uint64_t (*swap64)(std::uint64_t);
};

// The identity table (the target has the host's order) and the byte-reversing
// one.
const tlcrash_async_byteorder* tlcrash_async_byteorder_direct() noexcept;
const tlcrash_async_byteorder* tlcrash_async_byteorder_swapped() noexcept;
// The table that reads little- or big-endian data on this host.
const tlcrash_async_byteorder* tlcrash_async_byteorder_little_endian() noexcept;
const tlcrash_async_byteorder* tlcrash_async_byteorder_big_endian() noexcept;

// `base` + `offset` into `*result`. False, leaving `*result` alone, when a
// positive offset carries past 2^64 - 1 or a negative one is larger than
// `base`.
bool tlcrash_async_address_apply_offset(tlcrash_vm_address_t base, tlcrash_vm_off_t offset,
                                        tlcrash_vm_address_t* result) noexcept;

// Copies `length` bytes at `address` + `offset` of `task` into `destination`.
// noMemory when the address overflows (nothing is read); notFound when some
// byte is not mapped, accessDenied when it may not be read, unknown for any
// other failure.
tlcrash_error_t tlcrash_async_task_memcpy(const Task& task, tlcrash_vm_address_t address,
                                          tlcrash_vm_off_t offset, void* destination,
                                          std::size_t length) noexcept;

// Typed reads at `address` + `offset`, converted with `byteorder` (the
// one-byte read converts nothing). Errors as for tlcrash_async_task_memcpy;
// `*result` is written only on success.
tlcrash_error_t tlcrash_async_task_read_uint8(const Task& task, tlcrash_vm_address_t address,
                                              tlcrash_vm_off_t offset,
                                              std::uint8_t* result) noexcept;
tlcrash_error_t tlcrash_async_task_read_uint16(const Task& task,
                                               const tlcrash_async_byteorder* byteorder,
                                               tlcrash_vm_address_t address,
                                               tlcrash_vm_off_t offset,
                                               std::uint16_t* result) noexcept;
tlcrash_error_t tlcrash_async_task_read_uint32(const Task& task,
                                               const tlcrash_async_byteorder* byteorder,
                                               tlcrash_vm_address_t address,
                                               tlcrash_vm_off_t offset,
                                               std::uint32_t* result) noexcept;
tlcrash_error_t tlcrash_async_task_read_uint64(const Task& task,
                                               const tlcrash_async_byteorder* byteorder,
                                               tlcrash_vm_address_t address,
                                               tlcrash_vm_off_t offset,
                                               std::uint64_t* result) noexcept;

}  // namespace tlcrash
