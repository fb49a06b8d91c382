#include "crashcapture/readers/dwarf/dwarf_entries.h"

namespace tlcrash::async {
namespace {

constexpr std::uint32_t kDwarf64Escape = 0xFFFFFFFF;

// The length field of the entry at `address`: 32 bits, or all ones followed
// by 64 bits (64-bit DWARF).
struct EntryHeader {
  std::uint64_t length;     // of the contents
  std::uint64_t fieldSize;  // 4 or 12
  bool dwarf64;
};

tlcrash_error_t readLength(const dwarf_memory& section, const tlcrash_async_byteorder* byteorder,
                           tlcrash_vm_address_t address, EntryHeader* header) noexcept {
  std::uint32_t length32 = 0;
  if (section.read_uint32(byteorder, address, 0, &length32) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  if (length32 != kDwarf64Escape) {
    *header = {length32, 4, false};
    return tlcrash_error_t::success;
  }
  std::uint64_t length64 = 0;
  if (section.read_uint64(byteorder, address, 4, &length64) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  *header = {length64, 12, true};
  return tlcrash_error_t::success;
}

// The header and the window of the entry's contents, which must lie wholly
// inside the section.
tlcrash_error_t readEntry(const dwarf_memory& section, const tlcrash_async_byteorder* byteorder,
                          tlcrash_vm_address_t address, EntryHeader* header,
                          dwarf_memory* contents) noexcept {
  const tlcrash_error_t error = readLength(section, byteorder, address, header);
  if (error != tlcrash_error_t::success) return error;
  if (!section.sub_window(address, static_cast<tlcrash_vm_off_t>(header->fieldSize), header->length,
                          contents))
    return tlcrash_error_t::invalidArgument;
  return tlcrash_error_t::success;
}

// A CIE id or CIE pointer field: 4 bytes, or 8 in 64-bit DWARF.
tlcrash_error_t readIdField(const dwarf_memory& memory, const tlcrash_async_byteorder* byteorder,
                            tlcrash_vm_address_t address, bool dwarf64,
                            std::uint64_t* value) noexcept {
  if (dwarf64) return memory.read_uint64(byteorder, address, 0, value);
  std::uint32_t value32 = 0;
  const tlcrash_error_t error = memory.read_uint32(byteorder, address, 0, &value32);
  if (error == tlcrash_error_t::success) *value = value32;
  return error;
}

// Advances `*position` by `count` within `window`.
bool advance(const dwarf_memory& window, tlcrash_vm_address_t* position,
             tlcrash_vm_size_t count) noexcept {
  tlcrash_vm_address_t next = 0;
  if (count > static_cast<tlcrash_vm_size_t>(INT64_MAX) ||
      !window.contains(*position, static_cast<tlcrash_vm_off_t>(count), 0, &next))
    return false;
  *position = next;
  return true;
}

#define TLCRASH_TRY(expression)                                                    \
  do {                                                                             \
    const tlcrash_error_t tlcrash_try_error_ = (expression);                       \
    if (tlcrash_try_error_ != tlcrash_error_t::success) return tlcrash_try_error_; \
  } while (false)

}  // namespace

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_cie_info_init(tlcrash_async_dwarf_cie_info* info,
                                                  const dwarf_memory& section,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  const gnu_ehptr_reader<machine_ptr>& reader,
                                                  tlcrash_vm_address_t address) noexcept {
  *info = {};
  EntryHeader header{};
  dwarf_memory cie;
  TLCRASH_TRY(readEntry(section, byteorder, address, &header, &cie));
  info->cie_offset = cie.address() - section.address();
  info->cie_length = header.length;

  tlcrash_vm_address_t position = cie.address();
  std::uint64_t id = 0;
  if (readIdField(cie, byteorder, position, header.dwarf64, &id) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  const std::uint64_t allOnes = header.dwarf64 ? UINT64_MAX : UINT32_MAX;
  if (id != 0 && id != allOnes) return tlcrash_error_t::invalidArgument;
  info->cie_id = id;
  if (!advance(cie, &position, header.dwarf64 ? 8 : 4)) return tlcrash_error_t::invalidArgument;

  TLCRASH_TRY(cie.read_uint8(position, 0, &info->cie_version));
  if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4)
    return tlcrash_error_t::invalidArgument;
  if (!advance(cie, &position, 1)) return tlcrash_error_t::invalidArgument;

  // The augmentation string, read up to its terminating zero.
  const tlcrash_vm_address_t augmentation = position;
  std::uint8_t first = 0;
  TLCRASH_TRY(cie.read_uint8(position, 0, &first));
  for (std::uint8_t c = first; c != 0;) {
    if (!advance(cie, &position, 1)) return tlcrash_error_t::invalidArgument;
    TLCRASH_TRY(cie.read_uint8(position, 0, &c));
  }
  if (!advance(cie, &position, 1)) return tlcrash_error_t::invalidArgument;
  if (first != 0 && first != 'z') return tlcrash_error_t::notSupported;
  info->has_eh_augmentation = first == 'z';

  if (info->cie_version == 4) {
    TLCRASH_TRY(cie.read_uint8(position, 0, &info->address_size));
    TLCRASH_TRY(cie.read_uint8(position, 1, &info->segment_size));
    if (!advance(cie, &position, 2)) return tlcrash_error_t::invalidArgument;
  }

  tlcrash_vm_size_t size = 0;
  TLCRASH_TRY(
      tlcrash_async_dwarf_read_uleb128(cie, position, 0, &info->code_alignment_factor, &size));
  if (!advance(cie, &position, size)) return tlcrash_error_t::invalidArgument;
  TLCRASH_TRY(
      tlcrash_async_dwarf_read_sleb128(cie, position, 0, &info->data_alignment_factor, &size));
  if (!advance(cie, &position, size)) return tlcrash_error_t::invalidArgument;
  TLCRASH_TRY(
      tlcrash_async_dwarf_read_uleb128(cie, position, 0, &info->return_address_register, &size));
  if (!advance(cie, &position, size)) return tlcrash_error_t::invalidArgument;

  if (info->has_eh_augmentation) {
    std::uint64_t dataLength = 0;
    TLCRASH_TRY(tlcrash_async_dwarf_read_uleb128(cie, position, 0, &dataLength, &size));
    if (!advance(cie, &position, size)) return tlcrash_error_t::invalidArgument;
    dwarf_memory data;
    if (!cie.sub_window(position, 0, dataLength, &data)) return tlcrash_error_t::invalidArgument;
    // One field per character after the "z"; the first unknown one ends the
    // scan and the rest of the data is skipped by its length.
    tlcrash_vm_address_t field = data.address();
    for (tlcrash_vm_off_t index = 1;; ++index) {
      std::uint8_t c = 0;
      TLCRASH_TRY(cie.read_uint8(augmentation, index, &c));
      if (c == 'L') {
        TLCRASH_TRY(data.read_uint8(field, 0, &info->lsda_encoding));
        info->has_lsda_encoding = true;
        ++field;
      } else if (c == 'P') {
        std::uint8_t encoding = 0;
        TLCRASH_TRY(data.read_uint8(field, 0, &encoding));
        machine_ptr personality = 0;
        TLCRASH_TRY(reader.read(data, field, 1, encoding, &personality, &size));
        info->has_personality_address = true;
        info->personality_address = personality;
        field += 1 + size;
      } else if (c == 'R') {
        TLCRASH_TRY(data.read_uint8(field, 0, &info->pointer_encoding));
        info->has_pointer_encoding = true;
        ++field;
      } else if (c == 'S') {
        info->signal_frame = true;
      } else {
        break;
      }
    }
    position = data.end();
  }

  info->initial_instructions_offset = position - section.address();
  info->initial_instructions_length = cie.end() - position;
  return tlcrash_error_t::success;
}

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_fde_info_init(tlcrash_async_dwarf_fde_info* info,
                                                  const dwarf_memory& section,
                                                  const tlcrash_async_byteorder* byteorder,
                                                  tlcrash_vm_address_t address,
                                                  bool debug_frame) noexcept {
  *info = {};
  EntryHeader header{};
  dwarf_memory fde;
  TLCRASH_TRY(readEntry(section, byteorder, address, &header, &fde));
  info->fde_offset = fde.address() - section.address();
  info->fde_length = header.length;

  tlcrash_vm_address_t position = fde.address();
  std::uint64_t pointer = 0;
  if (readIdField(fde, byteorder, position, header.dwarf64, &pointer) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  tlcrash_vm_address_t cieAddress = 0;
  if (debug_frame) {
    if (pointer > static_cast<std::uint64_t>(INT64_MAX) ||
        !section.contains(section.address(), static_cast<tlcrash_vm_off_t>(pointer), 0,
                          &cieAddress))
      return tlcrash_error_t::invalidArgument;
  } else {
    if (pointer > position) return tlcrash_error_t::invalidArgument;
    cieAddress = position - pointer;
  }
  if (!advance(fde, &position, header.dwarf64 ? 8 : 4)) return tlcrash_error_t::invalidArgument;

  const gnu_ehptr_reader<machine_ptr> reader(byteorder);
  tlcrash_async_dwarf_cie_info cie{};
  TLCRASH_TRY(tlcrash_async_dwarf_cie_info_init(&cie, section, byteorder, reader, cieAddress));
  info->cie_offset = cieAddress - section.address();
  const std::uint8_t encoding =
      cie.has_eh_augmentation && cie.has_pointer_encoding ? cie.pointer_encoding : DW_EH_PE_absptr;

  machine_ptr start = 0;
  machine_ptr range = 0;
  tlcrash_vm_size_t size = 0;
  TLCRASH_TRY(reader.read(fde, position, 0, encoding, &start, &size));
  if (!advance(fde, &position, size)) return tlcrash_error_t::invalidArgument;
  TLCRASH_TRY(reader.read(fde, position, 0, encoding & 0x0F, &range, &size));
  if (!advance(fde, &position, size)) return tlcrash_error_t::invalidArgument;
  if (range > static_cast<machine_ptr>(~machine_ptr{0} - start))
    return tlcrash_error_t::invalidArgument;
  info->pc_start = start;
  info->pc_end = static_cast<machine_ptr>(start + range);

  if (cie.has_eh_augmentation) {
    std::uint64_t dataLength = 0;
    TLCRASH_TRY(tlcrash_async_dwarf_read_uleb128(fde, position, 0, &dataLength, &size));
    if (!advance(fde, &position, size) || !advance(fde, &position, dataLength))
      return tlcrash_error_t::invalidArgument;
  }
  info->instructions_offset = position - section.address();
  info->instructions_length = fde.end() - position;
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_dwarf_frame_reader_init(tlcrash_async_dwarf_frame_reader* reader,
                                                      const dwarf_memory& section,
                                                      const tlcrash_async_byteorder* byteorder,
                                                      bool m64, bool debug_frame) noexcept {
  *reader = {section, byteorder, m64, debug_frame};
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_dwarf_frame_reader_find_fde(
    const tlcrash_async_dwarf_frame_reader* reader, tlcrash_vm_off_t offset,
    tlcrash_vm_address_t pc, tlcrash_async_dwarf_fde_info* fde, bool first_only) noexcept {
  const dwarf_memory& section = reader->section;
  if (offset < 0 || static_cast<tlcrash_vm_size_t>(offset) >= section.length())
    return tlcrash_error_t::invalidArgument;
  tlcrash_vm_address_t entry = section.address() + static_cast<tlcrash_vm_size_t>(offset);
  while (entry < section.end()) {
    EntryHeader header{};
    TLCRASH_TRY(readLength(section, reader->byteorder, entry, &header));
    if (header.length == 0) break;
    std::uint64_t id = 0;
    if (readIdField(section, reader->byteorder, entry + header.fieldSize, header.dwarf64, &id) !=
        tlcrash_error_t::success)
      return tlcrash_error_t::invalidArgument;
    const std::uint64_t cieMark =
        !reader->debug_frame ? 0 : (header.dwarf64 ? UINT64_MAX : UINT32_MAX);
    if (id != cieMark) {
      const tlcrash_error_t error =
          reader->m64 ? tlcrash_async_dwarf_fde_info_init<std::uint64_t>(
                            fde, section, reader->byteorder, entry, reader->debug_frame)
                      : tlcrash_async_dwarf_fde_info_init<std::uint32_t>(
                            fde, section, reader->byteorder, entry, reader->debug_frame);
      if (error != tlcrash_error_t::success) return error;
      if (fde->pc_start <= pc && pc < fde->pc_end) return tlcrash_error_t::success;
    }
    if (first_only) break;
    // The next entry; one past the end of the address space ends the scan.
    const std::uint64_t step = header.fieldSize + header.length;
    if (header.length > UINT64_MAX - header.fieldSize || step > section.end() - entry) break;
    entry += step;
  }
  return tlcrash_error_t::notFound;
}

#undef TLCRASH_TRY

template tlcrash_error_t tlcrash_async_dwarf_cie_info_init<std::uint32_t>(
    tlcrash_async_dwarf_cie_info*, const dwarf_memory&, const tlcrash_async_byteorder*,
    const gnu_ehptr_reader<std::uint32_t>&, tlcrash_vm_address_t) noexcept;
template tlcrash_error_t tlcrash_async_dwarf_cie_info_init<std::uint64_t>(
    tlcrash_async_dwarf_cie_info*, const dwarf_memory&, const tlcrash_async_byteorder*,
    const gnu_ehptr_reader<std::uint64_t>&, tlcrash_vm_address_t) noexcept;
template tlcrash_error_t tlcrash_async_dwarf_fde_info_init<std::uint32_t>(
    tlcrash_async_dwarf_fde_info*, const dwarf_memory&, const tlcrash_async_byteorder*,
    tlcrash_vm_address_t, bool) noexcept;
template tlcrash_error_t tlcrash_async_dwarf_fde_info_init<std::uint64_t>(
    tlcrash_async_dwarf_fde_info*, const dwarf_memory&, const tlcrash_async_byteorder*,
    tlcrash_vm_address_t, bool) noexcept;

}  // namespace tlcrash::async
