#include "crashcapture/readers/dwarf/dwarf_reader.h"

#include "crashcapture/readers/core/elf_image.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {
namespace {

tlcrash_async_frame_error_t unwindInMachO(const Task& task, const tlcrash_async_macho* image,
                                          const tlcrash_async_thread_state* current,
                                          tlcrash_async_thread_state* next,
                                          tlcrash_async_dwarf_unwind_memo* memo) noexcept {
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
      tlcrash_async_dwarf_unwind_frame(task, section, current, next, memo);
  tlcrash_async_mobject_free(&mapped);
  return error;
}

// An ELF image's .eh_frame, read at the one FDE that .eh_frame_hdr's search
// table names for the PC; a PC the table places in no FDE is not unwound
// here. Only an image without a table has its section searched from the
// start. The image's own reads go through `task` too, so that a caching task
// serves the table search.
tlcrash_async_frame_error_t unwindInElf(const Task& task, const tlcrash_async_elf_image* image,
                                        std::uint64_t pc, const tlcrash_async_thread_state* current,
                                        tlcrash_async_thread_state* next,
                                        tlcrash_async_dwarf_unwind_memo* memo) noexcept {
  tlcrash_async_elf_image readThroughTask = *image;
  readThroughTask.task = &task;
  const tlcrash_vm_address_t ehFrame = tlcrash_async_elf_eh_frame(&readThroughTask);
  const tlcrash_vm_size_t extent = tlcrash_async_elf_eh_frame_extent(image, ehFrame);
  if (extent == 0) return tlcrash_async_frame_error_t::noFrames;
  tlcrash_vm_off_t fdeOffset = 0;
  bool exact = false;
  // Rules the memo holds for this PC need no search (the section is then
  // entered as without a table, and not read).
  const bool remembered = memo != nullptr && memo->valid && memo->pc == pc &&
                          memo->section_address == ehFrame && memo->section_length == extent;
  switch (remembered ? tlcrash_error_t::unknown
                     : tlcrash_async_elf_find_fde_offset(&readThroughTask, pc, &fdeOffset)) {
    case tlcrash_error_t::success:
      exact = true;
      break;
    case tlcrash_error_t::notFound:
      // Below the table's first function, or no table at all.
      if (image->eh_frame_hdr != 0) return tlcrash_async_frame_error_t::notSupported;
      break;
    default:
      // A table not read here, or a damaged one.
      break;
  }
  tlcrash_async_dwarf_section section = {ehFrame, extent, tlcrash_async_byteorder_little_endian(),
                                         true,    false,  fdeOffset};
  section.fde_exact = exact;
  return tlcrash_async_dwarf_unwind_frame(task, section, current, next, memo);
}

tlcrash_async_frame_error_t unwindInImage(const Task& task, const tlcrash_async_image* image,
                                          std::uint64_t pc,
                                          const tlcrash_async_thread_state* current,
                                          tlcrash_async_thread_state* next,
                                          tlcrash_async_dwarf_unwind_memo* memo) noexcept {
  if (image->format == tlcrash_async_image_format::elf)
    return unwindInElf(task, &image->elf, pc, current, next, memo);
  return unwindInMachO(task, &image->macho, current, next, memo);
}

}  // namespace

tlcrash_async_frame_error_t tlcrash_async_frame_read_dwarf_unwind_with_memo(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, tlcrash_async_thread_state* next,
    tlcrash_async_dwarf_unwind_memo* memo) noexcept {
  using Error = tlcrash_async_frame_error_t;
  if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_IP)) return Error::badFrame;
  if (tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_IP) == 0 || image_list == nullptr)
    return Error::notSupported;
  const std::uint64_t pc = tlcrash_async_thread_state_lookup_pc(current);

  tlcrash_async_image_list_set_reading(image_list, true);
  const tlcrash_async_image* image = tlcrash_async_image_list_image_for_address(image_list, pc);
  const Error error =
      image == nullptr ? Error::notSupported : unwindInImage(task, image, pc, current, next, memo);
  tlcrash_async_image_list_set_reading(image_list, false);
  return error;
}

tlcrash_async_frame_error_t tlcrash_async_frame_read_dwarf_unwind(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept {
  (void)previous;
  return tlcrash_async_frame_read_dwarf_unwind_with_memo(task, image_list, current, next, nullptr);
}

}  // namespace tlcrash
