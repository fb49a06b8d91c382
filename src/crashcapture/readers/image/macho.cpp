#include "crashcapture/readers/image/macho.h"

#include <cstring>
#include <new>

#include "crashcapture/platform/macho_format.h"
#include "crashcapture/readers/core/safe_string.h"

namespace tlcrash {
namespace {

// The fields of a segment command, in host order.
struct SegmentFields {
  std::uint64_t vmaddr = 0;
  std::uint64_t vmsize = 0;
  std::uint64_t fileoff = 0;
  std::uint64_t filesize = 0;
  std::uint32_t nsects = 0;
};

std::uint64_t readWord(const tlcrash_async_macho* image, const std::uint8_t* at) noexcept {
  if (image->m64) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return image->byteorder->swap64(value);
  }
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return image->byteorder->swap32(value);
}

// `cmd` is a segment command of the image's width, long enough for its fields.
SegmentFields readSegment(const tlcrash_async_macho* image, const std::uint8_t* cmd) noexcept {
  const std::size_t word = image->m64 ? 8 : 4;
  const std::size_t first = macho::kLoadCommandSize + macho::kNameSize;
  SegmentFields fields;
  fields.vmaddr = readWord(image, cmd + first);
  fields.vmsize = readWord(image, cmd + first + word);
  fields.fileoff = readWord(image, cmd + first + 2 * word);
  fields.filesize = readWord(image, cmd + first + 3 * word);
  // maxprot and initprot follow, then nsects.
  fields.nsects = tlcrash_async_macho_cmd_uint32(image, cmd, first + 4 * word + 8);
  return fields;
}

// A 16-byte name field equals `name` (which may be shorter, then the field
// has a NUL after it).
bool nameEquals(const std::uint8_t* field, const char* name) noexcept {
  return tlcrash_async_strncmp(reinterpret_cast<const char*>(field), name, macho::kNameSize) == 0;
}

}  // namespace

tlcrash_error_t tlcrash_async_macho_init(tlcrash_async_macho* image, const Task& task,
                                         const char* name,
                                         tlcrash_vm_address_t header_addr) noexcept {
  *image = {};
  tlcrash_async_macho_header header;
  static_assert(sizeof header == macho::kHeaderSize32);
  if (tlcrash_async_task_memcpy(task, header_addr, 0, &header, sizeof header) !=
      tlcrash_error_t::success)
    return tlcrash_error_t::internal;

  switch (header.magic) {
    case macho::MH_MAGIC:
      image->byteorder = tlcrash_async_byteorder_direct();
      break;
    case macho::MH_CIGAM:
      image->byteorder = tlcrash_async_byteorder_swapped();
      break;
    case macho::MH_MAGIC_64:
      image->m64 = true;
      image->byteorder = tlcrash_async_byteorder_direct();
      break;
    case macho::MH_CIGAM_64:
      image->m64 = true;
      image->byteorder = tlcrash_async_byteorder_swapped();
      break;
    default:
      *image = {};
      return tlcrash_error_t::invalidArgument;
  }
  image->task = &task;
  image->header_addr = header_addr;
  image->header = header;
  image->header_size =
      static_cast<std::uint32_t>(image->m64 ? macho::kHeaderSize64 : macho::kHeaderSize32);
  image->ncmds = image->byteorder->swap32(header.ncmds);

  tlcrash_vm_address_t commands = 0;
  if (!tlcrash_async_address_apply_offset(header_addr, image->header_size, &commands)) {
    *image = {};
    return tlcrash_error_t::invalidArgument;
  }
  const tlcrash_error_t mapped = tlcrash_async_mobject_init(
      &image->load_cmds, task, commands, image->byteorder->swap32(header.sizeofcmds), true);
  if (mapped != tlcrash_error_t::success) {
    *image = {};
    return mapped;
  }

  const std::uint8_t* text = tlcrash_async_macho_find_segment_cmd(image, "__TEXT");
  if (text == nullptr) {
    *image = {};
    return tlcrash_error_t::invalidArgument;
  }
  const SegmentFields fields = readSegment(image, text);
  image->text_vmaddr = fields.vmaddr;
  image->text_size = fields.vmsize;
  // Two's complement: a header below the linked address gives a negative slide.
  image->vmaddr_slide = static_cast<tlcrash_vm_off_t>(header_addr - fields.vmaddr);

  if (name != nullptr) {
    const std::size_t length = std::strlen(name);
    image->name = new (std::nothrow) char[length + 1];
    if (image->name == nullptr) {
      *image = {};
      return tlcrash_error_t::noMemory;
    }
    std::memcpy(image->name, name, length + 1);
  }
  return tlcrash_error_t::success;
}

void tlcrash_async_macho_free(tlcrash_async_macho* image) noexcept {
  delete[] image->name;
  tlcrash_async_mobject_free(&image->load_cmds);
  *image = {};
}

bool tlcrash_async_macho_contains_address(const tlcrash_async_macho* image,
                                          tlcrash_vm_address_t address) noexcept {
  if (address < image->header_addr) return false;
  return address - image->header_addr < image->text_size;
}

std::uint32_t tlcrash_async_macho_cmd_uint32(const tlcrash_async_macho* image,
                                             const std::uint8_t* cmd, std::size_t offset) noexcept {
  std::uint32_t value;
  std::memcpy(&value, cmd + offset, sizeof value);
  return image->byteorder->swap32(value);
}

const std::uint8_t* tlcrash_async_macho_next_command(const tlcrash_async_macho* image,
                                                     const std::uint8_t* previous) noexcept {
  const tlcrash_async_mobject* commands = &image->load_cmds;
  const std::uint8_t* cmd = commands->local;
  if (cmd == nullptr) return nullptr;
  if (previous != nullptr) {
    // `previous` came from here, so its header and size are inside the view.
    const std::uint32_t size = tlcrash_async_macho_cmd_uint32(image, previous, 4);
    const auto offset = static_cast<std::size_t>(previous - commands->local);
    if (size >= commands->length - offset) return nullptr;  // would begin at or past the end
    cmd = previous + size;
  }
  if (!tlcrash_async_mobject_verify_local_pointer(commands, cmd, 0, macho::kLoadCommandSize))
    return nullptr;
  const std::uint32_t size = tlcrash_async_macho_cmd_uint32(image, cmd, 4);
  if (size < macho::kLoadCommandSize) return nullptr;
  if (!tlcrash_async_mobject_verify_local_pointer(commands, cmd, 0, size)) return nullptr;
  return cmd;
}

const std::uint8_t* tlcrash_async_macho_next_command_type(const tlcrash_async_macho* image,
                                                          const std::uint8_t* previous,
                                                          std::uint32_t type) noexcept {
  const std::uint8_t* cmd = previous;
  while ((cmd = tlcrash_async_macho_next_command(image, cmd)) != nullptr) {
    if (tlcrash_async_macho_cmd_uint32(image, cmd, 0) == type) return cmd;
  }
  return nullptr;
}

const std::uint8_t* tlcrash_async_macho_find_command(const tlcrash_async_macho* image,
                                                     std::uint32_t type) noexcept {
  return tlcrash_async_macho_next_command_type(image, nullptr, type);
}

const std::uint8_t* tlcrash_async_macho_find_segment_cmd(const tlcrash_async_macho* image,
                                                         const char* segname) noexcept {
  const std::uint32_t type = image->m64 ? macho::LC_SEGMENT_64 : macho::LC_SEGMENT;
  const std::size_t minimum =
      image->m64 ? macho::kSegmentCommandSize64 : macho::kSegmentCommandSize32;
  const std::uint8_t* cmd = nullptr;
  while ((cmd = tlcrash_async_macho_next_command_type(image, cmd, type)) != nullptr) {
    if (tlcrash_async_macho_cmd_uint32(image, cmd, 4) < minimum) continue;
    if (nameEquals(cmd + macho::kLoadCommandSize, segname)) return cmd;
  }
  return nullptr;
}

tlcrash_error_t tlcrash_async_macho_map_segment(
    const tlcrash_async_macho* image, const char* segname,
    tlcrash_async_macho_mapped_segment* segment) noexcept {
  *segment = {};
  const std::uint8_t* cmd = tlcrash_async_macho_find_segment_cmd(image, segname);
  if (cmd == nullptr) return tlcrash_error_t::notFound;
  const SegmentFields fields = readSegment(image, cmd);
  tlcrash_vm_address_t address = 0;
  if (!tlcrash_async_address_apply_offset(fields.vmaddr, image->vmaddr_slide, &address))
    return tlcrash_error_t::invalidArgument;
  const tlcrash_error_t mapped =
      tlcrash_async_mobject_init(&segment->mobj, *image->task, address, fields.vmsize, false);
  if (mapped != tlcrash_error_t::success) return mapped;
  segment->fileoff = fields.fileoff;
  segment->filesize = fields.filesize;
  return tlcrash_error_t::success;
}

void tlcrash_async_macho_mapped_segment_free(tlcrash_async_macho_mapped_segment* segment) noexcept {
  tlcrash_async_mobject_free(&segment->mobj);
  *segment = {};
}

tlcrash_error_t tlcrash_async_macho_map_section(const tlcrash_async_macho* image,
                                                const char* segname, const char* sectname,
                                                tlcrash_async_mobject* section) noexcept {
  *section = {};
  const std::uint8_t* cmd = tlcrash_async_macho_find_segment_cmd(image, segname);
  if (cmd == nullptr) return tlcrash_error_t::notFound;
  const std::uint32_t cmdsize = tlcrash_async_macho_cmd_uint32(image, cmd, 4);
  const SegmentFields fields = readSegment(image, cmd);
  const std::uint64_t recordSize = image->m64 ? macho::kSectionSize64 : macho::kSectionSize32;
  const std::uint64_t first =
      image->m64 ? macho::kSegmentCommandSize64 : macho::kSegmentCommandSize32;
  for (std::uint32_t index = 0; index < fields.nsects; ++index) {
    // At most 2^32 records of 80 bytes: no overflow in 64 bits.
    const std::uint64_t offset = first + index * recordSize;
    if (offset + recordSize > cmdsize) return tlcrash_error_t::invalidArgument;
    const std::uint8_t* record = cmd + offset;
    if (!nameEquals(record, sectname)) continue;
    const std::size_t word = image->m64 ? 8 : 4;
    const std::uint64_t addr = readWord(image, record + 2 * macho::kNameSize);
    const std::uint64_t size = readWord(image, record + 2 * macho::kNameSize + word);
    tlcrash_vm_address_t address = 0;
    if (!tlcrash_async_address_apply_offset(addr, image->vmaddr_slide, &address))
      return tlcrash_error_t::invalidArgument;
    return tlcrash_async_mobject_init(section, *image->task, address, size, true);
  }
  return tlcrash_error_t::notFound;
}

}  // namespace tlcrash
