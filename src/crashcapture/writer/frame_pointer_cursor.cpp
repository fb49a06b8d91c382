#include "crashcapture/writer/frame_pointer_cursor.h"

#include "crashcapture/async/memory.h"

namespace tlcrash {

void tlcrash_async_frame_cursor_init(tlcrash_async_frame_cursor* cursor, const Task& task,
                                     const tlcrash_async_thread_state* state,
                                     tlcrash_async_image_list* image_list) noexcept {
  cursor->task = &task;
  cursor->image_list = image_list;
  cursor->depth = 0;
  tlcrash_async_thread_state_copy(&cursor->frame, state);
  tlcrash_async_thread_state_copy(&cursor->prev_frame, state);
}

tlcrash_async_frame_error_t tlcrash_async_frame_cursor_next(
    tlcrash_async_frame_cursor* cursor) noexcept {
  if (cursor->depth == 0) {
    cursor->depth = 1;
    return tlcrash_async_frame_error_t::success;
  }
  const tlcrash_async_thread_state& current = cursor->frame;
  if (!tlcrash_async_thread_state_has_reg(&current, TLCRASH_REG_FP))
    return tlcrash_async_frame_error_t::badFrame;
  const std::uint64_t fp = tlcrash_async_thread_state_get_reg(&current, TLCRASH_REG_FP);
  if (fp == 0) return tlcrash_async_frame_error_t::noFrames;
  if (cursor->depth > 1 &&
      tlcrash_async_thread_state_has_reg(&cursor->prev_frame, TLCRASH_REG_FP) &&
      fp < tlcrash_async_thread_state_get_reg(&cursor->prev_frame, TLCRASH_REG_FP))
    return tlcrash_async_frame_error_t::badFrame;
  const std::size_t width = tlcrash_async_thread_state_get_greg_size(&current);
  std::uint64_t words[2] = {0, 0};
  if (width == 8) {
    if (tlcrash_async_task_memcpy(*cursor->task, fp, 0, words, sizeof words) !=
        tlcrash_error_t::success)
      return tlcrash_async_frame_error_t::badFrame;
  } else {
    std::uint32_t narrow[2] = {0, 0};
    if (tlcrash_async_task_memcpy(*cursor->task, fp, 0, narrow, sizeof narrow) !=
        tlcrash_error_t::success)
      return tlcrash_async_frame_error_t::badFrame;
    words[0] = narrow[0];
    words[1] = narrow[1];
  }
  tlcrash_async_thread_state next;
  tlcrash_async_thread_state_copy(&next, &current);
  next.valid_regs = 0;
  tlcrash_async_thread_state_set_reg(&next, TLCRASH_REG_FP, words[0]);
  tlcrash_async_thread_state_set_reg(&next, TLCRASH_REG_IP, words[1]);
  if (words[1] <= 4096) return tlcrash_async_frame_error_t::noFrames;
  tlcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
  tlcrash_async_thread_state_copy(&cursor->frame, &next);
  ++cursor->depth;
  return tlcrash_async_frame_error_t::success;
}

tlcrash_error_t tlcrash_async_frame_cursor_get_reg(const tlcrash_async_frame_cursor* cursor,
                                                   int reg, std::uint64_t* value) noexcept {
  if (!tlcrash_async_thread_state_has_reg(&cursor->frame, reg))
    return tlcrash_error_t::notSupported;
  *value = tlcrash_async_thread_state_get_reg(&cursor->frame, reg);
  return tlcrash_error_t::success;
}

const char* tlcrash_async_frame_cursor_get_regname(const tlcrash_async_frame_cursor* cursor,
                                                   int reg) noexcept {
  return tlcrash_async_thread_state_get_reg_name(&cursor->frame, reg);
}

std::size_t tlcrash_async_frame_cursor_get_regcount(
    const tlcrash_async_frame_cursor* cursor) noexcept {
  return tlcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void tlcrash_async_frame_cursor_free(tlcrash_async_frame_cursor* cursor) noexcept {
  cursor->task = nullptr;
}

}  // namespace tlcrash
