#include "crashcapture/readers/image/macho_symbols.h"

#include <cstring>

#include "crashcapture/platform/macho_format.h"
#include "crashcapture/readers/core/safe_string.h"

namespace tlcrash {
namespace {

std::size_t entrySize(const tlcrash_async_macho* image) noexcept {
  return image->m64 ? macho::kNlistSize64 : macho::kNlistSize32;
}

// Defined in a section and not a debugging entry.
bool isCandidate(const tlcrash_async_macho_symtab_entry& entry) noexcept {
  return (entry.n_type & (macho::N_STAB | macho::N_TYPE)) == macho::N_SECT;
}

// `count` entries from index `first` on lie within `nsyms` entries.
bool fits(std::uint32_t nsyms, std::uint32_t first, std::uint32_t count) noexcept {
  return first <= nsyms && count <= nsyms - first;
}

// Entry `index` of the whole table (null for an empty table).
const std::uint8_t* entryAt(const tlcrash_async_macho_symtab_reader* reader,
                            std::uint32_t index) noexcept {
  if (reader->symtab == nullptr) return nullptr;
  return reader->symtab + static_cast<std::size_t>(index) * entrySize(reader->image);
}

// Keeps in `*best` the candidate of `table` with the greatest value not above
// `address`; a later one replaces it only with a strictly greater value.
void searchBest(const tlcrash_async_macho_symtab_reader* reader, const std::uint8_t* table,
                std::uint32_t count, tlcrash_vm_address_t address,
                tlcrash_async_macho_symtab_entry* best, bool* found) noexcept {
  for (std::uint32_t index = 0; index < count; ++index) {
    const auto entry = tlcrash_async_macho_symtab_reader_read(reader, table, index);
    if (!isCandidate(entry) || entry.n_value > address) continue;
    if (*found && entry.n_value <= best->n_value) continue;
    *best = entry;
    *found = true;
  }
}

}  // namespace

tlcrash_error_t tlcrash_async_macho_symtab_reader_init(tlcrash_async_macho_symtab_reader* reader,
                                                       const tlcrash_async_macho* image) noexcept {
  *reader = {};
  const std::uint8_t* symtabCmd = tlcrash_async_macho_find_command(image, macho::LC_SYMTAB);
  if (symtabCmd == nullptr) return tlcrash_error_t::notFound;
  if (tlcrash_async_macho_cmd_uint32(image, symtabCmd, 4) < macho::kSymtabCommandSize)
    return tlcrash_error_t::invalidArgument;
  const std::uint8_t* dysymtabCmd = tlcrash_async_macho_find_command(image, macho::LC_DYSYMTAB);
  if (dysymtabCmd != nullptr &&
      tlcrash_async_macho_cmd_uint32(image, dysymtabCmd, 4) < macho::kDysymtabCommandSize)
    return tlcrash_error_t::invalidArgument;

  tlcrash_async_macho_mapped_segment linkedit;
  if (tlcrash_async_macho_map_segment(image, "__LINKEDIT", &linkedit) != tlcrash_error_t::success)
    return tlcrash_error_t::internal;

  const std::uint32_t symoff = tlcrash_async_macho_cmd_uint32(image, symtabCmd, 8);
  const std::uint32_t nsyms = tlcrash_async_macho_cmd_uint32(image, symtabCmd, 12);
  const std::uint32_t stroff = tlcrash_async_macho_cmd_uint32(image, symtabCmd, 16);
  const std::uint32_t strsize = tlcrash_async_macho_cmd_uint32(image, symtabCmd, 20);
  const tlcrash_vm_address_t base = tlcrash_async_mobject_base_address(&linkedit.mobj);
  const std::uint64_t tableSize = static_cast<std::uint64_t>(nsyms) * entrySize(image);
  if (symoff < linkedit.fileoff || stroff < linkedit.fileoff || tableSize > SIZE_MAX) {
    tlcrash_async_macho_mapped_segment_free(&linkedit);
    return tlcrash_error_t::internal;
  }
  // Offsets within __LINKEDIT are below 2^32, so they fit an offset.
  const std::uint8_t* symtab = tlcrash_async_mobject_remap_address(
      &linkedit.mobj, base, static_cast<tlcrash_vm_off_t>(symoff - linkedit.fileoff),
      static_cast<std::size_t>(tableSize));
  const std::uint8_t* strings = tlcrash_async_mobject_remap_address(
      &linkedit.mobj, base, static_cast<tlcrash_vm_off_t>(stroff - linkedit.fileoff), strsize);
  if ((symtab == nullptr && tableSize != 0) || (strings == nullptr && strsize != 0)) {
    tlcrash_async_macho_mapped_segment_free(&linkedit);
    return tlcrash_error_t::internal;
  }

  reader->image = image;
  reader->linkedit = linkedit;
  reader->symtab = symtab;
  reader->nsyms = nsyms;
  reader->string_table = reinterpret_cast<const char*>(strings);
  reader->string_table_size = strsize;

  if (dysymtabCmd != nullptr) {
    const std::uint32_t ilocalsym = tlcrash_async_macho_cmd_uint32(image, dysymtabCmd, 8);
    const std::uint32_t nlocalsym = tlcrash_async_macho_cmd_uint32(image, dysymtabCmd, 12);
    const std::uint32_t iextdefsym = tlcrash_async_macho_cmd_uint32(image, dysymtabCmd, 16);
    const std::uint32_t nextdefsym = tlcrash_async_macho_cmd_uint32(image, dysymtabCmd, 20);
    if (!fits(nsyms, ilocalsym, nlocalsym) || !fits(nsyms, iextdefsym, nextdefsym)) {
      tlcrash_async_macho_symtab_reader_free(reader);
      return tlcrash_error_t::invalidArgument;
    }
    reader->has_dynamic_ranges = true;
    reader->symtab_local = entryAt(reader, ilocalsym);
    reader->nsyms_local = nlocalsym;
    reader->symtab_global = entryAt(reader, iextdefsym);
    reader->nsyms_global = nextdefsym;
  }
  return tlcrash_error_t::success;
}

void tlcrash_async_macho_symtab_reader_free(tlcrash_async_macho_symtab_reader* reader) noexcept {
  tlcrash_async_macho_mapped_segment_free(&reader->linkedit);
  *reader = {};
}

tlcrash_async_macho_symtab_entry tlcrash_async_macho_symtab_reader_read(
    const tlcrash_async_macho_symtab_reader* reader, const std::uint8_t* symtab,
    std::uint32_t index) noexcept {
  const tlcrash_async_macho* image = reader->image;
  const tlcrash_async_byteorder* order = image->byteorder;
  const std::uint8_t* at = symtab + static_cast<std::size_t>(index) * entrySize(image);
  tlcrash_async_macho_symtab_entry entry;
  std::uint32_t strx;
  std::uint16_t desc;
  std::memcpy(&strx, at, sizeof strx);
  entry.n_strx = order->swap32(strx);
  entry.n_type = at[4];
  entry.n_sect = at[5];
  std::memcpy(&desc, at + 6, sizeof desc);
  entry.n_desc = order->swap16(desc);
  if (image->m64) {
    std::uint64_t value;
    std::memcpy(&value, at + 8, sizeof value);
    entry.n_value = order->swap64(value);
  } else {
    std::uint32_t value;
    std::memcpy(&value, at + 8, sizeof value);
    entry.n_value = order->swap32(value);
  }
  entry.normalized_value = entry.n_value;
  if ((entry.n_desc & macho::N_ARM_THUMB_DEF) != 0) entry.normalized_value |= 1;
  return entry;
}

const char* tlcrash_async_macho_symtab_reader_symbol_name(
    const tlcrash_async_macho_symtab_reader* reader, std::uint32_t n_strx) noexcept {
  if (reader->string_table == nullptr || n_strx >= reader->string_table_size) return nullptr;
  const char* name = reader->string_table + n_strx;
  for (std::size_t at = n_strx; at < reader->string_table_size; ++at) {
    if (reader->string_table[at] == '\0') return name;
  }
  return nullptr;
}

tlcrash_error_t tlcrash_async_macho_find_symbol_by_pc(const tlcrash_async_macho* image,
                                                      tlcrash_vm_address_t pc,
                                                      tlcrash_async_macho_found_symbol_cb callback,
                                                      void* context) noexcept {
  tlcrash_async_macho_symtab_reader reader;
  const tlcrash_error_t ready = tlcrash_async_macho_symtab_reader_init(&reader, image);
  if (ready != tlcrash_error_t::success) return ready;

  // The address as linked: pc - slide.
  tlcrash_vm_address_t address = 0;
  const tlcrash_vm_off_t slide = image->vmaddr_slide;
  if (!tlcrash_async_address_apply_offset(pc, 0 - slide, &address)) {
    tlcrash_async_macho_symtab_reader_free(&reader);
    return tlcrash_error_t::notFound;
  }

  tlcrash_async_macho_symtab_entry best;
  bool found = false;
  if (reader.has_dynamic_ranges) {
    searchBest(&reader, reader.symtab_global, reader.nsyms_global, address, &best, &found);
    searchBest(&reader, reader.symtab_local, reader.nsyms_local, address, &best, &found);
  } else {
    searchBest(&reader, reader.symtab, reader.nsyms, address, &best, &found);
  }
  tlcrash_error_t result = tlcrash_error_t::notFound;
  if (found) {
    const char* name = tlcrash_async_macho_symtab_reader_symbol_name(&reader, best.n_strx);
    if (name == nullptr) {
      result = tlcrash_error_t::invalidArgument;
    } else {
      callback(best.normalized_value + static_cast<tlcrash_vm_address_t>(slide), name, context);
      result = tlcrash_error_t::success;
    }
  }
  tlcrash_async_macho_symtab_reader_free(&reader);
  return result;
}

tlcrash_error_t tlcrash_async_macho_find_symbol_by_name(const tlcrash_async_macho* image,
                                                        const char* name,
                                                        tlcrash_vm_address_t* address) noexcept {
  tlcrash_async_macho_symtab_reader reader;
  const tlcrash_error_t ready = tlcrash_async_macho_symtab_reader_init(&reader, image);
  if (ready != tlcrash_error_t::success) return ready;
  tlcrash_error_t result = tlcrash_error_t::notFound;
  for (std::uint32_t index = 0; index < reader.nsyms; ++index) {
    const auto entry = tlcrash_async_macho_symtab_reader_read(&reader, reader.symtab, index);
    if (!isCandidate(entry)) continue;
    const char* candidate = tlcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
    if (candidate == nullptr || tlcrash_async_strcmp(candidate, name) != 0) continue;
    *address = entry.n_value + static_cast<tlcrash_vm_address_t>(image->vmaddr_slide);
    result = tlcrash_error_t::success;
    break;
  }
  tlcrash_async_macho_symtab_reader_free(&reader);
  return result;
}

}  // namespace tlcrash
