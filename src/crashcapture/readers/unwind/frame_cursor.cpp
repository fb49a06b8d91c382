#include "crashcapture/readers/unwind/frame_cursor.h"

#include <iterator>

#include "crashcapture/readers/dwarf/dwarf_reader.h"
#include "crashcapture/readers/unwind/compact_unwind.h"
#include "crashcapture/readers/unwind/frame_ptr.h"

namespace tlcrash {
namespace {

// Instruction pointers at or below this end a walk: no code lives in the
// first page.
constexpr std::uint64_t kLowestCodeAddress = 4096;

constexpr tlcrash_async_frame_reader_t kDefaultReaders[] = {tlcrash_async_frame_read_compact_unwind,
                                                            tlcrash_async_frame_read_dwarf_unwind,
                                                            tlcrash_async_frame_read_frame_ptr};

// Whether `state`'s instruction pointer may be a caller's: above the first
// page and, where the images are known, inside one of them.
bool isCode(tlcrash_async_image_list* images, const tlcrash_async_thread_state* state) {
  if (!tlcrash_async_thread_state_has_reg(state, TLCRASH_REG_IP)) return false;
  const std::uint64_t ip = tlcrash_async_thread_state_get_reg(state, TLCRASH_REG_IP);
  if (ip <= kLowestCodeAddress) return false;
  if (images == nullptr) return true;
  tlcrash_async_image_list_set_reading(images, true);
  const bool found = tlcrash_async_image_list_image_for_address(
                         images, tlcrash_async_thread_state_lookup_pc(state)) != nullptr;
  tlcrash_async_image_list_set_reading(images, false);
  return found;
}

}  // namespace

void tlcrash_async_frame_cursor_init(tlcrash_async_frame_cursor* cursor, const Task& task,
                                     const tlcrash_async_thread_state* state,
                                     tlcrash_async_image_list* image_list) noexcept {
  cursor->task = &task;
  cursor->image_list = image_list;
  cursor->depth = 0;
  cursor->dwarf_memo.valid = false;
  tlcrash_async_thread_state_copy(&cursor->prev_frame, state);
  tlcrash_async_thread_state_copy(&cursor->frame, state);
}

tlcrash_async_frame_error_t tlcrash_async_frame_cursor_next(
    tlcrash_async_frame_cursor* cursor) noexcept {
  return tlcrash_async_frame_cursor_next_with_readers(cursor, kDefaultReaders,
                                                      std::size(kDefaultReaders));
}

tlcrash_async_frame_error_t tlcrash_async_frame_cursor_next_with_readers(
    tlcrash_async_frame_cursor* cursor, const tlcrash_async_frame_reader_t* readers,
    std::size_t reader_count) noexcept {
  using Error = tlcrash_async_frame_error_t;
  if (cursor->depth == 0) {
    cursor->depth = 1;
    return Error::success;
  }
  if (reader_count == 0) return Error::invalidArgument;

  const tlcrash_async_thread_state* previous = cursor->depth == 1 ? nullptr : &cursor->prev_frame;
  tlcrash_async_thread_state next;
  Error error = Error::unknown;
  for (std::size_t i = 0; i < reader_count; ++i) {
    // The DWARF reader keeps its last rules in the cursor.
    error = readers[i] == tlcrash_async_frame_read_dwarf_unwind
                ? tlcrash_async_frame_read_dwarf_unwind_with_memo(
                      *cursor->task, cursor->image_list, &cursor->frame, &next, &cursor->dwarf_memo)
                : readers[i](*cursor->task, cursor->image_list, &cursor->frame, previous, &next);
    if (error != Error::success) continue;
    // A caller outside every loaded image is no frame (a stack address read
    // as a return address, say): the next reader may find a better one.
    if (!isCode(cursor->image_list, &next)) {
      error = Error::noFrames;
      continue;
    }
    break;
  }
  if (error != Error::success) return error;

  tlcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
  tlcrash_async_thread_state_copy(&cursor->frame, &next);
  ++cursor->depth;
  return Error::success;
}

tlcrash_async_frame_error_t tlcrash_async_frame_cursor_get_reg(
    const tlcrash_async_frame_cursor* cursor, int reg, std::uint64_t* value) noexcept {
  if (!tlcrash_async_thread_state_has_reg(&cursor->frame, reg))
    return tlcrash_async_frame_error_t::notSupported;
  *value = tlcrash_async_thread_state_get_reg(&cursor->frame, reg);
  return tlcrash_async_frame_error_t::success;
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
  cursor->image_list = nullptr;
}

}  // namespace tlcrash
