#pragma once

// The variable-length numbers of DWARF (LEB128) and the pointer encodings of
// .eh_frame (DW_EH_PE), read from a bounded window of task memory.
// Crash path: every function here is async-signal-safe.

#include <cstdint>
#include <type_traits>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {

// One LEB128 number at `location` + `offset`, its byte count into `*size`.
// invalidArgument for a byte outside `memory` (task errors as they come);
// notSupported for an unsigned number whose tenth byte still continues, or a
// signed one that still continues when 64 bits are read.
tlcrash_error_t tlcrash_async_dwarf_read_uleb128(const dwarf_memory& memory,
                                                 tlcrash_vm_address_t location,
                                                 tlcrash_vm_off_t offset, std::uint64_t* result,
                                                 tlcrash_vm_size_t* size) noexcept;
tlcrash_error_t tlcrash_async_dwarf_read_sleb128(const dwarf_memory& memory,
                                                 tlcrash_vm_address_t location,
                                                 tlcrash_vm_off_t offset, std::int64_t* result,
                                                 tlcrash_vm_size_t* size) noexcept;
// The same over a window of up to 4096 bytes of `task` at `location` +
// `offset` (invalidArgument when that address overflows).
tlcrash_error_t tlcrash_async_dwarf_read_task_uleb128(const Task& task,
                                                      tlcrash_vm_address_t location,
                                                      tlcrash_vm_off_t offset,
                                                      std::uint64_t* result,
                                                      tlcrash_vm_size_t* size) noexcept;
tlcrash_error_t tlcrash_async_dwarf_read_task_sleb128(const Task& task,
                                                      tlcrash_vm_address_t location,
                                                      tlcrash_vm_off_t offset, std::int64_t* result,
                                                      tlcrash_vm_size_t* size) noexcept;

// DW_EH_PE pointer encodings: a value format (low four bits), an application
// (bits 4-6) and the indirect bit.
inline constexpr std::uint8_t DW_EH_PE_absptr = 0x00;
inline constexpr std::uint8_t DW_EH_PE_uleb128 = 0x01;
inline constexpr std::uint8_t DW_EH_PE_udata2 = 0x02;
inline constexpr std::uint8_t DW_EH_PE_udata4 = 0x03;
inline constexpr std::uint8_t DW_EH_PE_udata8 = 0x04;
inline constexpr std::uint8_t DW_EH_PE_sleb128 = 0x09;
inline constexpr std::uint8_t DW_EH_PE_sdata2 = 0x0A;
inline constexpr std::uint8_t DW_EH_PE_sdata4 = 0x0B;
inline constexpr std::uint8_t DW_EH_PE_sdata8 = 0x0C;
inline constexpr std::uint8_t DW_EH_PE_pcrel = 0x10;
inline constexpr std::uint8_t DW_EH_PE_textrel = 0x20;
inline constexpr std::uint8_t DW_EH_PE_datarel = 0x30;
inline constexpr std::uint8_t DW_EH_PE_funcrel = 0x40;
inline constexpr std::uint8_t DW_EH_PE_aligned = 0x50;
inline constexpr std::uint8_t DW_EH_PE_indirect = 0x80;
inline constexpr std::uint8_t DW_EH_PE_omit = 0xFF;

// Reads DW_EH_PE pointers of a target whose words are `machine_ptr` (32 or
// 64 bits). Locations are addresses in the target, so a PC-relative pointer's
// base is simply the address of its own field. The four bases are unset
// until set; an encoding that needs an unset base is not supported.
template <typename machine_ptr>
class gnu_ehptr_reader {
  static_assert(std::is_same_v<machine_ptr, std::uint32_t> ||
                std::is_same_v<machine_ptr, std::uint64_t>);

 public:
  explicit gnu_ehptr_reader(const tlcrash_async_byteorder* byteorder) noexcept
      : byteorder_(byteorder) {}

  // The address of the frame section; needed by the aligned encoding.
  void set_frame_section_base(tlcrash_vm_address_t address) noexcept {
    frame_section_ = address;
    has_frame_section_ = true;
  }
  void set_text_base(machine_ptr base) noexcept {
    text_base_ = base;
    has_text_base_ = true;
  }
  void set_data_base(machine_ptr base) noexcept {
    data_base_ = base;
    has_data_base_ = true;
  }
  void set_func_base(machine_ptr base) noexcept {
    func_base_ = base;
    has_func_base_ = true;
  }

  // One pointer in `encoding` at `location` + `offset`; its size in the
  // window (alignment padding included) into `*size`. notFound for the omit
  // encoding; notSupported for an unknown format or application or a missing
  // base; invalidArgument for a field outside `memory`; an indirect pointer's
  // failed read as it comes.
  tlcrash_error_t read(const dwarf_memory& memory, tlcrash_vm_address_t location,
                       tlcrash_vm_off_t offset, std::uint8_t encoding, machine_ptr* result,
                       tlcrash_vm_size_t* size) const noexcept;

 private:
  const tlcrash_async_byteorder* byteorder_;
  tlcrash_vm_address_t frame_section_ = 0;
  machine_ptr text_base_ = 0;
  machine_ptr data_base_ = 0;
  machine_ptr func_base_ = 0;
  bool has_frame_section_ = false;
  bool has_text_base_ = false;
  bool has_data_base_ = false;
  bool has_func_base_ = false;
};

extern template class gnu_ehptr_reader<std::uint32_t>;
extern template class gnu_ehptr_reader<std::uint64_t>;

}  // namespace tlcrash::async
