#pragma once

// The ELF images the dynamic loader has loaded into this process, as the
// loaded-image list takes them in: each image's path and header address, with
// the fields read from its headers (text range, build id, .eh_frame_hdr,
// dynamic section). The loader reports no additions or removals, so the list
// is refreshed by enumerating again when the generation changes; an image
// loaded after the last refresh is missing from a report.
//
// Not for the crash path: the loader's lock is taken while enumerating.

#include <cstdint>
#include <functional>
#include <string>

#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/elf_image.h"

namespace tlcrash {

struct LoadedElfImage {
  // The file the image came from: the loader's name for it, the program's own
  // path (/proc/self/exe) for the main program, "linux-vdso.so.1" for the
  // kernel's virtual object.
  std::string path;
  // Read through the task given to the enumeration.
  tlcrash_async_elf_image image;
};

// Calls `visit` for each loaded image whose headers can be read, in the
// loader's order (the main program first), after the loader's lock is
// released.
void tlcrash_linux_enumerate_elf_images(const Task& task,
                                        const std::function<void(const LoadedElfImage&)>& visit);

// A number that changes whenever an object is loaded or unloaded.
std::uint64_t tlcrash_linux_loaded_images_generation();

}  // namespace tlcrash
