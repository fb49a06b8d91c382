#include "crashcapture/readers/core/memory.h"

#include <bit>

namespace tlcrash {
namespace {

std::uint16_t same16(std::uint16_t v) {
  return v;
}
std::uint32_t same32(std::uint32_t v) {
  return v;
}
std::uint64_t same64(std::uint64_t v) {
  return v;
}
std::uint16_t swap16(std::uint16_t v) {
  return __builtin_bswap16(v);
}
std::uint32_t swap32(std::uint32_t v) {
  return __builtin_bswap32(v);
}
std::uint64_t swap64(std::uint64_t v) {
  return __builtin_bswap64(v);
}

constexpr tlcrash_async_byteorder kDirect = {same16, same32, same64};
constexpr tlcrash_async_byteorder kSwapped = {swap16, swap32, swap64};

template <class T>
tlcrash_error_t readTyped(const Task& task, tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                          T* result, T (*convert)(T)) noexcept {
  T value;
  const tlcrash_error_t error =
      tlcrash_async_task_memcpy(task, address, offset, &value, sizeof value);
  if (error != tlcrash_error_t::success) return error;
  *result = convert(value);
  return tlcrash_error_t::success;
}

}  // namespace

const tlcrash_async_byteorder* tlcrash_async_byteorder_direct() noexcept {
  return &kDirect;
}

const tlcrash_async_byteorder* tlcrash_async_byteorder_swapped() noexcept {
  return &kSwapped;
}

const tlcrash_async_byteorder* tlcrash_async_byteorder_little_endian() noexcept {
  return std::endian::native == std::endian::little ? &kDirect : &kSwapped;
}

const tlcrash_async_byteorder* tlcrash_async_byteorder_big_endian() noexcept {
  return std::endian::native == std::endian::big ? &kDirect : &kSwapped;
}

bool tlcrash_async_address_apply_offset(tlcrash_vm_address_t base, tlcrash_vm_off_t offset,
                                        tlcrash_vm_address_t* result) noexcept {
  if (offset >= 0) {
    const auto magnitude = static_cast<tlcrash_vm_address_t>(offset);
    if (magnitude > UINT64_MAX - base) return false;
    *result = base + magnitude;
    return true;
  }
  // Two's complement negation in unsigned arithmetic also covers INT64_MIN.
  const tlcrash_vm_address_t magnitude = 0 - static_cast<tlcrash_vm_address_t>(offset);
  if (magnitude > base) return false;
  *result = base - magnitude;
  return true;
}

tlcrash_error_t tlcrash_async_task_memcpy(const Task& task, tlcrash_vm_address_t address,
                                          tlcrash_vm_off_t offset, void* destination,
                                          std::size_t length) noexcept {
  tlcrash_vm_address_t target = 0;
  if (!tlcrash_async_address_apply_offset(address, offset, &target))
    return tlcrash_error_t::noMemory;
  switch (task.read(target, destination, length)) {
    case KERN_SUCCESS:
      return tlcrash_error_t::success;
    case KERN_INVALID_ADDRESS:
      return tlcrash_error_t::notFound;
    case KERN_PROTECTION_FAILURE:
      return tlcrash_error_t::accessDenied;
    default:
      return tlcrash_error_t::unknown;
  }
}

tlcrash_error_t tlcrash_async_task_read_uint8(const Task& task, tlcrash_vm_address_t address,
                                              tlcrash_vm_off_t offset,
                                              std::uint8_t* result) noexcept {
  return tlcrash_async_task_memcpy(task, address, offset, result, sizeof *result);
}

tlcrash_error_t tlcrash_async_task_read_uint16(const Task& task,
                                               const tlcrash_async_byteorder* byteorder,
                                               tlcrash_vm_address_t address,
                                               tlcrash_vm_off_t offset,
                                               std::uint16_t* result) noexcept {
  return readTyped(task, address, offset, result, byteorder->swap16);
}

tlcrash_error_t tlcrash_async_task_read_uint32(const Task& task,
                                               const tlcrash_async_byteorder* byteorder,
                                               tlcrash_vm_address_t address,
                                               tlcrash_vm_off_t offset,
                                               std::uint32_t* result) noexcept {
  return readTyped(task, address, offset, result, byteorder->swap32);
}

tlcrash_error_t tlcrash_async_task_read_uint64(const Task& task,
                                               const tlcrash_async_byteorder* byteorder,
                                               tlcrash_vm_address_t address,
                                               tlcrash_vm_off_t offset,
                                               std::uint64_t* result) noexcept {
  return readTyped(task, address, offset, result, byteorder->swap64);
}

}  // namespace tlcrash
