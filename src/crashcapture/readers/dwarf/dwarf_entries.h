#pragma once

// The entries of a DWARF call-frame section (.eh_frame / __eh_frame, or
// .debug_frame / __debug_frame): common information entries (CIE), frame
// description entries (FDE) and the search for the FDE that covers a PC.
// Offsets are from the start of the section's window.
// Crash path: every function here is async-signal-safe, allocates nothing and
// does work bounded by the section's size.

#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/dwarf/dwarf_encoding.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {

// One parsed CIE.
struct tlcrash_async_dwarf_cie_info {
  std::uint64_t cie_offset;  // of the contents, after the length field
  std::uint64_t cie_length;  // of the contents
  std::uint64_t cie_id;
  std::uint8_t cie_version;      // 1, 3 or 4
  std::uint8_t address_size;     // version 4 only
  std::uint8_t segment_size;     // version 4 only
  bool has_eh_augmentation;      // the augmentation string begins with "z"
  bool has_lsda_encoding;        // "L"
  std::uint8_t lsda_encoding;    //
  bool has_personality_address;  // "P"
  std::uint64_t personality_address;
  bool has_pointer_encoding;  // "R"
  std::uint8_t pointer_encoding;
  bool signal_frame;  // "S"
  std::uint64_t code_alignment_factor;
  std::int64_t data_alignment_factor;
  std::uint64_t return_address_register;  // a DWARF register number
  std::uint64_t initial_instructions_offset;
  std::uint64_t initial_instructions_length;
};

// One parsed FDE; PCs are addresses in the target.
struct tlcrash_async_dwarf_fde_info {
  std::uint64_t fde_offset;  // of the contents, after the length field
  std::uint64_t fde_length;
  std::uint64_t cie_offset;  // of the CIE's length field
  std::uint64_t pc_start;
  std::uint64_t pc_end;  // exclusive
  std::uint64_t instructions_offset;
  std::uint64_t instructions_length;
};

// Parses the CIE at `address` (its length field) in `section`; pointers in
// its augmentation are read with `reader`. invalidArgument for a bad length
// (an entry passing the section's end included), CIE id, version or field
// outside the entry; notSupported for an augmentation string that is neither
// empty nor begins with "z", or an unsupported encoding.
template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_cie_info_init(tlcrash_async_dwarf_cie_info* info,
                                                  const dwarf_memory& section,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  const gnu_ehptr_reader<machine_ptr>& reader,
                                                  tlcrash_vm_address_t address) noexcept;

// Parses the FDE at `address` in `section` and, to learn its pointer
// encoding, its CIE (whose errors are returned). `debug_frame` selects how
// the CIE pointer is read: an offset from the section start, or (.eh_frame)
// the distance back from the pointer field itself.
template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_fde_info_init(tlcrash_async_dwarf_fde_info* info,
                                                  const dwarf_memory& section,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  bool debug_frame) noexcept;

// A call-frame section of an image.
struct tlcrash_async_dwarf_frame_reader {
  dwarf_memory section;
  const tlcrash_async_byteorder* byteorder;
  bool m64;          // the image's words are 64 bits
  bool debug_frame;  // .debug_frame rather than .eh_frame
};

tlcrash_error_t tlcrash_async_dwarf_frame_reader_init(tlcrash_async_dwarf_frame_reader* reader,
                                                      const dwarf_memory& section,
                                                      const tlcrash_async_byteorder* byteorder,
                                                      bool m64, bool debug_frame) noexcept;

// The first FDE, scanning from `offset` to the end of the section (or to an
// entry of length 0), with pc_start <= `pc` < pc_end; with `first_only`, only
// the entry at `offset` is looked at (an index named it). notFound when there
// is none; invalidArgument for an offset outside the section or an unreadable
// entry; an FDE's parse error at once.
tlcrash_error_t tlcrash_async_dwarf_frame_reader_find_fde(
    const tlcrash_async_dwarf_frame_reader* reader, tlcrash_vm_off_t offset,
    tlcrash_vm_address_t pc, tlcrash_async_dwarf_fde_info* fde, bool first_only = false) noexcept;

}  // namespace tlcrash::async
