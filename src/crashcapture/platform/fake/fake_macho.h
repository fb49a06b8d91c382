#pragma once

// Loading a Mach-O file into a FakeTask the way the dynamic loader maps it:
// each segment at its linked address plus a slide, its file bytes followed by
// zeros up to its memory size. The segments are mapped as one region (gaps
// between them zero-filled), so memory objects can view any part of the
// image; a segment that reserves address space only (__PAGEZERO: no file
// bytes, no access) is left out.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/mach_types.h"

namespace tlcrash {

// Maps the image `file` into `task` with `slide` added to every address.
// The header's address (that of the segment holding file offset 0), or none
// when the file is not a Mach-O image whose segment commands lie inside it,
// or the mapping would overlap one of the task's regions.
std::optional<tlcrash_vm_address_t> loadMachO(FakeTask& task, std::span<const std::uint8_t> file,
                                              tlcrash_vm_off_t slide = 0);

// The bytes of a file; empty when it cannot be read.
std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);

}  // namespace tlcrash
