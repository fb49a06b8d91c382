// Mach-O images as the crash path meets them in a task's memory: the bytes
// are mapped at a fixed address of a fake task (nothing beyond them is
// readable), made into an image record, and read the way the report writer
// and the unwinders read images: load commands, segments, the sections they
// look for, symbols by address and by name, and the loaded-image list.

#include <cstddef>
#include <cstdint>
#include <span>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/macho_symbols.h"
#include "crashcapture/readers/image/objc.h"
#include "crashcapture/readers/image/symbol_lookup.h"

namespace {

constexpr tlcrash::tlcrash_vm_address_t kBase = 0x100000000;

// Keeps the reads from being optimised away.
volatile std::size_t gSink;

void onSymbol(tlcrash::tlcrash_vm_address_t address, const char* name, void* context) {
  auto* sum = static_cast<std::size_t*>(context);
  *sum += static_cast<std::size_t>(address);
  while (*name != '\0')
    *sum += static_cast<unsigned char>(*name++);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tlcrash;
  FakeTask task;
  if (size == 0 || !task.map(kBase, std::span(data, size))) return 0;
  tlcrash_async_macho image;
  if (tlcrash_async_macho_init(&image, task, "fuzz", kBase) != tlcrash_error_t::success) return 0;

  std::size_t sum = 0;
  for (const std::uint8_t* cmd = nullptr;
       (cmd = tlcrash_async_macho_next_command(&image, cmd)) != nullptr;)
    sum += tlcrash_async_macho_cmd_uint32(&image, cmd, 0);
  for (const char* segname : {"__TEXT", "__DATA", "__LINKEDIT", "__PAGEZERO"}) {
    tlcrash_async_macho_mapped_segment segment;
    if (tlcrash_async_macho_map_segment(&image, segname, &segment) == tlcrash_error_t::success) {
      sum += segment.mobj.local[segment.mobj.length - 1];
      tlcrash_async_macho_mapped_segment_free(&segment);
    }
  }
  const char* sections[][2] = {{"__TEXT", "__text"},
                               {"__TEXT", "__unwind_info"},
                               {"__TEXT", "__eh_frame"},
                               {"__DATA", "__data"}};
  for (const auto& [segname, sectname] : sections) {
    tlcrash_async_mobject section;
    if (tlcrash_async_macho_map_section(&image, segname, sectname, &section) ==
        tlcrash_error_t::success) {
      sum += section.local[section.length - 1];
      tlcrash_async_mobject_free(&section);
    }
  }

  // Addresses spread over the image's text, and one given by the input.
  tlcrash_async_objc_cache cache;
  tlcrash_async_objc_cache_init(&cache);
  for (std::size_t step = 0; step <= 16; ++step) {
    const tlcrash_vm_address_t pc = kBase + image.text_size / 16 * step;
    (void)tlcrash_async_find_symbol(&image, TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, &cache, pc, onSymbol,
                                    &sum);
  }
  if (size >= 8) {
    tlcrash_vm_address_t pc;
    __builtin_memcpy(&pc, data + size - 8, sizeof pc);
    (void)tlcrash_async_macho_find_symbol_by_pc(&image, pc, onSymbol, &sum);
  }
  tlcrash_vm_address_t address = 0;
  (void)tlcrash_async_macho_find_symbol_by_name(&image, "_entry", &address);
  tlcrash_async_objc_cache_free(&cache);
  tlcrash_async_macho_free(&image);

  // The same bytes through the image list.
  tlcrash_async_image_list list;
  if (tlcrash_async_image_list_init(&list, task) == tlcrash_error_t::success) {
    (void)tlcrash_async_image_list_append(&list, kBase, "fuzz");
    tlcrash_async_image_list_set_reading(&list, true);
    if (tlcrash_async_image_list_image_for_address(&list, kBase + size / 2) != nullptr) ++sum;
    tlcrash_async_image_list_set_reading(&list, false);
    tlcrash_async_image_list_remove(&list, kBase);
    tlcrash_async_image_list_free(&list);
  }
  gSink = sum;
  return 0;
}
