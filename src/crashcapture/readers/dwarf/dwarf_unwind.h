#pragma once

// Steps from a frame to its caller by the DWARF call-frame information of one
// image: finds the FDE covering the frame's instruction pointer in the
// image's call-frame section, runs its CIE's and its own programs up to that
// PC and applies the rules. Finding the image and its section is the
// caller's (the image list's) part.
// Crash path: async-signal-safe, no allocation, bounded work.

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_cfa_state.h"
#include "crashcapture/readers/dwarf/dwarf_entries.h"

namespace tlcrash {

// The call-frame section of an image in the target.
struct tlcrash_async_dwarf_section {
  tlcrash_vm_address_t address;
  tlcrash_vm_size_t length;
  const tlcrash_async_byteorder* byteorder;
  bool m64;          // the image's words are 64 bits
  bool debug_frame;  // .debug_frame / __debug_frame rather than .eh_frame / __eh_frame
  // Where the FDE search starts, from the section start (0 scans it all; an
  // index such as .eh_frame_hdr can give the FDE's own offset).
  tlcrash_vm_off_t fde_offset;
  // The entry at `fde_offset` is the one for the PC (an index such as
  // .eh_frame_hdr's search table chose it): only it is looked at.
  bool fde_exact = false;
};

// The rules last found for a PC of a 64-bit section, so that a walk through
// a recursion (the same return address frame after frame) applies them again
// without reading the tables. A plain value; `valid` false when empty.
struct tlcrash_async_dwarf_unwind_memo {
  bool valid = false;
  std::uint64_t pc = 0;
  tlcrash_vm_address_t section_address = 0;
  tlcrash_vm_size_t section_length = 0;
  async::tlcrash_async_dwarf_cie_info cie{};
  async::dwarf_cfa_state<std::uint64_t> state;
};

// Fills `next` with the caller of `current`. badFrame when `current` has no
// valid instruction pointer; notSupported when it is 0, when no FDE covers it
// (or the section is unreadable or malformed there), or when the programs
// cannot be run (unsupported operations included), so that another reader
// may try; invalidArgument for a section whose word size differs from the
// state's; noFrames when the rules cannot be applied (an undefined return
// address among them, which ends a walk). `next` is complete only on success.
// With a memo, rules found for the same PC in the same section before are
// applied without reading the section, and rules found now are kept there.
tlcrash_async_frame_error_t tlcrash_async_dwarf_unwind_frame(
    const Task& task, const tlcrash_async_dwarf_section& section,
    const tlcrash_async_thread_state* current, tlcrash_async_thread_state* next,
    tlcrash_async_dwarf_unwind_memo* memo = nullptr) noexcept;

}  // namespace tlcrash
