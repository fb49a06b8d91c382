#include "crashcapture/readers/core/elf_image.h"

#include <elf.h>

#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/safe_string.h"

namespace tlcrash {
namespace {

// Limits on counts taken from the image, so that damaged headers cost
// bounded work.
constexpr std::uint32_t kMaxProgramHeaders = 4096;
constexpr tlcrash_vm_size_t kMaxNoteSegment = 64 * 1024;
constexpr tlcrash_vm_size_t kMaxDynamicEntries = 4096;
constexpr std::uint32_t kMaxHashBuckets = 1u << 22;
constexpr std::uint64_t kMaxSymbols = 1u << 22;
constexpr std::size_t kSymbolBatch = 32;
constexpr std::size_t kMaxSymbolName = 255;

// Pointer encodings of .eh_frame_hdr (the DWARF exception-handling ones).
constexpr std::uint8_t DW_EH_PE_absptr = 0x00;
constexpr std::uint8_t DW_EH_PE_udata4 = 0x03;
constexpr std::uint8_t DW_EH_PE_udata8 = 0x04;
constexpr std::uint8_t DW_EH_PE_sdata4 = 0x0b;
constexpr std::uint8_t DW_EH_PE_sdata8 = 0x0c;
constexpr std::uint8_t DW_EH_PE_pcrel = 0x10;
constexpr std::uint8_t DW_EH_PE_datarel = 0x30;
constexpr std::uint8_t DW_EH_PE_indirect = 0x80;
constexpr std::uint8_t DW_EH_PE_omit = 0xff;

tlcrash_error_t read(const Task& task, tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                     void* destination, std::size_t length) {
  return tlcrash_async_task_memcpy(task, address, offset, destination, length);
}

// `base` + `offset`, false on overflow.
bool add(tlcrash_vm_address_t base, std::uint64_t offset, tlcrash_vm_address_t* result) {
  if (offset > UINT64_MAX - base) return false;
  *result = base + offset;
  return true;
}

// Calls `visit(phdr)` for each program header until it answers false.
template <class Visit>
tlcrash_error_t forEachProgramHeader(const Task& task, tlcrash_vm_address_t header,
                                     const Elf64_Ehdr& ehdr, Visit visit) {
  for (std::uint32_t i = 0; i < ehdr.e_phnum; ++i) {
    Elf64_Phdr phdr;
    const tlcrash_error_t result =
        read(task, header,
             static_cast<tlcrash_vm_off_t>(ehdr.e_phoff + std::uint64_t{i} * sizeof(Elf64_Phdr)),
             &phdr, sizeof phdr);
    if (result != tlcrash_error_t::success) return result;
    if (!visit(phdr)) break;
  }
  return tlcrash_error_t::success;
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

// Looks for the GNU build id in one PT_NOTE segment whose notes are aligned
// to `alignment`.
void readBuildId(tlcrash_async_elf_image* image, const Elf64_Phdr& phdr, std::uint64_t alignment) {
  const tlcrash_vm_address_t start = phdr.p_vaddr + image->slide;
  const tlcrash_vm_size_t size = phdr.p_memsz < kMaxNoteSegment ? phdr.p_memsz : kMaxNoteSegment;
  std::uint64_t offset = 0;
  while (offset + sizeof(Elf64_Nhdr) <= size) {
    Elf64_Nhdr note;
    if (read(*image->task, start, static_cast<tlcrash_vm_off_t>(offset), &note, sizeof note) !=
        tlcrash_error_t::success)
      return;
    const std::uint64_t nameOffset = offset + sizeof note;
    const std::uint64_t descOffset = offset + alignUp(sizeof note + note.n_namesz, alignment);
    const std::uint64_t next = descOffset + alignUp(note.n_descsz, alignment);
    if (descOffset > size || next > size) return;
    if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4) {
      char name[4];
      if (read(*image->task, start, static_cast<tlcrash_vm_off_t>(nameOffset), name, 4) ==
              tlcrash_error_t::success &&
          tlcrash_async_strncmp(name, "GNU", 4) == 0) {
        if (note.n_descsz == 0 || note.n_descsz > TLCRASH_ELF_BUILD_ID_MAX) return;
        if (read(*image->task, start, static_cast<tlcrash_vm_off_t>(descOffset), image->build_id,
                 note.n_descsz) == tlcrash_error_t::success)
          image->build_id_size = note.n_descsz;
        return;
      }
    }
    offset = next;
  }
}

// Reads a pointer of .eh_frame_hdr's encoding `encoding` at `field`; false
// for encodings not read here.
bool readEncodedPointer(const tlcrash_async_elf_image* image, std::uint8_t encoding,
                        tlcrash_vm_address_t field, tlcrash_vm_address_t* value) {
  if (encoding == DW_EH_PE_omit || (encoding & DW_EH_PE_indirect) != 0) return false;
  std::uint64_t raw = 0;
  switch (encoding & 0x0f) {
    case DW_EH_PE_absptr:
    case DW_EH_PE_udata8:
    case DW_EH_PE_sdata8: {
      std::uint64_t word;
      if (read(*image->task, field, 0, &word, 8) != tlcrash_error_t::success) return false;
      raw = word;
      break;
    }
    case DW_EH_PE_udata4: {
      std::uint32_t word;
      if (read(*image->task, field, 0, &word, 4) != tlcrash_error_t::success) return false;
      raw = word;
      break;
    }
    case DW_EH_PE_sdata4: {
      std::int32_t word;
      if (read(*image->task, field, 0, &word, 4) != tlcrash_error_t::success) return false;
      raw = static_cast<std::uint64_t>(static_cast<std::int64_t>(word));
      break;
    }
    default:
      return false;
  }
  switch (encoding & 0x70) {
    case DW_EH_PE_absptr:
      *value = raw;
      return true;
    case DW_EH_PE_pcrel:
      *value = field + raw;
      return true;
    case DW_EH_PE_datarel:
      *value = image->eh_frame_hdr + raw;
      return true;
    default:
      return false;
  }
}

// A pointer taken from the dynamic section: the loader has usually relocated
// it already, but not in every object (the vDSO), so an unrelocated value is
// slid. False when it lands outside the image.
bool dynamicPointer(const tlcrash_async_elf_image* image, std::uint64_t value,
                    tlcrash_vm_address_t* address) {
  if (value >= image->load_start && value < image->load_end) {
    *address = value;
    return true;
  }
  const tlcrash_vm_address_t slid = value + image->slide;
  if (slid >= image->load_start && slid < image->load_end) {
    *address = slid;
    return true;
  }
  return false;
}

struct DynamicTables {
  tlcrash_vm_address_t symtab = 0;
  tlcrash_vm_address_t strtab = 0;
  std::uint64_t strsz = 0;
  std::uint64_t syment = sizeof(Elf64_Sym);
  tlcrash_vm_address_t hash = 0;
  tlcrash_vm_address_t gnuHash = 0;
};

tlcrash_error_t readDynamic(const tlcrash_async_elf_image* image, DynamicTables* tables) {
  std::uint64_t symtab = 0, strtab = 0, hash = 0, gnuHash = 0;
  bool haveSymtab = false, haveStrtab = false, haveHash = false, haveGnuHash = false;
  const tlcrash_vm_size_t entries = image->dynamic_size / sizeof(Elf64_Dyn);
  for (tlcrash_vm_size_t i = 0; i < entries && i < kMaxDynamicEntries; ++i) {
    Elf64_Dyn entry;
    const tlcrash_error_t result =
        read(*image->task, image->dynamic, static_cast<tlcrash_vm_off_t>(i * sizeof entry), &entry,
             sizeof entry);
    if (result != tlcrash_error_t::success) return result;
    if (entry.d_tag == DT_NULL) break;
    switch (entry.d_tag) {
      case DT_SYMTAB:
        symtab = entry.d_un.d_ptr;
        haveSymtab = true;
        break;
      case DT_STRTAB:
        strtab = entry.d_un.d_ptr;
        haveStrtab = true;
        break;
      case DT_STRSZ:
        tables->strsz = entry.d_un.d_val;
        break;
      case DT_SYMENT:
        tables->syment = entry.d_un.d_val;
        break;
      case DT_HASH:
        hash = entry.d_un.d_ptr;
        haveHash = true;
        break;
      case DT_GNU_HASH:
        gnuHash = entry.d_un.d_ptr;
        haveGnuHash = true;
        break;
      default:
        break;
    }
  }
  if (!haveSymtab || !haveStrtab || (!haveHash && !haveGnuHash)) return tlcrash_error_t::notFound;
  if (tables->syment != sizeof(Elf64_Sym) || tables->strsz == 0)
    return tlcrash_error_t::invalidData;
  if (!dynamicPointer(image, symtab, &tables->symtab) ||
      !dynamicPointer(image, strtab, &tables->strtab))
    return tlcrash_error_t::invalidData;
  if (haveGnuHash && !dynamicPointer(image, gnuHash, &tables->gnuHash))
    return tlcrash_error_t::invalidData;
  if (haveHash && !dynamicPointer(image, hash, &tables->hash)) return tlcrash_error_t::invalidData;
  return tlcrash_error_t::success;
}

// The number of .dynsym entries: DT_HASH's chain count, else one past the
// last symbol reachable through DT_GNU_HASH.
tlcrash_error_t countSymbols(const tlcrash_async_elf_image* image, const DynamicTables& tables,
                             std::uint64_t* count) {
  const Task& task = *image->task;
  if (tables.hash != 0) {
    std::uint32_t header[2];
    const tlcrash_error_t result = read(task, tables.hash, 0, header, sizeof header);
    if (result != tlcrash_error_t::success) return result;
    *count = header[1];
  } else {
    std::uint32_t header[4];  // nbuckets, symoffset, bloom size, bloom shift
    tlcrash_error_t result = read(task, tables.gnuHash, 0, header, sizeof header);
    if (result != tlcrash_error_t::success) return result;
    const std::uint32_t buckets = header[0];
    const std::uint32_t symoffset = header[1];
    if (buckets == 0 || buckets > kMaxHashBuckets || header[2] > kMaxHashBuckets)
      return tlcrash_error_t::invalidData;
    const std::uint64_t bucketsOffset = 16 + std::uint64_t{header[2]} * 8;
    std::uint32_t last = 0;
    std::uint32_t batch[64];
    for (std::uint32_t i = 0; i < buckets; i += 64) {
      const std::uint32_t n = buckets - i < 64 ? buckets - i : 64;
      result = read(task, tables.gnuHash, static_cast<tlcrash_vm_off_t>(bucketsOffset + i * 4ull),
                    batch, n * 4);
      if (result != tlcrash_error_t::success) return result;
      for (std::uint32_t j = 0; j < n; ++j)
        if (batch[j] > last) last = batch[j];
    }
    if (last < symoffset) {
      *count = symoffset;
    } else {
      const std::uint64_t chainOffset = bucketsOffset + std::uint64_t{buckets} * 4;
      for (;;) {
        if (last - symoffset >= kMaxSymbols) return tlcrash_error_t::invalidData;
        std::uint32_t chain;
        result =
            read(task, tables.gnuHash,
                 static_cast<tlcrash_vm_off_t>(chainOffset + (last - symoffset) * 4ull), &chain, 4);
        if (result != tlcrash_error_t::success) return result;
        if ((chain & 1) != 0) break;
        ++last;
      }
      *count = std::uint64_t{last} + 1;
    }
  }
  if (*count > kMaxSymbols) return tlcrash_error_t::invalidData;
  return tlcrash_error_t::success;
}

// The size of a pointer of .eh_frame_hdr's encoding `encoding`; 0 for the
// sizes not read here.
std::uint64_t encodedSize(std::uint8_t encoding) {
  switch (encoding & 0x0f) {
    case DW_EH_PE_absptr:
    case DW_EH_PE_udata8:
    case DW_EH_PE_sdata8:
      return 8;
    case DW_EH_PE_udata4:
    case DW_EH_PE_sdata4:
      return 4;
    default:
      return 0;
  }
}

// One entry of .eh_frame_hdr's search table (datarel sdata4 pairs): the
// function's start and its FDE, as loaded addresses.
struct TableEntry {
  tlcrash_vm_address_t start;
  tlcrash_vm_address_t fde;
};

tlcrash_error_t readTableEntry(const tlcrash_async_elf_image* image, tlcrash_vm_address_t table,
                               std::uint64_t index, TableEntry* entry) {
  std::int32_t words[2];
  const tlcrash_error_t result =
      read(*image->task, table, static_cast<tlcrash_vm_off_t>(index * 8), words, sizeof words);
  if (result != tlcrash_error_t::success) return result;
  entry->start = image->eh_frame_hdr + static_cast<std::uint64_t>(std::int64_t{words[0]});
  entry->fde = image->eh_frame_hdr + static_cast<std::uint64_t>(std::int64_t{words[1]});
  return tlcrash_error_t::success;
}

bool isCodeSymbol(const Elf64_Sym& symbol) {
  const unsigned type = ELF64_ST_TYPE(symbol.st_info);
  return symbol.st_shndx != SHN_UNDEF && symbol.st_value != 0 &&
         (type == STT_FUNC || type == STT_GNU_IFUNC || type == STT_NOTYPE);
}

}  // namespace

tlcrash_error_t tlcrash_async_elf_image_init(tlcrash_async_elf_image* image, const Task& task,
                                             tlcrash_vm_address_t header_address) noexcept {
  tlcrash_async_memset(image, 0, sizeof *image);
  image->task = &task;
  image->header_address = header_address;

  Elf64_Ehdr ehdr;
  tlcrash_error_t result = read(task, header_address, 0, &ehdr, EI_NIDENT);
  if (result != tlcrash_error_t::success) return result;
  if (ehdr.e_ident[EI_MAG0] != ELFMAG0 || ehdr.e_ident[EI_MAG1] != ELFMAG1 ||
      ehdr.e_ident[EI_MAG2] != ELFMAG2 || ehdr.e_ident[EI_MAG3] != ELFMAG3)
    return tlcrash_error_t::invalidData;
  if (ehdr.e_ident[EI_CLASS] != ELFCLASS64 || ehdr.e_ident[EI_DATA] != ELFDATA2LSB)
    return tlcrash_error_t::notSupported;
  result = read(task, header_address, 0, &ehdr, sizeof ehdr);
  if (result != tlcrash_error_t::success) return result;
  if (ehdr.e_phentsize != sizeof(Elf64_Phdr) || ehdr.e_phnum == 0 ||
      ehdr.e_phnum > kMaxProgramHeaders)
    return tlcrash_error_t::invalidData;
  tlcrash_vm_address_t lastHeader;
  if (!add(header_address, ehdr.e_phoff + std::uint64_t{ehdr.e_phnum} * sizeof(Elf64_Phdr),
           &lastHeader))
    return tlcrash_error_t::invalidData;

  switch (ehdr.e_machine) {
    case EM_X86_64:
      image->cpu_type = CPU_TYPE_X86_64;
      image->cpu_subtype = CPU_SUBTYPE_X86_ALL;
      break;
    case EM_AARCH64:
      image->cpu_type = CPU_TYPE_ARM64;
      image->cpu_subtype = CPU_SUBTYPE_ARM64_ALL;
      break;
    default:
      break;
  }

  // The load segment at file offset 0 holds the header: it gives the slide.
  bool haveSlide = false;
  result = forEachProgramHeader(task, header_address, ehdr, [&](const Elf64_Phdr& phdr) {
    if (phdr.p_type == PT_LOAD && phdr.p_offset == 0) {
      image->slide = header_address - phdr.p_vaddr;
      haveSlide = true;
      return false;
    }
    return true;
  });
  if (result != tlcrash_error_t::success) return result;
  if (!haveSlide) return tlcrash_error_t::invalidData;

  bool haveLoad = false;
  bool damaged = false;
  tlcrash_vm_address_t textEnd = 0;
  Elf64_Phdr notes[8];
  std::size_t noteCount = 0;
  result = forEachProgramHeader(task, header_address, ehdr, [&](const Elf64_Phdr& phdr) {
    tlcrash_vm_address_t start;
    tlcrash_vm_address_t end;
    if (phdr.p_type != PT_LOAD && phdr.p_type != PT_NOTE && phdr.p_type != PT_GNU_EH_FRAME &&
        phdr.p_type != PT_DYNAMIC)
      return true;
    start = phdr.p_vaddr + image->slide;
    if (!add(start, phdr.p_memsz, &end)) {
      damaged = true;
      return false;
    }
    switch (phdr.p_type) {
      case PT_LOAD:
        if (!haveLoad || start < image->load_start) image->load_start = start;
        if (!haveLoad || end > image->load_end) image->load_end = end;
        haveLoad = true;
        if ((phdr.p_flags & PF_X) != 0 && end > textEnd) textEnd = end;
        break;
      case PT_NOTE:
        if (noteCount < sizeof notes / sizeof notes[0]) notes[noteCount++] = phdr;
        break;
      case PT_GNU_EH_FRAME:
        image->eh_frame_hdr = start;
        image->eh_frame_hdr_size = phdr.p_memsz;
        break;
      case PT_DYNAMIC:
        image->dynamic = start;
        image->dynamic_size = phdr.p_memsz;
        break;
    }
    return true;
  });
  if (result != tlcrash_error_t::success) return result;
  if (damaged || textEnd <= header_address) return tlcrash_error_t::invalidData;
  image->text_start = header_address;
  image->text_size = textEnd - header_address;

  // Segments that reach outside the loaded span are not trusted.
  auto inside = [image](tlcrash_vm_address_t start, tlcrash_vm_size_t size) {
    return start >= image->load_start && start <= image->load_end &&
           size <= image->load_end - start;
  };
  if (image->eh_frame_hdr != 0 && !inside(image->eh_frame_hdr, image->eh_frame_hdr_size))
    image->eh_frame_hdr = image->eh_frame_hdr_size = 0;
  if (image->dynamic != 0 && !inside(image->dynamic, image->dynamic_size))
    image->dynamic = image->dynamic_size = 0;

  for (std::size_t i = 0; i < noteCount && image->build_id_size == 0; ++i) {
    if (!inside(notes[i].p_vaddr + image->slide, notes[i].p_memsz)) continue;
    // Linkers may merge 4- and 8-aligned notes into one segment aligned to
    // 8. The build id note is 4-aligned and the 8-aligned ones (properties)
    // are sized in multiples of 8, so 4 is tried first.
    readBuildId(image, notes[i], 4);
    if (image->build_id_size == 0 && notes[i].p_align == 8) readBuildId(image, notes[i], 8);
  }
  return tlcrash_error_t::success;
}

bool tlcrash_async_elf_image_contains_address(const tlcrash_async_elf_image* image,
                                              tlcrash_vm_address_t address) noexcept {
  return address >= image->text_start && address - image->text_start < image->text_size;
}

tlcrash_vm_address_t tlcrash_async_elf_eh_frame(const tlcrash_async_elf_image* image) noexcept {
  std::uint8_t header[4];
  if (image->eh_frame_hdr == 0 || image->eh_frame_hdr_size < 4 + 4 ||
      read(*image->task, image->eh_frame_hdr, 0, header, sizeof header) !=
          tlcrash_error_t::success ||
      header[0] != 1)
    return 0;
  tlcrash_vm_address_t frame = 0;
  if (!readEncodedPointer(image, header[1], image->eh_frame_hdr + 4, &frame)) return 0;
  return frame;
}

tlcrash_vm_size_t tlcrash_async_elf_eh_frame_extent(const tlcrash_async_elf_image* image,
                                                    tlcrash_vm_address_t eh_frame) noexcept {
  if (eh_frame == 0 || eh_frame < image->load_start || eh_frame >= image->load_end) return 0;
  return image->load_end - eh_frame;
}

tlcrash_error_t tlcrash_async_elf_find_fde_offset(const tlcrash_async_elf_image* image,
                                                  tlcrash_vm_address_t pc,
                                                  tlcrash_vm_off_t* fde_offset) noexcept {
  constexpr std::uint8_t kTableEncoding = DW_EH_PE_datarel | DW_EH_PE_sdata4;
  if (image->eh_frame_hdr == 0 || image->eh_frame_hdr_size < 4) return tlcrash_error_t::notFound;
  std::uint8_t header[4];  // version, .eh_frame pointer, count and table encodings
  tlcrash_error_t result = read(*image->task, image->eh_frame_hdr, 0, header, sizeof header);
  if (result != tlcrash_error_t::success) return result;
  if (header[2] == DW_EH_PE_omit || header[3] == DW_EH_PE_omit) return tlcrash_error_t::notFound;
  const std::uint64_t pointerSize = encodedSize(header[1]);
  const std::uint64_t countSize = encodedSize(header[2]);
  if (header[0] != 1 || header[1] == DW_EH_PE_omit || pointerSize == 0 || countSize == 0 ||
      (header[2] & 0x70) != DW_EH_PE_absptr || header[3] != kTableEncoding)
    return tlcrash_error_t::notSupported;

  const std::uint64_t countOffset = 4 + pointerSize;
  const std::uint64_t tableOffset = countOffset + countSize;
  if (tableOffset > image->eh_frame_hdr_size) return tlcrash_error_t::invalidData;
  tlcrash_vm_address_t count = 0;
  if (!readEncodedPointer(image, header[2], image->eh_frame_hdr + countOffset, &count))
    return tlcrash_error_t::invalidData;
  if (count == 0) return tlcrash_error_t::notFound;
  if (count > (image->eh_frame_hdr_size - tableOffset) / 8) return tlcrash_error_t::invalidData;
  const tlcrash_vm_address_t table = image->eh_frame_hdr + tableOffset;

  // Entries below `low` start at or below pc, those from `high` on above it.
  // Every entry probed must lie between the nearest ones probed on either
  // side, else the table is not sorted.
  std::uint64_t low = 0;
  std::uint64_t high = count;
  bool haveBelow = false, haveAbove = false;
  TableEntry below{};
  tlcrash_vm_address_t above = 0;
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    TableEntry entry;
    result = readTableEntry(image, table, middle, &entry);
    if (result != tlcrash_error_t::success) return result;
    if ((haveBelow && entry.start < below.start) || (haveAbove && entry.start > above))
      return tlcrash_error_t::invalidData;
    if (entry.start <= pc) {
      below = entry;
      haveBelow = true;
      low = middle + 1;
    } else {
      above = entry.start;
      haveAbove = true;
      high = middle;
    }
  }
  if (!haveBelow) return tlcrash_error_t::notFound;
  // The entry before the one found was not always probed: it must not start
  // after it either.
  if (low >= 2) {
    TableEntry previous;
    result = readTableEntry(image, table, low - 2, &previous);
    if (result != tlcrash_error_t::success) return result;
    if (previous.start > below.start) return tlcrash_error_t::invalidData;
  }
  tlcrash_vm_address_t ehFrame = 0;
  if (!readEncodedPointer(image, header[1], image->eh_frame_hdr + 4, &ehFrame))
    return tlcrash_error_t::invalidData;
  const tlcrash_vm_size_t extent = tlcrash_async_elf_eh_frame_extent(image, ehFrame);
  if (extent == 0 || below.fde < ehFrame || below.fde - ehFrame >= extent)
    return tlcrash_error_t::invalidData;
  *fde_offset = static_cast<tlcrash_vm_off_t>(below.fde - ehFrame);
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_elf_find_symbol_by_pc(const tlcrash_async_elf_image* image,
                                                    tlcrash_vm_address_t pc,
                                                    tlcrash_async_elf_found_symbol_cb callback,
                                                    void* context) noexcept {
  if (!tlcrash_async_elf_image_contains_address(image, pc) || image->dynamic == 0)
    return tlcrash_error_t::notFound;
  DynamicTables tables;
  tlcrash_error_t result = readDynamic(image, &tables);
  if (result != tlcrash_error_t::success) return result;
  std::uint64_t count = 0;
  result = countSymbols(image, tables, &count);
  if (result != tlcrash_error_t::success) return result;

  bool found = false;
  tlcrash_vm_address_t bestAddress = 0;
  std::uint64_t bestSize = 0;
  std::uint32_t bestName = 0;
  Elf64_Sym batch[kSymbolBatch];
  for (std::uint64_t first = 0; first < count; first += kSymbolBatch) {
    const std::size_t n =
        count - first < kSymbolBatch ? static_cast<std::size_t>(count - first) : kSymbolBatch;
    result =
        read(*image->task, tables.symtab, static_cast<tlcrash_vm_off_t>(first * sizeof(Elf64_Sym)),
             batch, n * sizeof(Elf64_Sym));
    if (result != tlcrash_error_t::success) return tlcrash_error_t::invalidData;
    for (std::size_t i = 0; i < n; ++i) {
      if (!isCodeSymbol(batch[i])) continue;
      const tlcrash_vm_address_t address = batch[i].st_value + image->slide;
      if (address > pc || (found && address < bestAddress)) continue;
      // Of aliases at one address, the one that spans the most.
      if (found && address == bestAddress && batch[i].st_size <= bestSize) continue;
      if (batch[i].st_name >= tables.strsz) continue;
      found = true;
      bestAddress = address;
      bestSize = batch[i].st_size;
      bestName = batch[i].st_name;
    }
  }
  // Past the end of the nearest exported function lies a function of the
  // image's own, which .dynsym does not name.
  if (!found || (bestSize > 0 && pc - bestAddress >= bestSize)) return tlcrash_error_t::notFound;

  char name[kMaxSymbolName + 1];
  std::uint64_t room = tables.strsz - bestName;
  std::size_t length = room < kMaxSymbolName ? static_cast<std::size_t>(room) : kMaxSymbolName;
  // The string table may end before a full name's worth of bytes is mapped:
  // read what is there.
  const std::size_t readable = image->task->readablePrefix(tables.strtab + bestName, length);
  if (readable == 0) return tlcrash_error_t::invalidData;
  if (readable < length) length = readable;
  result = read(*image->task, tables.strtab, bestName, name, length);
  if (result != tlcrash_error_t::success) return tlcrash_error_t::invalidData;
  name[length] = '\0';
  // A name shorter than the longest kept must end inside the string table.
  if (room <= kMaxSymbolName) {
    bool terminated = false;
    for (std::size_t i = 0; i < length && !terminated; ++i)
      terminated = name[i] == '\0';
    if (!terminated) return tlcrash_error_t::invalidData;
  }
  callback(bestAddress, name, context);
  return tlcrash_error_t::success;
}

}  // namespace tlcrash
