#pragma once

// Numbers and record sizes of the Mach-O image format, defined here so that
// images can be read on a host without the format's system headers.

#include <cstddef>
#include <cstdint>

namespace tlcrash::macho {

// Header magic numbers as read in the host's order: MH_MAGIC / MH_MAGIC_64 are
// images in the host's byte order, the _CIGAM forms images in the other one.
inline constexpr std::uint32_t MH_MAGIC = 0xfeedface;
inline constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;

// File types.
inline constexpr std::uint32_t MH_EXECUTE = 0x2;
inline constexpr std::uint32_t MH_DYLIB = 0x6;

// Header sizes: seven 32-bit words, and a reserved eighth in 64-bit images.
inline constexpr std::size_t kHeaderSize32 = 28;
inline constexpr std::size_t kHeaderSize64 = 32;

// Load commands (type and size words first).
inline constexpr std::uint32_t LC_SEGMENT = 0x1;
inline constexpr std::uint32_t LC_SYMTAB = 0x2;
inline constexpr std::uint32_t LC_DYSYMTAB = 0xb;
inline constexpr std::uint32_t LC_SEGMENT_64 = 0x19;
inline constexpr std::uint32_t LC_UUID = 0x1b;
inline constexpr std::size_t kLoadCommandSize = 8;

// segment_command(_64): cmd, cmdsize, segname[16], vmaddr, vmsize, fileoff,
// filesize (32- or 64-bit each), maxprot, initprot, nsects, flags.
inline constexpr std::size_t kSegmentCommandSize32 = 56;
inline constexpr std::size_t kSegmentCommandSize64 = 72;
// section(_64): sectname[16], segname[16], addr, size (32- or 64-bit each),
// offset, align, reloff, nreloc, flags, reserved1, reserved2 (and reserved3).
inline constexpr std::size_t kSectionSize32 = 68;
inline constexpr std::size_t kSectionSize64 = 80;
inline constexpr std::size_t kNameSize = 16;

// symtab_command: cmd, cmdsize, symoff, nsyms, stroff, strsize.
inline constexpr std::size_t kSymtabCommandSize = 24;
// dysymtab_command: cmd, cmdsize, ilocalsym, nlocalsym, iextdefsym,
// nextdefsym, ... (18 words).
inline constexpr std::size_t kDysymtabCommandSize = 80;
// uuid_command: cmd, cmdsize, uuid[16].
inline constexpr std::size_t kUuidCommandSize = 24;

// nlist(_64): n_strx (32), n_type (8), n_sect (8), n_desc (16), n_value (32
// or 64 bits).
inline constexpr std::size_t kNlistSize32 = 12;
inline constexpr std::size_t kNlistSize64 = 16;
inline constexpr std::uint8_t N_STAB = 0xe0;
inline constexpr std::uint8_t N_PEXT = 0x10;
inline constexpr std::uint8_t N_TYPE = 0x0e;
inline constexpr std::uint8_t N_EXT = 0x01;
inline constexpr std::uint8_t N_SECT = 0x0e;
inline constexpr std::uint16_t N_ARM_THUMB_DEF = 0x0008;

}  // namespace tlcrash::macho
