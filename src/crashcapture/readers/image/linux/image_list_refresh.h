#pragma once

// Keeps the ELF images of a loaded-image list in line with what the dynamic
// loader has loaded. The loader reports no additions or removals, so the
// list is brought up to date by enumerating again: at enable, before a live
// report, after the program loads or unloads a library. An image loaded after
// the last refresh is missing from a crash report.
//
// Not for the crash path: the enumeration takes the loader's lock and the
// list's writers allocate.

#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/image/image_list.h"

namespace tlcrash {

// Enumerates the loaded ELF images through the list's task, appends those the
// list lacks and removes the listed ELF images that are no longer loaded (an
// image is the same when its header address and path are). Mach-O images in
// the list are left alone. Refreshes are serialised among themselves. The
// first error met while appending (that image is left out and the others are
// still added), else success.
tlcrash_error_t tlcrash_async_image_list_refresh_elf(tlcrash_async_image_list* list);

}  // namespace tlcrash
