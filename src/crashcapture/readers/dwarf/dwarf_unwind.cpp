#include "crashcapture/readers/dwarf/dwarf_unwind.h"

#include <cstdint>

#include "crashcapture/readers/dwarf/dwarf_cfa_state.h"
#include "crashcapture/readers/dwarf/dwarf_encoding.h"
#include "crashcapture/readers/dwarf/dwarf_entries.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash {
namespace {

using async::dwarf_memory;

// Applies rules found for `current`'s PC; a signal frame's caller was
// interrupted, not called: its instruction pointer is the interrupted
// instruction itself.
template <typename machine_ptr>
tlcrash_async_frame_error_t apply(const Task& task, const tlcrash_async_dwarf_section& section,
                                  const async::dwarf_cfa_state<machine_ptr>& state,
                                  const async::tlcrash_async_dwarf_cie_info& cie,
                                  const tlcrash_async_thread_state* current,
                                  tlcrash_async_thread_state* next) noexcept {
  if (state.apply_state(task, &cie, current, section.byteorder, next) != tlcrash_error_t::success)
    return tlcrash_async_frame_error_t::noFrames;
  next->ip_is_return_address = !cie.signal_frame;
  return tlcrash_async_frame_error_t::success;
}

// Finds and runs the rules for `pc` into `state` and `cie`.
template <typename machine_ptr>
tlcrash_async_frame_error_t findRules(const tlcrash_async_dwarf_section& section,
                                      const dwarf_memory& memory, machine_ptr pc,
                                      async::dwarf_cfa_state<machine_ptr>& state,
                                      async::tlcrash_async_dwarf_cie_info& cie) noexcept {
  using Error = tlcrash_async_frame_error_t;
  async::tlcrash_async_dwarf_frame_reader reader{};
  if (async::tlcrash_async_dwarf_frame_reader_init(&reader, memory, section.byteorder, section.m64,
                                                   section.debug_frame) != tlcrash_error_t::success)
    return Error::invalidArgument;
  async::tlcrash_async_dwarf_fde_info fde{};
  if (async::tlcrash_async_dwarf_frame_reader_find_fde(
          &reader, section.fde_offset, pc, &fde, section.fde_exact) != tlcrash_error_t::success)
    return Error::notSupported;

  const async::gnu_ehptr_reader<machine_ptr> pointers(section.byteorder);
  if (async::tlcrash_async_dwarf_cie_info_init(&cie, memory, section.byteorder, pointers,
                                               memory.address() + fde.cie_offset) !=
      tlcrash_error_t::success)
    return Error::notSupported;

  const auto start = static_cast<machine_ptr>(fde.pc_start);
  if (state.eval_program(memory, pc, start, &cie, pointers, section.byteorder, memory.address(),
                         static_cast<tlcrash_vm_off_t>(cie.initial_instructions_offset),
                         cie.initial_instructions_length) != tlcrash_error_t::success ||
      state.eval_program(memory, pc, start, &cie, pointers, section.byteorder, memory.address(),
                         static_cast<tlcrash_vm_off_t>(fde.instructions_offset),
                         fde.instructions_length) != tlcrash_error_t::success)
    return Error::notSupported;
  return Error::success;
}

template <typename machine_ptr>
tlcrash_async_frame_error_t unwind(const Task& task, const tlcrash_async_dwarf_section& section,
                                   const dwarf_memory& memory, machine_ptr pc,
                                   const tlcrash_async_thread_state* current,
                                   tlcrash_async_thread_state* next) noexcept {
  async::dwarf_cfa_state<machine_ptr> state;
  async::tlcrash_async_dwarf_cie_info cie{};
  const tlcrash_async_frame_error_t error = findRules(section, memory, pc, state, cie);
  if (error != tlcrash_async_frame_error_t::success) return error;
  return apply(task, section, state, cie, current, next);
}

tlcrash_async_frame_error_t unwindWithMemo(const Task& task,
                                           const tlcrash_async_dwarf_section& section,
                                           const dwarf_memory& memory, std::uint64_t pc,
                                           const tlcrash_async_thread_state* current,
                                           tlcrash_async_thread_state* next,
                                           tlcrash_async_dwarf_unwind_memo* memo) noexcept {
  const bool known = memo->valid && memo->pc == pc && memo->section_address == section.address &&
                     memo->section_length == section.length;
  if (!known) {
    memo->valid = false;
    memo->state = async::dwarf_cfa_state<std::uint64_t>();
    memo->cie = {};
    const tlcrash_async_frame_error_t error =
        findRules(section, memory, pc, memo->state, memo->cie);
    if (error != tlcrash_async_frame_error_t::success) return error;
    memo->valid = true;
    memo->pc = pc;
    memo->section_address = section.address;
    memo->section_length = section.length;
  }
  return apply(task, section, memo->state, memo->cie, current, next);
}

}  // namespace

tlcrash_async_frame_error_t tlcrash_async_dwarf_unwind_frame(
    const Task& task, const tlcrash_async_dwarf_section& section,
    const tlcrash_async_thread_state* current, tlcrash_async_thread_state* next,
    tlcrash_async_dwarf_unwind_memo* memo) noexcept {
  if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_IP))
    return tlcrash_async_frame_error_t::badFrame;
  if (tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_IP) == 0)
    return tlcrash_async_frame_error_t::notSupported;
  const std::uint64_t pc = tlcrash_async_thread_state_lookup_pc(current);
  if (tlcrash_async_thread_state_get_greg_size(current) != (section.m64 ? 8u : 4u))
    return tlcrash_async_frame_error_t::invalidArgument;

  const dwarf_memory memory(task, section.address, section.length);
  tlcrash_async_thread_state result{};
  const tlcrash_async_frame_error_t error =
      section.m64 && memo != nullptr
          ? unwindWithMemo(task, section, memory, pc, current, &result, memo)
      : section.m64 ? unwind<std::uint64_t>(task, section, memory, pc, current, &result)
                    : unwind<std::uint32_t>(task, section, memory, static_cast<std::uint32_t>(pc),
                                            current, &result);
  if (error == tlcrash_async_frame_error_t::success) tlcrash_async_thread_state_copy(next, &result);
  return error;
}

}  // namespace tlcrash
