#pragma once

// The few Mach-style types and constants the crash capture code is written
// against, defined here so that it builds on Linux. Values are those of the
// Mach headers, so that numbers written into reports keep their meaning.

#include <cstdint>

namespace tlcrash {

// Addresses, sizes and offsets in the address space of a task, always 64 bits
// wide whatever the target's word size.
using tlcrash_vm_address_t = std::uint64_t;
using tlcrash_vm_size_t = std::uint64_t;
using tlcrash_vm_off_t = std::int64_t;

// The result of a task or thread operation.
using kern_return_t = int;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ADDRESS = 1;
inline constexpr kern_return_t KERN_PROTECTION_FAILURE = 2;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;

// Processor types and subtypes in Mach-O numbering; reports name processors
// this way on every host.
using cpu_type_t = std::int32_t;
using cpu_subtype_t = std::int32_t;
inline constexpr cpu_type_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr cpu_type_t CPU_TYPE_X86 = 7;
inline constexpr cpu_type_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr cpu_type_t CPU_TYPE_ARM = 12;
inline constexpr cpu_type_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr cpu_subtype_t CPU_SUBTYPE_X86_ALL = 3;
inline constexpr cpu_subtype_t CPU_SUBTYPE_ARM64_ALL = 0;

// A thread of the task: on Linux its kernel thread id.
using tlcrash_thread_t = std::int32_t;

}  // namespace tlcrash
