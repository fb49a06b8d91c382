#include "crashcapture/unwind/dwarf_reader.h"

#include "crashcapture/async/dwarf_unwind.h"
#include "crashcapture/image/macho.h"
#include "crashcapture/image/mobject.h"

namespace tlcrash {
namespace {

tlcrash_async_frame_error_t unwindInImage(const Task& task, const tlcrash_async_macho* image,
                                          const tlcrash_async_thread_state* current,
                                          tlcrash_async_thread_state* next) noexcept {
  tlcrash_async_mobject mapped{};
  bool debugFrame = false;
  if (tlcrash_async_macho_map_section(image, "__TEXT", "__eh_frame", &mapped) !=
      tlcrash_error_t::success) {
    if (tlcrash_async_macho_map_section(image, "__DWARF", "__debug_frame", &mapped) !=
        tlcrash_error_t::success)
      return tlcrash_async_frame_error_t::noFrames;
    debugFrame = true;
  }
  const tlcrash_async_dwarf_section section = {tlcrash_async_mobject_base_address(&mapped),
                                               tlcrash_async_mobject_length(&mapped),
                                               tlcrash_async_macho_byteorder(image),
                                               image->m64,
                                               debugFrame,
                                               0};
  const tlcrash_async_frame_error_t error =
      tlcrash_async_dwarf_unwind_frame(task, section, current, next);
  tlcrash_async_mobject_free(&mapped);
  return error;
}

}  // namespace

tlcrash_async_frame_error_t tlcrash_async_frame_read_dwarf_unwind(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept {
  (void)previous;
  using Error = tlcrash_async_frame_error_t;
  if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_IP)) return Error::badFrame;
  const std::uint64_t pc = tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_IP);
  if (pc == 0 || image_list == nullptr) return Error::notSupported;

  tlcrash_async_image_list_set_reading(image_list, true);
  const tlcrash_async_macho* image = tlcrash_async_image_list_image_for_address(image_list, pc);
  const Error error =
      image == nullptr ? Error::notSupported : unwindInImage(task, image, current, next);
  tlcrash_async_image_list_set_reading(image_list, false);
  return error;
}

}  // namespace tlcrash
