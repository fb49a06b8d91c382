#include "crashcapture/readers/dwarf/dwarf_encoding.h"

namespace tlcrash::async {
namespace {

constexpr tlcrash_vm_size_t kTaskLebWindow = 4096;

// Reads the 7-bit groups of one LEB128 number (at most ten bytes): the bits
// without sign extension, how many bits they fill, the byte count and the
// last byte.
tlcrash_error_t read_leb128_groups(const dwarf_memory& memory, tlcrash_vm_address_t location,
                                   tlcrash_vm_off_t offset, std::uint64_t* value, unsigned* bits,
                                   tlcrash_vm_size_t* size, std::uint8_t* last) noexcept {
  tlcrash_vm_address_t start = 0;
  if (!tlcrash_async_address_apply_offset(location, offset, &start))
    return tlcrash_error_t::invalidArgument;
  std::uint64_t groups = 0;
  unsigned shift = 0;
  tlcrash_vm_size_t count = 0;
  std::uint8_t byte = 0;
  do {
    const tlcrash_error_t error =
        memory.read_uint8(start, static_cast<tlcrash_vm_off_t>(count), &byte);
    if (error != tlcrash_error_t::success) return error;
    groups |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    shift += 7;
    ++count;
  } while ((byte & 0x80) != 0 && shift < 64);
  if ((byte & 0x80) != 0) return tlcrash_error_t::notSupported;
  *value = groups;
  *bits = shift;
  *size = count;
  *last = byte;
  return tlcrash_error_t::success;
}

}  // namespace

tlcrash_error_t tlcrash_async_dwarf_read_uleb128(const dwarf_memory& memory,
                                                 tlcrash_vm_address_t location,
                                                 tlcrash_vm_off_t offset, std::uint64_t* result,
                                                 tlcrash_vm_size_t* size) noexcept {
  unsigned bits = 0;
  std::uint8_t last = 0;
  return read_leb128_groups(memory, location, offset, result, &bits, size, &last);
}

tlcrash_error_t tlcrash_async_dwarf_read_sleb128(const dwarf_memory& memory,
                                                 tlcrash_vm_address_t location,
                                                 tlcrash_vm_off_t offset, std::int64_t* result,
                                                 tlcrash_vm_size_t* size) noexcept {
  std::uint64_t value = 0;
  unsigned bits = 0;
  std::uint8_t last = 0;
  const tlcrash_error_t error =
      read_leb128_groups(memory, location, offset, &value, &bits, size, &last);
  if (error != tlcrash_error_t::success) return error;
  if (bits < 64 && (last & 0x40) != 0) value |= ~std::uint64_t{0} << bits;
  *result = static_cast<std::int64_t>(value);
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_dwarf_read_task_uleb128(const Task& task,
                                                      tlcrash_vm_address_t location,
                                                      tlcrash_vm_off_t offset,
                                                      std::uint64_t* result,
                                                      tlcrash_vm_size_t* size) noexcept {
  tlcrash_vm_address_t start = 0;
  if (!tlcrash_async_address_apply_offset(location, offset, &start))
    return tlcrash_error_t::invalidArgument;
  return tlcrash_async_dwarf_read_uleb128(dwarf_memory(task, start, kTaskLebWindow), start, 0,
                                          result, size);
}

tlcrash_error_t tlcrash_async_dwarf_read_task_sleb128(const Task& task,
                                                      tlcrash_vm_address_t location,
                                                      tlcrash_vm_off_t offset, std::int64_t* result,
                                                      tlcrash_vm_size_t* size) noexcept {
  tlcrash_vm_address_t start = 0;
  if (!tlcrash_async_address_apply_offset(location, offset, &start))
    return tlcrash_error_t::invalidArgument;
  return tlcrash_async_dwarf_read_sleb128(dwarf_memory(task, start, kTaskLebWindow), start, 0,
                                          result, size);
}

template <typename machine_ptr>
tlcrash_error_t gnu_ehptr_reader<machine_ptr>::read(const dwarf_memory& memory,
                                                    tlcrash_vm_address_t location,
                                                    tlcrash_vm_off_t offset, std::uint8_t encoding,
                                                    machine_ptr* result,
                                                    tlcrash_vm_size_t* size) const noexcept {
  if (encoding == DW_EH_PE_omit) return tlcrash_error_t::notFound;
  tlcrash_vm_address_t field = 0;
  if (!tlcrash_async_address_apply_offset(location, offset, &field))
    return tlcrash_error_t::invalidArgument;

  machine_ptr base = 0;
  tlcrash_vm_size_t padding = 0;
  switch (encoding & 0x70) {
    case DW_EH_PE_absptr:
      break;
    case DW_EH_PE_pcrel:
      base = static_cast<machine_ptr>(field);
      break;
    case DW_EH_PE_textrel:
      if (!has_text_base_) return tlcrash_error_t::notSupported;
      base = text_base_;
      break;
    case DW_EH_PE_datarel:
      if (!has_data_base_) return tlcrash_error_t::notSupported;
      base = data_base_;
      break;
    case DW_EH_PE_funcrel:
      if (!has_func_base_) return tlcrash_error_t::notSupported;
      base = func_base_;
      break;
    case DW_EH_PE_aligned: {
      if (!has_frame_section_) return tlcrash_error_t::notSupported;
      constexpr tlcrash_vm_size_t word = sizeof(machine_ptr);
      const tlcrash_vm_size_t misalignment = field % word;
      padding = misalignment == 0 ? 0 : word - misalignment;
      if (padding > UINT64_MAX - field) return tlcrash_error_t::invalidArgument;
      field += padding;
      break;
    }
    default:
      return tlcrash_error_t::notSupported;
  }

  machine_ptr value = 0;
  tlcrash_vm_size_t valueSize = 0;
  tlcrash_error_t error = tlcrash_error_t::success;
  switch (encoding & 0x0F) {
    case DW_EH_PE_absptr:
      if constexpr (sizeof(machine_ptr) == 4) {
        std::uint32_t word = 0;
        error = memory.read_uint32(byteorder_, field, 0, &word);
        value = word;
      } else {
        std::uint64_t word = 0;
        error = memory.read_uint64(byteorder_, field, 0, &word);
        value = static_cast<machine_ptr>(word);
      }
      valueSize = sizeof(machine_ptr);
      break;
    case DW_EH_PE_uleb128: {
      std::uint64_t number = 0;
      error = tlcrash_async_dwarf_read_uleb128(memory, field, 0, &number, &valueSize);
      value = static_cast<machine_ptr>(number);
      break;
    }
    case DW_EH_PE_udata2: {
      std::uint16_t number = 0;
      error = memory.read_uint16(byteorder_, field, 0, &number);
      value = number;
      valueSize = 2;
      break;
    }
    case DW_EH_PE_udata4: {
      std::uint32_t number = 0;
      error = memory.read_uint32(byteorder_, field, 0, &number);
      value = static_cast<machine_ptr>(number);
      valueSize = 4;
      break;
    }
    case DW_EH_PE_udata8:
    case DW_EH_PE_sdata8: {
      std::uint64_t number = 0;
      error = memory.read_uint64(byteorder_, field, 0, &number);
      value = static_cast<machine_ptr>(number);
      valueSize = 8;
      break;
    }
    case DW_EH_PE_sleb128: {
      std::int64_t number = 0;
      error = tlcrash_async_dwarf_read_sleb128(memory, field, 0, &number, &valueSize);
      value = static_cast<machine_ptr>(number);
      break;
    }
    case DW_EH_PE_sdata2: {
      std::uint16_t number = 0;
      error = memory.read_uint16(byteorder_, field, 0, &number);
      value =
          static_cast<machine_ptr>(static_cast<std::int64_t>(static_cast<std::int16_t>(number)));
      valueSize = 2;
      break;
    }
    case DW_EH_PE_sdata4: {
      std::uint32_t number = 0;
      error = memory.read_uint32(byteorder_, field, 0, &number);
      value =
          static_cast<machine_ptr>(static_cast<std::int64_t>(static_cast<std::int32_t>(number)));
      valueSize = 4;
      break;
    }
    default:
      return tlcrash_error_t::notSupported;
  }
  if (error != tlcrash_error_t::success) return error;

  value = static_cast<machine_ptr>(base + value);
  if ((encoding & DW_EH_PE_indirect) != 0) {
    const Task* task = memory.task();
    if (task == nullptr) return tlcrash_error_t::invalidArgument;
    machine_ptr target = 0;
    error = dwarf_read_task_word(*task, byteorder_, value, &target);
    if (error != tlcrash_error_t::success) return error;
    value = target;
  }
  *result = value;
  *size = padding + valueSize;
  return tlcrash_error_t::success;
}

template class gnu_ehptr_reader<std::uint32_t>;
template class gnu_ehptr_reader<std::uint64_t>;

}  // namespace tlcrash::async
