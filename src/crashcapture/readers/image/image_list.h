#pragma once

// The list of the images loaded in a task, read from the crash path while
// other threads may add or remove images. An image is a Mach-O image or an
// ELF image (tlcrash_async_image, tagged by its format); lookups by address
// answer both. Writers serialise on a spin lock and publish with
// compare-and-swap; readers never block: they only raise and lower a reader
// count around their walk (tlcrash_async_image_list_set_reading) and follow
// atomic pointers. A removed node is parked, never freed, while the
// list lives, and its image record is freed only when no reader can still
// hold it, so a reader never follows a pointer into freed memory.
//
// Async-signal-safe: set_reading, next, image_for_address and the image
// accessors. append, append_elf, remove, init and free allocate or free and
// run outside the crash path.

#include <atomic>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/elf_image.h"
#include "crashcapture/readers/image/macho.h"

namespace tlcrash {

struct tlcrash_async_image_list_node;

enum class tlcrash_async_image_format { macho, elf };

// One loaded image: its format, the record of that format, and the place in
// the list that holds it.
struct tlcrash_async_image {
  tlcrash_async_image_format format = tlcrash_async_image_format::macho;
  // The Mach-O header or the ELF header, by which the image is removed.
  tlcrash_vm_address_t header_addr = 0;
  tlcrash_async_macho macho = {};    // format macho
  tlcrash_async_elf_image elf = {};  // format elf
  char* elf_name = nullptr;          // format elf: a private copy of its path
  tlcrash_async_image_list_node* list_node = nullptr;
};

// The image's path.
const char* tlcrash_async_image_name(const tlcrash_async_image* image) noexcept;
// Whether `address` lies in the image's text range (Mach-O: the __TEXT
// segment from the header on; ELF: from the header to the end of the last
// executable load segment).
bool tlcrash_async_image_contains_address(const tlcrash_async_image* image,
                                          tlcrash_vm_address_t address) noexcept;

struct tlcrash_async_image_list_node {
  std::atomic<tlcrash_async_image*> image{nullptr};
  std::atomic<tlcrash_async_image_list_node*> next{nullptr};
  // Writers only: the node before this one, and the next parked node.
  tlcrash_async_image_list_node* prev = nullptr;
  tlcrash_async_image_list_node* next_parked = nullptr;
};

struct tlcrash_async_image_list_storage;

struct tlcrash_async_image_list {
  const Task* task = nullptr;
  tlcrash_async_image_list_storage* storage = nullptr;
};

// An empty list over `task` (which must outlive it). noMemory when the
// storage cannot be allocated.
tlcrash_error_t tlcrash_async_image_list_init(tlcrash_async_image_list* list,
                                              const Task& task) noexcept;

// Frees every image record and node, parked ones too. No reader or writer may
// use the list any more.
void tlcrash_async_image_list_free(tlcrash_async_image_list* list) noexcept;

// Makes an image record for the Mach-O header at `header_addr` named `name`
// and appends it. The record's error when it cannot be made (nothing is
// appended then); noMemory when no node can be allocated.
tlcrash_error_t tlcrash_async_image_list_append(tlcrash_async_image_list* list,
                                                tlcrash_vm_address_t header_addr,
                                                const char* name) noexcept;

// Reads the ELF image whose header is at `header_addr` and appends it under
// the path `name`. Errors as tlcrash_async_elf_image_init's (nothing is
// appended then); noMemory when the record cannot be allocated.
tlcrash_error_t tlcrash_async_image_list_append_elf(tlcrash_async_image_list* list,
                                                    tlcrash_vm_address_t header_addr,
                                                    const char* name) noexcept;

// Unlinks the first image (of either format) whose header is at
// `header_addr`; nothing when there is none. Its node is parked: a reader
// standing on it continues to the images that followed it.
void tlcrash_async_image_list_remove(tlcrash_async_image_list* list,
                                     tlcrash_vm_address_t header_addr) noexcept;

// The reader hold: true before a walk, false after it. Image records reached
// during the walk may be used until the hold is released.
void tlcrash_async_image_list_set_reading(tlcrash_async_image_list* list, bool enable) noexcept;

// The first image when `current` is null, else the one after `current`; null
// at the end. Only under a reader hold.
tlcrash_async_image* tlcrash_async_image_list_next(tlcrash_async_image_list* list,
                                                   const tlcrash_async_image* current) noexcept;

// The first image, in list order, whose text range holds `address`; null when
// none does. Only under a reader hold.
tlcrash_async_image* tlcrash_async_image_list_image_for_address(
    tlcrash_async_image_list* list, tlcrash_vm_address_t address) noexcept;

}  // namespace tlcrash
