#include "crashcapture/readers/image/mobject.h"

#include <cstring>

namespace tlcrash {
namespace {

template <class T>
tlcrash_error_t readTyped(const tlcrash_async_mobject* object, tlcrash_vm_address_t address,
                          tlcrash_vm_off_t offset, T* result, T (*convert)(T)) noexcept {
  const std::uint8_t* local =
      tlcrash_async_mobject_remap_address(object, address, offset, sizeof(T));
  if (local == nullptr) return tlcrash_error_t::invalidArgument;
  T value;
  std::memcpy(&value, local, sizeof value);
  *result = convert(value);
  return tlcrash_error_t::success;
}

std::uint8_t same8(std::uint8_t v) {
  return v;
}

}  // namespace

tlcrash_error_t tlcrash_async_mobject_init(tlcrash_async_mobject* object, const Task& task,
                                           tlcrash_vm_address_t address, tlcrash_vm_size_t length,
                                           bool require_full) noexcept {
  *object = {};
  if (length == 0 || length > SIZE_MAX) return tlcrash_error_t::noMemory;
  std::size_t usable = static_cast<std::size_t>(length);
  if (!require_full) {
    usable = task.readablePrefix(address, usable);
    if (usable == 0) return tlcrash_error_t::noMemory;
  }
  const std::uint8_t* local = task.localView(address, usable);
  if (local == nullptr) {
    // Tell "cannot be read" from "cannot be lent".
    if (task.readablePrefix(address, usable) != usable) return tlcrash_error_t::noMemory;
    return tlcrash_error_t::notSupported;
  }
  object->task = &task;
  object->target_address = address;
  object->length = usable;
  object->local = local;
  return tlcrash_error_t::success;
}

bool tlcrash_async_mobject_verify_local_pointer(const tlcrash_async_mobject* object,
                                                const void* pointer, std::size_t offset,
                                                std::size_t length) noexcept {
  const auto start = reinterpret_cast<std::uintptr_t>(object->local);
  const auto at = reinterpret_cast<std::uintptr_t>(pointer);
  if (object->local == nullptr || at < start) return false;
  if (offset > UINTPTR_MAX - at) return false;
  const std::uintptr_t first = at + offset;
  if (length > UINTPTR_MAX - first) return false;
  const std::uintptr_t end = first + length;
  return end - start <= object->length;
}

const std::uint8_t* tlcrash_async_mobject_remap_address(const tlcrash_async_mobject* object,
                                                        tlcrash_vm_address_t address,
                                                        tlcrash_vm_off_t offset,
                                                        std::size_t length) noexcept {
  tlcrash_vm_address_t target = 0;
  if (object->local == nullptr || !tlcrash_async_address_apply_offset(address, offset, &target))
    return nullptr;
  if (target < object->target_address) return nullptr;
  const tlcrash_vm_size_t skip = target - object->target_address;
  if (skip > object->length || length > object->length - skip) return nullptr;
  return object->local + skip;
}

tlcrash_error_t tlcrash_async_mobject_read_uint8(const tlcrash_async_mobject* object,
                                                 tlcrash_vm_address_t address,
                                                 tlcrash_vm_off_t offset,
                                                 std::uint8_t* result) noexcept {
  return readTyped(object, address, offset, result, same8);
}

tlcrash_error_t tlcrash_async_mobject_read_uint16(const tlcrash_async_mobject* object,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  tlcrash_vm_off_t offset,
                                                  std::uint16_t* result) noexcept {
  return readTyped(object, address, offset, result, byteorder->swap16);
}

tlcrash_error_t tlcrash_async_mobject_read_uint32(const tlcrash_async_mobject* object,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  tlcrash_vm_off_t offset,
                                                  std::uint32_t* result) noexcept {
  return readTyped(object, address, offset, result, byteorder->swap32);
}

tlcrash_error_t tlcrash_async_mobject_read_uint64(const tlcrash_async_mobject* object,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  tlcrash_vm_off_t offset,
                                                  std::uint64_t* result) noexcept {
  return readTyped(object, address, offset, result, byteorder->swap64);
}

void tlcrash_async_mobject_free(tlcrash_async_mobject* object) noexcept {
  *object = {};
}

}  // namespace tlcrash
