#include "crashcapture/readers/unwind/compact_unwind.h"

#include "crashcapture/readers/image/macho.h"

namespace tlcrash {
namespace {

constexpr std::uint32_t kHeaderSize = 7 * 4;
constexpr std::uint32_t kIndexEntrySize = 12;
constexpr std::uint32_t kRegularPage = 2;
constexpr std::uint32_t kCompressedPage = 3;
constexpr std::uint32_t kRegularEntrySize = 8;

constexpr std::uint32_t kModeMask = 0x0F000000;
constexpr std::uint32_t kOffsetMask = 0x00FFFFFF;

// Register codes 1-6 in the thread-state numbering; code 0 is a hole.
constexpr std::uint32_t kRegs64[] = {
    TLCRASH_ASYNC_CFE_REG_NONE, 4, 13, 14, 15, 16, 1};  // rbx r12-r15 rbp
constexpr std::uint32_t kRegs32[] = {
    TLCRASH_ASYNC_CFE_REG_NONE, 6, 5, 4, 8, 7, 1};  // ebx ecx edx edi esi ebp

// The arm64 return-address register and the register pairs by frame bit.
constexpr std::uint32_t kArm64Lr = 32;

bool supportedCpu(cpu_type_t cputype) {
  return cputype == CPU_TYPE_X86 || cputype == CPU_TYPE_X86_64 || cputype == CPU_TYPE_ARM64;
}

// True when [offset, offset + count * size) lies inside the section.
bool inSection(const tlcrash_async_cfe_reader* reader, std::uint64_t offset, std::uint64_t count,
               std::uint64_t size) {
  const std::uint64_t length = tlcrash_async_mobject_length(&reader->mobj);
  // count and size are at most 2^32 each: no overflow below 2^64 for size <= 12.
  const std::uint64_t bytes = count * size;
  return offset <= length && bytes <= length - offset;
}

tlcrash_error_t read32(const tlcrash_async_cfe_reader* reader, std::uint64_t offset,
                       std::uint32_t* value) {
  if (!inSection(reader, offset, 1, 4)) return tlcrash_error_t::invalidArgument;
  return tlcrash_async_mobject_read_uint32(&reader->mobj, reader->byteorder,
                                           tlcrash_async_mobject_base_address(&reader->mobj),
                                           static_cast<tlcrash_vm_off_t>(offset), value);
}

tlcrash_error_t read16(const tlcrash_async_cfe_reader* reader, std::uint64_t offset,
                       std::uint16_t* value) {
  if (!inSection(reader, offset, 1, 2)) return tlcrash_error_t::invalidArgument;
  return tlcrash_async_mobject_read_uint16(&reader->mobj, reader->byteorder,
                                           tlcrash_async_mobject_base_address(&reader->mobj),
                                           static_cast<tlcrash_vm_off_t>(offset), value);
}

// Binary search over `count` entries sorted by function offset (as
// `offsetAt(i)` reads it) for the one whose range holds `pc`; the last entry
// holds every PC at or above its offset. notFound when none does; a read's
// error as it comes.
template <class OffsetAt>
tlcrash_error_t search(std::int64_t count, std::uint64_t pc, OffsetAt offsetAt,
                       std::int64_t* found) {
  std::int64_t lo = 0;
  std::int64_t hi = count - 1;
  while (lo <= hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    std::uint64_t offset = 0;
    if (const tlcrash_error_t error = offsetAt(mid, &offset); error != tlcrash_error_t::success)
      return error;
    if (offset < pc) {
      if (mid == hi) {
        *found = mid;
        return tlcrash_error_t::success;
      }
      std::uint64_t nextOffset = 0;
      if (const tlcrash_error_t error = offsetAt(mid + 1, &nextOffset);
          error != tlcrash_error_t::success)
        return error;
      if (pc < nextOffset) {
        *found = mid;
        return tlcrash_error_t::success;
      }
      lo = mid + 1;
    } else if (offset > pc) {
      if (mid == 0) return tlcrash_error_t::notFound;
      hi = mid - 1;
    } else {
      *found = mid;
      return tlcrash_error_t::success;
    }
  }
  return tlcrash_error_t::notFound;
}

tlcrash_error_t findInRegularPage(const tlcrash_async_cfe_reader* reader, std::uint64_t page,
                                  std::uint64_t pc, std::uint64_t* function_base,
                                  std::uint32_t* encoding) {
  std::uint16_t entriesOffset = 0;
  std::uint16_t entryCount = 0;
  if (read16(reader, page + 4, &entriesOffset) != tlcrash_error_t::success ||
      read16(reader, page + 6, &entryCount) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  const std::uint64_t entries = page + entriesOffset;
  if (!inSection(reader, entries, entryCount, kRegularEntrySize))
    return tlcrash_error_t::invalidArgument;
  std::int64_t found = 0;
  const tlcrash_error_t searched = search(
      entryCount, pc,
      [&](std::int64_t i, std::uint64_t* offset) {
        std::uint32_t value = 0;
        const tlcrash_error_t error =
            read32(reader, entries + static_cast<std::uint64_t>(i) * kRegularEntrySize, &value);
        *offset = value;
        return error;
      },
      &found);
  if (searched != tlcrash_error_t::success) return searched;
  const std::uint64_t entry = entries + static_cast<std::uint64_t>(found) * kRegularEntrySize;
  std::uint32_t functionOffset = 0;
  if (read32(reader, entry, &functionOffset) != tlcrash_error_t::success ||
      read32(reader, entry + 4, encoding) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  *function_base = functionOffset;
  return tlcrash_error_t::success;
}

tlcrash_error_t findInCompressedPage(const tlcrash_async_cfe_reader* reader, std::uint64_t page,
                                     std::uint32_t first_function, std::uint64_t pc,
                                     std::uint64_t* function_base, std::uint32_t* encoding) {
  std::uint16_t entriesOffset = 0;
  std::uint16_t entryCount = 0;
  std::uint16_t encodingsOffset = 0;
  std::uint16_t encodingsCount = 0;
  if (read16(reader, page + 4, &entriesOffset) != tlcrash_error_t::success ||
      read16(reader, page + 6, &entryCount) != tlcrash_error_t::success ||
      read16(reader, page + 8, &encodingsOffset) != tlcrash_error_t::success ||
      read16(reader, page + 10, &encodingsCount) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  const std::uint64_t entries = page + entriesOffset;
  if (!inSection(reader, entries, entryCount, 4)) return tlcrash_error_t::invalidArgument;

  std::int64_t found = 0;
  const tlcrash_error_t searched = search(
      entryCount, pc,
      [&](std::int64_t i, std::uint64_t* offset) {
        std::uint32_t value = 0;
        const tlcrash_error_t error =
            read32(reader, entries + static_cast<std::uint64_t>(i) * 4, &value);
        *offset = std::uint64_t{first_function} + (value & kOffsetMask);
        return error;
      },
      &found);
  if (searched != tlcrash_error_t::success) return searched;

  std::uint32_t value = 0;
  if (read32(reader, entries + static_cast<std::uint64_t>(found) * 4, &value) !=
      tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  *function_base = std::uint64_t{first_function} + (value & kOffsetMask);

  const std::uint32_t index = value >> 24;
  const tlcrash_async_cfe_header& header = reader->header;
  if (index < header.common_encodings_count) {
    return read32(reader, std::uint64_t{header.common_encodings_offset} + std::uint64_t{index} * 4,
                  encoding) == tlcrash_error_t::success
               ? tlcrash_error_t::success
               : tlcrash_error_t::invalidArgument;
  }
  const std::uint64_t encodings = page + encodingsOffset;
  const auto local = static_cast<std::uint8_t>(index - header.common_encodings_count);
  if (!inSection(reader, encodings, encodingsCount, 4) || local >= encodingsCount)
    return tlcrash_error_t::invalidArgument;
  return read32(reader, encodings + std::uint64_t{local} * 4, encoding) == tlcrash_error_t::success
             ? tlcrash_error_t::success
             : tlcrash_error_t::invalidArgument;
}

// The permutation's digits for `count` registers (1 to 6): a mixed-radix
// number whose digit i counts in base 6 - i.
void permutationDigits(std::uint32_t p, std::uint32_t count, std::uint32_t* digits) {
  if (count < 1 || count > 6) return;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t radix = 1;
    for (std::uint32_t j = i + 1; j < count; ++j)
      radix *= 6 - j;
    digits[i] = p / radix;
    p -= digits[i] * radix;
  }
}

// Fills the slots of a frameless x86 entry from its count and permutation.
tlcrash_error_t decodeFramelessRegisters(tlcrash_async_cfe_entry* entry, std::uint32_t encoding,
                                         const std::uint32_t* regs) {
  const std::uint32_t count = (encoding >> 10) & 0x7;
  const std::uint32_t permutation = encoding & 0x3FF;
  std::uint32_t codes[6] = {};
  if (tlcrash_async_cfe_register_decode_permutation(permutation, count, codes) !=
      tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  for (std::uint32_t i = 0; i < count; ++i)
    entry->register_list[i] = regs[codes[i]];
  entry->register_count = count;
  return tlcrash_error_t::success;
}

tlcrash_error_t decodeX86(tlcrash_async_cfe_entry* entry, std::uint32_t encoding, bool is64) {
  using Type = tlcrash_async_cfe_entry_type_t;
  const std::uint32_t* regs = is64 ? kRegs64 : kRegs32;
  const std::int64_t scale = is64 ? 8 : 4;
  const std::uint32_t bits16to23 = (encoding >> 16) & 0xFF;
  switch ((encoding & kModeMask) >> 24) {
    case 0:
      entry->type = Type::none;
      return tlcrash_error_t::success;
    case 1: {
      entry->type = Type::frameBased;
      entry->stack_offset = -scale * static_cast<std::int64_t>(bits16to23);
      std::uint32_t codes = encoding & 0x7FFF;
      std::uint32_t count = 0;
      while (codes != 0 && count < 5) {
        const std::uint32_t code = codes & 0x7;
        if (code == 7) return tlcrash_error_t::invalidArgument;
        entry->register_list[count++] = regs[code];
        codes >>= 3;
      }
      entry->register_count = count;
      return tlcrash_error_t::success;
    }
    case 2:
      entry->type = Type::framelessImmediate;
      entry->stack_offset = scale * static_cast<std::int64_t>(bits16to23);
      return decodeFramelessRegisters(entry, encoding, regs);
    case 3:
      entry->type = Type::framelessIndirect;
      entry->stack_offset = bits16to23;
      entry->stack_adjust = static_cast<std::uint32_t>(scale) * ((encoding >> 13) & 0x7);
      return decodeFramelessRegisters(entry, encoding, regs);
    case 4:
      entry->type = Type::dwarf;
      entry->stack_offset = encoding & kOffsetMask;
      return tlcrash_error_t::success;
    default:
      return tlcrash_error_t::notSupported;
  }
}

tlcrash_error_t decodeArm64(tlcrash_async_cfe_entry* entry, std::uint32_t encoding) {
  using Type = tlcrash_async_cfe_entry_type_t;
  const auto pairs = [entry, encoding] {
    std::uint32_t count = 0;
    std::uint32_t reg = 31;
    for (std::uint32_t bit = 0x10; bit != 0; bit >>= 1, reg -= 2) {
      if ((encoding & bit) == 0) continue;
      entry->register_list[count++] = reg;
      entry->register_list[count++] = reg - 1;
    }
    entry->register_count = count;
  };
  switch ((encoding & kModeMask) >> 24) {
    case 0:
      entry->type = Type::none;
      return tlcrash_error_t::success;
    case 2:
      entry->type = Type::framelessImmediate;
      entry->stack_offset = 16 * static_cast<std::int64_t>((encoding >> 12) & 0xFFF);
      entry->return_address_register = kArm64Lr;
      pairs();
      return tlcrash_error_t::success;
    case 3:
      entry->type = Type::dwarf;
      entry->stack_offset = encoding & kOffsetMask;
      return tlcrash_error_t::success;
    case 4:
      entry->type = Type::frameBased;
      pairs();
      entry->stack_offset = -8 * static_cast<std::int64_t>(entry->register_count);
      return tlcrash_error_t::success;
    default:
      return tlcrash_error_t::notSupported;
  }
}

// The task read's own error for a word at `address`.
tlcrash_error_t readWordError(const Task& task, std::size_t width, tlcrash_vm_address_t address,
                              std::uint64_t* word) {
  const tlcrash_async_byteorder* order = tlcrash_async_byteorder_little_endian();
  if (width == 4) {
    std::uint32_t value = 0;
    const tlcrash_error_t error = tlcrash_async_task_read_uint32(task, order, address, 0, &value);
    if (error == tlcrash_error_t::success) *word = value;
    return error;
  }
  return tlcrash_async_task_read_uint64(task, order, address, 0, word);
}

}  // namespace

tlcrash_error_t tlcrash_async_cfe_reader_init(tlcrash_async_cfe_reader* reader,
                                              const tlcrash_async_mobject* mobj, cpu_type_t cputype,
                                              const tlcrash_async_byteorder* byteorder) noexcept {
  *reader = {};
  if (!supportedCpu(cputype)) return tlcrash_error_t::notSupported;
  reader->mobj = *mobj;
  reader->cputype = cputype;
  reader->byteorder = byteorder;
  if (!inSection(reader, 0, 1, kHeaderSize)) return tlcrash_error_t::invalidArgument;
  std::uint32_t words[7] = {};
  for (std::uint32_t i = 0; i < 7; ++i) {
    if (read32(reader, i * 4, &words[i]) != tlcrash_error_t::success)
      return tlcrash_error_t::invalidArgument;
  }
  reader->header = {words[0], words[1], words[2], words[3], words[4], words[5], words[6]};
  if (reader->header.version != 1) return tlcrash_error_t::notSupported;
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_cfe_reader_find_pc(const tlcrash_async_cfe_reader* reader,
                                                 std::uint64_t pc, std::uint64_t* function_base,
                                                 std::uint32_t* encoding) noexcept {
  const tlcrash_async_cfe_header& header = reader->header;
  if (!inSection(reader, header.common_encodings_offset, header.common_encodings_count, 4) ||
      !inSection(reader, header.index_offset, header.index_count, kIndexEntrySize))
    return tlcrash_error_t::invalidArgument;
  if (header.index_count == 0) return tlcrash_error_t::notFound;

  // The last first-level entry only closes the range of the one before it.
  const std::uint64_t index = header.index_offset;
  std::int64_t found = 0;
  const tlcrash_error_t searched = search(
      static_cast<std::int64_t>(header.index_count) - 1, pc,
      [&](std::int64_t i, std::uint64_t* offset) {
        std::uint32_t value = 0;
        const tlcrash_error_t error =
            read32(reader, index + static_cast<std::uint64_t>(i) * kIndexEntrySize, &value);
        *offset = value;
        return error;
      },
      &found);
  if (searched != tlcrash_error_t::success) return searched;

  const std::uint64_t entry = index + static_cast<std::uint64_t>(found) * kIndexEntrySize;
  std::uint32_t firstFunction = 0;
  std::uint32_t pageOffset = 0;
  std::uint32_t kind = 0;
  if (read32(reader, entry, &firstFunction) != tlcrash_error_t::success ||
      read32(reader, entry + 4, &pageOffset) != tlcrash_error_t::success ||
      read32(reader, pageOffset, &kind) != tlcrash_error_t::success)
    return tlcrash_error_t::invalidArgument;
  switch (kind) {
    case kRegularPage:
      return findInRegularPage(reader, pageOffset, pc, function_base, encoding);
    case kCompressedPage:
      return findInCompressedPage(reader, pageOffset, firstFunction, pc, function_base, encoding);
    default:
      return tlcrash_error_t::invalidArgument;
  }
}

void tlcrash_async_cfe_reader_free(tlcrash_async_cfe_reader* reader) noexcept {
  (void)reader;
}

tlcrash_error_t tlcrash_async_cfe_entry_init(tlcrash_async_cfe_entry* entry, cpu_type_t cputype,
                                             std::uint32_t encoding) noexcept {
  *entry = {};
  entry->cputype = cputype;
  entry->return_address_register = TLCRASH_ASYNC_CFE_REG_NONE;
  if (cputype == CPU_TYPE_X86_64) return decodeX86(entry, encoding, true);
  if (cputype == CPU_TYPE_X86) return decodeX86(entry, encoding, false);
  if (cputype == CPU_TYPE_ARM64) return decodeArm64(entry, encoding);
  return tlcrash_error_t::notSupported;
}

void tlcrash_async_cfe_entry_register_list(const tlcrash_async_cfe_entry* entry,
                                           std::uint32_t* registers) noexcept {
  for (std::uint32_t i = 0; i < entry->register_count; ++i)
    registers[i] = entry->register_list[i];
}

void tlcrash_async_cfe_entry_free(tlcrash_async_cfe_entry* entry) noexcept {
  (void)entry;
}

tlcrash_error_t tlcrash_async_cfe_entry_apply(const Task& task,
                                              tlcrash_vm_address_t function_address,
                                              const tlcrash_async_thread_state* current,
                                              const tlcrash_async_cfe_entry* entry,
                                              tlcrash_async_thread_state* next) noexcept {
  using Type = tlcrash_async_cfe_entry_type_t;
  const std::size_t width = tlcrash_async_thread_state_get_greg_size(current);
  tlcrash_async_thread_state result;
  tlcrash_async_thread_state_copy(&result, current);
  tlcrash_async_thread_state_clear_volatile_regs(&result);

  tlcrash_vm_address_t savedArea = 0;
  switch (entry->type) {
    case Type::frameBased: {
      if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_FP))
        return tlcrash_error_t::notFound;
      const std::uint64_t fp = tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_FP);
      tlcrash_vm_address_t callerSp = 0;
      if (!tlcrash_async_address_apply_offset(fp, static_cast<tlcrash_vm_off_t>(2 * width),
                                              &callerSp) ||
          !tlcrash_async_address_apply_offset(fp, entry->stack_offset, &savedArea))
        return tlcrash_error_t::invalidArgument;
      std::uint64_t callerFp = 0;
      std::uint64_t returnAddress = 0;
      if (const tlcrash_error_t error = readWordError(task, width, fp, &callerFp);
          error != tlcrash_error_t::success)
        return error;
      if (const tlcrash_error_t error = readWordError(task, width, fp + width, &returnAddress);
          error != tlcrash_error_t::success)
        return error;
      tlcrash_async_thread_state_set_reg(&result, TLCRASH_REG_SP, callerSp);
      tlcrash_async_thread_state_set_reg(&result, TLCRASH_REG_FP, callerFp);
      tlcrash_async_thread_state_set_reg(&result, TLCRASH_REG_IP, returnAddress);
      break;
    }
    case Type::framelessImmediate:
    case Type::framelessIndirect: {
      if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_SP))
        return tlcrash_error_t::notFound;
      const std::uint64_t sp = tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_SP);
      std::uint64_t stackSize = static_cast<std::uint64_t>(entry->stack_offset);
      if (entry->type == Type::framelessIndirect) {
        std::uint32_t immediate = 0;
        if (const tlcrash_error_t error =
                tlcrash_async_task_read_uint32(task, tlcrash_async_byteorder_little_endian(),
                                               function_address, entry->stack_offset, &immediate);
            error != tlcrash_error_t::success)
          return error;
        stackSize = std::uint64_t{immediate} + entry->stack_adjust;
      }
      if (stackSize > UINT64_MAX - sp) return tlcrash_error_t::invalidArgument;
      const std::uint64_t top = sp + stackSize;
      const std::uint64_t savedBytes = std::uint64_t{entry->register_count} * width;
      std::uint64_t returnAddress = 0;
      if (entry->return_address_register == TLCRASH_ASYNC_CFE_REG_NONE) {
        if (top < width + savedBytes) return tlcrash_error_t::invalidArgument;
        if (const tlcrash_error_t error = readWordError(task, width, top - width, &returnAddress);
            error != tlcrash_error_t::success)
          return error;
        savedArea = top - width - savedBytes;
      } else {
        const int raReg = static_cast<int>(entry->return_address_register);
        if (entry->return_address_register >= tlcrash_async_thread_state_get_reg_count(current) ||
            !tlcrash_async_thread_state_has_reg(current, raReg))
          return tlcrash_error_t::notFound;
        if (top < savedBytes) return tlcrash_error_t::invalidArgument;
        returnAddress = tlcrash_async_thread_state_get_reg(current, raReg);
        savedArea = top - savedBytes;
      }
      tlcrash_async_thread_state_set_reg(&result, TLCRASH_REG_SP, top);
      tlcrash_async_thread_state_set_reg(&result, TLCRASH_REG_IP, returnAddress);
      break;
    }
    case Type::dwarf:
    case Type::none:
    default:
      return tlcrash_error_t::notSupported;
  }

  for (std::uint32_t i = 0; i < entry->register_count; ++i) {
    const std::uint32_t reg = entry->register_list[i];
    if (reg == TLCRASH_ASYNC_CFE_REG_NONE) continue;
    if (reg >= tlcrash_async_thread_state_get_reg_count(current))
      return tlcrash_error_t::invalidArgument;
    std::uint64_t value = 0;
    tlcrash_vm_address_t slot = 0;
    if (!tlcrash_async_address_apply_offset(savedArea, static_cast<tlcrash_vm_off_t>(i * width),
                                            &slot))
      return tlcrash_error_t::invalidArgument;
    if (const tlcrash_error_t error = readWordError(task, width, slot, &value);
        error != tlcrash_error_t::success)
      return error;
    tlcrash_async_thread_state_set_reg(&result, static_cast<int>(reg), value);
  }
  tlcrash_async_thread_state_copy(next, &result);
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_cfe_register_decode_permutation(std::uint32_t permutation,
                                                              std::uint32_t count,
                                                              std::uint32_t* codes) noexcept {
  if (count > 6) return tlcrash_error_t::invalidArgument;
  std::uint32_t digits[6] = {};
  permutationDigits(permutation, count, digits);
  bool taken[7] = {};
  for (std::uint32_t i = 0; i < count; ++i) {
    // The digits[i]-th code among 1..6 not yet taken.
    std::uint32_t remaining = digits[i];
    std::uint32_t chosen = 0;
    for (std::uint32_t code = 1; code <= 6; ++code) {
      if (taken[code]) continue;
      if (remaining == 0) {
        chosen = code;
        break;
      }
      --remaining;
    }
    if (chosen == 0) return tlcrash_error_t::invalidArgument;
    taken[chosen] = true;
    codes[i] = chosen;
  }
  return tlcrash_error_t::success;
}

std::uint32_t tlcrash_async_cfe_register_encode_permutation(const std::uint32_t* codes,
                                                            std::uint32_t count) noexcept {
  static constexpr std::uint32_t kWeights[7][5] = {
      {}, {1}, {5, 1}, {20, 4, 1}, {60, 12, 3, 1}, {120, 24, 6, 2, 1}, {120, 24, 6, 2, 1}};
  if (count > 6) return 0;
  std::uint32_t permutation = 0;
  for (std::uint32_t i = 0; i < count && i < 5; ++i) {
    std::uint32_t renumbered = codes[i] - 1;
    for (std::uint32_t j = 0; j < i; ++j) {
      if (codes[j] < codes[i]) --renumbered;
    }
    permutation += renumbered * kWeights[count][i];
  }
  return permutation;
}

tlcrash_async_frame_error_t tlcrash_async_frame_read_compact_unwind(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept {
  (void)previous;
  using Error = tlcrash_async_frame_error_t;
  if (!tlcrash_async_thread_state_has_reg(current, TLCRASH_REG_IP)) return Error::badFrame;
  if (tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_IP) == 0 || image_list == nullptr)
    return Error::notSupported;
  const std::uint64_t pc = tlcrash_async_thread_state_lookup_pc(current);

  tlcrash_async_image_list_set_reading(image_list, true);
  Error result = Error::notSupported;
  tlcrash_async_mobject section{};
  // ELF images have no compact unwind information.
  const tlcrash_async_image* found = tlcrash_async_image_list_image_for_address(image_list, pc);
  const tlcrash_async_macho* image =
      found != nullptr && found->format == tlcrash_async_image_format::macho ? &found->macho
                                                                             : nullptr;
  if (image != nullptr && tlcrash_async_macho_map_section(image, "__TEXT", "__unwind_info",
                                                          &section) == tlcrash_error_t::success) {
    result = [&] {
      tlcrash_async_cfe_reader reader;
      if (tlcrash_async_cfe_reader_init(&reader, &section, tlcrash_async_macho_cpu_type(image),
                                        tlcrash_async_macho_byteorder(image)) !=
          tlcrash_error_t::success)
        return Error::invalidArgument;
      std::uint64_t functionBase = 0;
      std::uint32_t encoding = 0;
      if (tlcrash_async_cfe_reader_find_pc(&reader, pc - image->header_addr, &functionBase,
                                           &encoding) != tlcrash_error_t::success)
        return Error::notSupported;
      tlcrash_async_cfe_entry entry;
      if (tlcrash_async_cfe_entry_init(&entry, reader.cputype, encoding) !=
          tlcrash_error_t::success)
        return Error::notSupported;
      if (entry.type == tlcrash_async_cfe_entry_type_t::none) return Error::noFrames;
      tlcrash_vm_address_t functionAddress = 0;
      if (functionBase > UINT64_MAX - image->header_addr) return Error::invalidArgument;
      functionAddress = image->header_addr + functionBase;
      if (tlcrash_async_cfe_entry_apply(task, functionAddress, current, &entry, next) !=
          tlcrash_error_t::success)
        return Error::noFrames;
      next->ip_is_return_address = true;
      return Error::success;
    }();
    tlcrash_async_mobject_free(&section);
  }
  tlcrash_async_image_list_set_reading(image_list, false);
  return result;
}

}  // namespace tlcrash
