#include "crashcapture/readers/unwind/frame_ptr.h"

#include <cstdint>

#include "crashcapture/readers/core/memory.h"

namespace tlcrash {
namespace {

// A word of the thread's width at `address` + `offset`; x86 stacks are
// little-endian.
bool readWord(const Task& task, std::size_t width, tlcrash_vm_address_t address,
              tlcrash_vm_off_t offset, std::uint64_t* word) {
  const tlcrash_async_byteorder* order = tlcrash_async_byteorder_little_endian();
  if (width == 4) {
    std::uint32_t value = 0;
    if (tlcrash_async_task_read_uint32(task, order, address, offset, &value) !=
        tlcrash_error_t::success)
      return false;
    *word = value;
    return true;
  }
  return tlcrash_async_task_read_uint64(task, order, address, offset, word) ==
         tlcrash_error_t::success;
}

}  // namespace

tlcrash_async_frame_error_t tlcrash_async_frame_read_frame_ptr(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept {
  (void)image_list;
  using Error = tlcrash_async_frame_error_t;
  if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_FP)) return Error::badFrame;
  const std::uint64_t fp = tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_FP);
  if (fp == 0) return Error::noFrames;

  if (previous != nullptr && tlcrash_async_thread_state_has_reg(previous, TLCRASH_REG_FP)) {
    const std::uint64_t previousFp = tlcrash_async_thread_state_get_reg(previous, TLCRASH_REG_FP);
    const int direction = tlcrash_async_thread_state_get_stack_direction(current);
    if (direction == 2 && fp < previousFp) return Error::badFrame;
    if (direction == 1 && fp > previousFp) return Error::badFrame;
  }

  const std::size_t width = tlcrash_async_thread_state_get_greg_size(current);
  std::uint64_t callerFp = 0;
  std::uint64_t returnAddress = 0;
  if (!readWord(task, width, fp, 0, &callerFp) ||
      !readWord(task, width, fp, static_cast<tlcrash_vm_off_t>(width), &returnAddress))
    return Error::badFrame;

  tlcrash_async_thread_state_copy(next, current);
  next->valid_regs = 0;
  tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_FP, callerFp);
  tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_IP, returnAddress);
  next->ip_is_return_address = true;
  return Error::success;
}

}  // namespace tlcrash
