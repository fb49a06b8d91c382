#pragma once

// The reader of a Mach-O image already mapped in a task: its header, load
// commands, segments and sections. An image record is made (and freed) when
// an image enters (or the list of loaded images is freed); reading it is
// async-signal-safe and checks every structure against the mapping it comes
// from, so a damaged image answers an error instead of a fault.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {

// The header's seven words, as found in the image (in its byte order).
struct tlcrash_async_macho_header {
  std::uint32_t magic;
  std::uint32_t cputype;
  std::uint32_t cpusubtype;
  std::uint32_t filetype;
  std::uint32_t ncmds;
  std::uint32_t sizeofcmds;
  std::uint32_t flags;
};

struct tlcrash_async_macho {
  const Task* task = nullptr;
  tlcrash_vm_address_t header_addr = 0;
  // header_addr - the __TEXT segment's vmaddr.
  tlcrash_vm_off_t vmaddr_slide = 0;
  // A private copy of the image's path.
  char* name = nullptr;
  tlcrash_async_macho_header header = {};
  std::uint32_t header_size = 0;
  std::uint32_t ncmds = 0;
  // Exactly the load commands.
  tlcrash_async_mobject load_cmds = {};
  tlcrash_vm_address_t text_vmaddr = 0;
  tlcrash_vm_size_t text_size = 0;
  bool m64 = false;
  const tlcrash_async_byteorder* byteorder = nullptr;
};

// A mapped segment with its place in the file.
struct tlcrash_async_macho_mapped_segment {
  tlcrash_async_mobject mobj = {};
  std::uint64_t fileoff = 0;
  std::uint64_t filesize = 0;
};

// Reads the header at `header_addr` of `task`, views the load commands and
// finds the __TEXT segment. internal when the header cannot be read;
// invalidArgument for an unknown magic or without __TEXT; noMemory when the
// name cannot be copied; a memory object's error when the load commands are
// not all readable. On failure nothing is kept. Not for the crash path (it
// allocates the name).
tlcrash_error_t tlcrash_async_macho_init(tlcrash_async_macho* image, const Task& task,
                                         const char* name,
                                         tlcrash_vm_address_t header_addr) noexcept;

// Releases the name and the view of the load commands. Not for the crash path.
void tlcrash_async_macho_free(tlcrash_async_macho* image) noexcept;

// header_addr <= address < header_addr + the __TEXT segment's size.
bool tlcrash_async_macho_contains_address(const tlcrash_async_macho* image,
                                          tlcrash_vm_address_t address) noexcept;

// The load command after `previous` (the first with null), as a pointer into
// the load-command view, or null at the end. A command whose 8-byte header
// or whole size is not inside the view, whose size is below 8, or that
// begins at or past the end ends the iteration.
const std::uint8_t* tlcrash_async_macho_next_command(const tlcrash_async_macho* image,
                                                     const std::uint8_t* previous) noexcept;
// The same, for commands of `type` only.
const std::uint8_t* tlcrash_async_macho_next_command_type(const tlcrash_async_macho* image,
                                                          const std::uint8_t* previous,
                                                          std::uint32_t type) noexcept;
// The first command of `type`, or null.
const std::uint8_t* tlcrash_async_macho_find_command(const tlcrash_async_macho* image,
                                                     std::uint32_t type) noexcept;
// The first segment command of the image's width whose name is
// `segname`, or null. A segment command too short for its fields is skipped.
const std::uint8_t* tlcrash_async_macho_find_segment_cmd(const tlcrash_async_macho* image,
                                                         const char* segname) noexcept;

// A word of a load command (`cmd` from the iteration, `offset` within it),
// in host order. The caller has checked that the command is long enough.
std::uint32_t tlcrash_async_macho_cmd_uint32(const tlcrash_async_macho* image,
                                             const std::uint8_t* cmd, std::size_t offset) noexcept;

// Views the segment `segname` ([vmaddr + slide, vmsize), cut to what is
// readable) and records its file offset and size. notFound without such a
// segment; invalidArgument when its address overflows; a memory object's
// error when nothing of it can be viewed.
tlcrash_error_t tlcrash_async_macho_map_segment(
    const tlcrash_async_macho* image, const char* segname,
    tlcrash_async_macho_mapped_segment* segment) noexcept;
void tlcrash_async_macho_mapped_segment_free(tlcrash_async_macho_mapped_segment* segment) noexcept;

// Views the whole section `sectname` of segment `segname` ([addr + slide,
// size)). notFound without the segment or the section; invalidArgument when a
// section record met before it lies outside its segment command or the
// address overflows; a memory object's error when not all of it is readable.
tlcrash_error_t tlcrash_async_macho_map_section(const tlcrash_async_macho* image,
                                                const char* segname, const char* sectname,
                                                tlcrash_async_mobject* section) noexcept;

// Accessors; values in host order.
inline const char* tlcrash_async_macho_name(const tlcrash_async_macho* image) noexcept {
  return image->name;
}
inline const tlcrash_async_macho_header* tlcrash_async_macho_header_raw(
    const tlcrash_async_macho* image) noexcept {
  return &image->header;
}
inline std::uint32_t tlcrash_async_macho_header_size(const tlcrash_async_macho* image) noexcept {
  return image->header_size;
}
inline const tlcrash_async_byteorder* tlcrash_async_macho_byteorder(
    const tlcrash_async_macho* image) noexcept {
  return image->byteorder;
}
inline cpu_type_t tlcrash_async_macho_cpu_type(const tlcrash_async_macho* image) noexcept {
  return static_cast<cpu_type_t>(image->byteorder->swap32(image->header.cputype));
}
inline cpu_subtype_t tlcrash_async_macho_cpu_subtype(const tlcrash_async_macho* image) noexcept {
  return static_cast<cpu_subtype_t>(image->byteorder->swap32(image->header.cpusubtype));
}

}  // namespace tlcrash
