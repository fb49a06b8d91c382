#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {

dwarf_memory::dwarf_memory(const Task& task, tlcrash_vm_address_t address,
                           tlcrash_vm_size_t length) noexcept
    : task_(&task), address_(address), length_(length) {
  if (length_ > UINT64_MAX - address_) length_ = UINT64_MAX - address_;
}

bool dwarf_memory::contains(tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                            tlcrash_vm_size_t length, tlcrash_vm_address_t* result) const noexcept {
  tlcrash_vm_address_t start = 0;
  if (!tlcrash_async_address_apply_offset(address, offset, &start)) return false;
  if (start < address_ || start > end()) return false;
  if (length > end() - start) return false;
  *result = start;
  return true;
}

bool dwarf_memory::sub_window(tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                              tlcrash_vm_size_t length, dwarf_memory* result) const noexcept {
  tlcrash_vm_address_t start = 0;
  if (task_ == nullptr || !contains(address, offset, length, &start)) return false;
  *result = dwarf_memory(*task_, start, length);
  return true;
}

tlcrash_error_t dwarf_memory::read(tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                                   void* destination, std::size_t length) const noexcept {
  tlcrash_vm_address_t start = 0;
  if (task_ == nullptr || !contains(address, offset, length, &start))
    return tlcrash_error_t::invalidArgument;
  return tlcrash_async_task_memcpy(*task_, start, 0, destination, length);
}

tlcrash_error_t dwarf_memory::read_uint8(tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                                         std::uint8_t* result) const noexcept {
  return read(address, offset, result, sizeof *result);
}

namespace {

template <class T>
tlcrash_error_t readConverted(const dwarf_memory& memory, tlcrash_vm_address_t address,
                              tlcrash_vm_off_t offset, T* result, T (*convert)(T)) noexcept {
  T value;
  const tlcrash_error_t error = memory.read(address, offset, &value, sizeof value);
  if (error != tlcrash_error_t::success) return error;
  *result = convert(value);
  return tlcrash_error_t::success;
}

}  // namespace

tlcrash_error_t dwarf_memory::read_uint16(const tlcrash_async_byteorder* byteorder,
                                          tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                                          std::uint16_t* result) const noexcept {
  return readConverted(*this, address, offset, result, byteorder->swap16);
}

tlcrash_error_t dwarf_memory::read_uint32(const tlcrash_async_byteorder* byteorder,
                                          tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                                          std::uint32_t* result) const noexcept {
  return readConverted(*this, address, offset, result, byteorder->swap32);
}

tlcrash_error_t dwarf_memory::read_uint64(const tlcrash_async_byteorder* byteorder,
                                          tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                                          std::uint64_t* result) const noexcept {
  return readConverted(*this, address, offset, result, byteorder->swap64);
}

tlcrash_error_t dwarf_read_task_word(const Task& task, const tlcrash_async_byteorder* byteorder,
                                     tlcrash_vm_address_t address, std::uint32_t* result) noexcept {
  return tlcrash_async_task_read_uint32(task, byteorder, address, 0, result);
}

tlcrash_error_t dwarf_read_task_word(const Task& task, const tlcrash_async_byteorder* byteorder,
                                     tlcrash_vm_address_t address, std::uint64_t* result) noexcept {
  return tlcrash_async_task_read_uint64(task, byteorder, address, 0, result);
}

}  // namespace tlcrash::async
