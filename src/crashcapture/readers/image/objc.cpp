#include "crashcapture/readers/image/objc.h"

#include <sys/mman.h>

#include <cstring>
#include <initializer_list>

#include "crashcapture/platform/macho_format.h"
#include "crashcapture/readers/core/memory.h"

namespace tlcrash {
namespace {

constexpr std::size_t kPageSize = 4096;

// Bits 3 to 46 of a class-data word or of a non-pointer isa.
constexpr std::uint64_t kPointerBits = 0x00007ffffffffff8ULL;
constexpr std::uint64_t kNonPointerIsa = 0x1;

// Flags of the runtime's read-write class data.
constexpr std::uint32_t kClassRealized = 1U << 31;
constexpr std::uint32_t kClassCopiedRo = 1U << 27;
// The read-only pointer leads to an extension record when bit 0 is set.
constexpr std::uint64_t kRoIsExtension = 0x1;
// In the class-data cache: the read-only data is read from the task.
constexpr std::uint64_t kCachedFromTask = 0x1;

// Old form: a class whose method-lists field is one list, and the word that
// ends an array of lists besides 0.
constexpr std::uint32_t kClassNoMethodArray = 0x4000;
constexpr std::uint32_t kEndOfMethodLists = 0xffffffff;

// Record sizes of the old form (32-bit only).
constexpr std::size_t kModuleSize = 16;
constexpr std::size_t kModuleSymtabOffset = 12;
constexpr std::size_t kSymtabHeaderSize = 12;
constexpr std::size_t kSymtabClassCountOffset = 8;
constexpr std::size_t kOldClassSize = 40;
constexpr std::size_t kOldMethodListHeaderSize = 8;
constexpr std::size_t kOldMethodSize = 12;

// Record sizes of the class-list form; pointer-sized fields in between.
constexpr std::size_t kClassWords = 5;     // isa, superclass, cache, vtable, data
constexpr std::size_t kCategoryWords = 6;  // name, class, instance and class methods, ...
constexpr std::size_t kMethodListHeaderSize = 8;
constexpr std::uint32_t kEntsizeMask = ~std::uint32_t{3};

// Everything one walk needs about the image and its sections.
struct Walk {
  const tlcrash_async_macho* image;
  tlcrash_async_objc_cache* cache;
  const Task& task;
  const tlcrash_async_byteorder* order;
  std::size_t word;  // pointer size

  std::uint64_t pointerAt(const std::uint8_t* bytes, std::size_t index) const noexcept {
    if (word == 8) {
      std::uint64_t value;
      std::memcpy(&value, bytes + index * 8, 8);
      return order->swap64(value);
    }
    std::uint32_t value;
    std::memcpy(&value, bytes + index * 4, 4);
    return order->swap32(value);
  }
  std::uint32_t u32At(const std::uint8_t* bytes, std::size_t offset) const noexcept {
    std::uint32_t value;
    std::memcpy(&value, bytes + offset, 4);
    return order->swap32(value);
  }
  // Reads a pointer of the task.
  tlcrash_error_t readPointer(tlcrash_vm_address_t address, std::uint64_t* value) const noexcept {
    std::uint8_t bytes[8];
    const tlcrash_error_t read = tlcrash_async_task_memcpy(task, address, 0, bytes, word);
    if (read != tlcrash_error_t::success) return read;
    *value = pointerAt(bytes, 0);
    return tlcrash_error_t::success;
  }
  bool insideImage(tlcrash_vm_address_t address) const noexcept {
    return address >= cache->image_start && address < cache->image_end;
  }
};

// Called for every method met; answers true to end the walk.
struct MethodVisitor {
  bool (*visit)(void* state, bool is_class_method, tlcrash_vm_address_t class_name,
                tlcrash_vm_address_t method_name, tlcrash_vm_address_t imp);
  void* state;
};

// ---- section mapping --------------------------------------------------------

const char* const kConstSegments[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};

// Maps `sectname` from the first of the data segments that has it; only
// notFound moves on to the next.
tlcrash_error_t mapFromDataSegments(const tlcrash_async_macho* image, const char* sectname,
                                    tlcrash_async_mobject* section) noexcept {
  tlcrash_error_t result = tlcrash_error_t::notFound;
  for (const char* segname : kConstSegments) {
    result = tlcrash_async_macho_map_section(image, segname, sectname, section);
    if (result != tlcrash_error_t::notFound) return result;
  }
  return result;
}

// An optional section: mapped when present, absent when not found; any other
// error is answered.
tlcrash_error_t mapOptional(tlcrash_error_t result, bool* mapped) noexcept {
  *mapped = result == tlcrash_error_t::success;
  return result == tlcrash_error_t::notFound ? tlcrash_error_t::success : result;
}

void releaseSections(tlcrash_async_objc_cache* cache) noexcept {
  tlcrash_async_mobject_free(&cache->objc_const);
  tlcrash_async_mobject_free(&cache->objc_const_ax);
  tlcrash_async_mobject_free(&cache->classlist);
  tlcrash_async_mobject_free(&cache->catlist);
  tlcrash_async_mobject_free(&cache->objc_data);
  tlcrash_async_mobject_free(&cache->data);
  cache->objc_const_mapped = cache->objc_const_ax_mapped = false;
  cache->classlist_mapped = cache->catlist_mapped = false;
  cache->objc_data_mapped = cache->data_mapped = false;
  cache->image = nullptr;
  cache->image_start = cache->image_end = 0;
}

// The range covered by the image's segments that map something (a segment
// without access, such as __PAGEZERO, only reserves addresses).
void findImageRange(const tlcrash_async_macho* image, tlcrash_vm_address_t* start,
                    tlcrash_vm_address_t* end) noexcept {
  const bool m64 = image->m64;
  const std::uint32_t type = m64 ? macho::LC_SEGMENT_64 : macho::LC_SEGMENT;
  const std::size_t minimum = m64 ? macho::kSegmentCommandSize64 : macho::kSegmentCommandSize32;
  // Offsets of vmaddr, vmsize and initprot in a segment command.
  const std::size_t vmaddrAt = 24;
  const std::size_t vmsizeAt = m64 ? 32 : 28;
  const std::size_t initprotAt = m64 ? 60 : 44;
  *start = *end = 0;
  bool any = false;
  const std::uint8_t* cmd = nullptr;
  while ((cmd = tlcrash_async_macho_next_command_type(image, cmd, type)) != nullptr) {
    if (tlcrash_async_macho_cmd_uint32(image, cmd, 4) < minimum) continue;
    if (tlcrash_async_macho_cmd_uint32(image, cmd, initprotAt) == 0) continue;
    std::uint64_t vmaddr = 0;
    std::uint64_t vmsize = 0;
    if (m64) {
      std::memcpy(&vmaddr, cmd + vmaddrAt, 8);
      std::memcpy(&vmsize, cmd + vmsizeAt, 8);
      vmaddr = image->byteorder->swap64(vmaddr);
      vmsize = image->byteorder->swap64(vmsize);
    } else {
      vmaddr = tlcrash_async_macho_cmd_uint32(image, cmd, vmaddrAt);
      vmsize = tlcrash_async_macho_cmd_uint32(image, cmd, vmsizeAt);
    }
    tlcrash_vm_address_t first = 0;
    tlcrash_vm_address_t last = 0;
    if (!tlcrash_async_address_apply_offset(vmaddr, image->vmaddr_slide, &first)) continue;
    if (vmsize > ~first) continue;
    last = first + vmsize;
    if (!any || first < *start) *start = first;
    if (!any || last > *end) *end = last;
    any = true;
  }
}

tlcrash_error_t mapSections(const tlcrash_async_macho* image,
                            tlcrash_async_objc_cache* cache) noexcept {
  if (cache->image == image) return tlcrash_error_t::success;
  releaseSections(cache);
  tlcrash_error_t result = mapFromDataSegments(image, "__objc_const", &cache->objc_const);
  cache->objc_const_mapped = result == tlcrash_error_t::success;
  if (result == tlcrash_error_t::success)
    result = mapOptional(
        tlcrash_async_macho_map_section(image, "__DATA", "__objc_const_ax", &cache->objc_const_ax),
        &cache->objc_const_ax_mapped);
  // An image may have classes without categories, or categories only.
  if (result == tlcrash_error_t::success)
    result = mapOptional(mapFromDataSegments(image, "__objc_classlist", &cache->classlist),
                         &cache->classlist_mapped);
  if (result == tlcrash_error_t::success)
    result = mapOptional(mapFromDataSegments(image, "__objc_catlist", &cache->catlist),
                         &cache->catlist_mapped);
  if (result == tlcrash_error_t::success)
    result = mapOptional(
        tlcrash_async_macho_map_section(image, "__DATA", "__objc_data", &cache->objc_data),
        &cache->objc_data_mapped);
  if (result == tlcrash_error_t::success)
    result = mapOptional(tlcrash_async_macho_map_section(image, "__DATA", "__data", &cache->data),
                         &cache->data_mapped);
  if (result == tlcrash_error_t::success && !cache->classlist_mapped && !cache->catlist_mapped)
    result = tlcrash_error_t::notFound;
  if (result != tlcrash_error_t::success) {
    releaseSections(cache);
    return result;
  }
  cache->image = image;
  findImageRange(image, &cache->image_start, &cache->image_end);
  return tlcrash_error_t::success;
}

// ---- class-data cache -------------------------------------------------------

std::size_t slotOf(tlcrash_vm_address_t class_data) noexcept {
  return static_cast<std::size_t>((class_data / 4) % TLCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS);
}

tlcrash_async_objc_class_cache_entry* classCache(tlcrash_async_objc_cache* cache) noexcept {
  if (cache->class_cache != nullptr || cache->class_cache_failed) return cache->class_cache;
  void* block = mmap(
      nullptr, TLCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS * sizeof(tlcrash_async_objc_class_cache_entry),
      PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    cache->class_cache_failed = true;
    return nullptr;
  }
  cache->class_cache = static_cast<tlcrash_async_objc_class_cache_entry*>(block);
  return cache->class_cache;
}

// ---- class-list form --------------------------------------------------------

// The bytes of `length` at `address` in the first of the mappings that holds
// them all, or null.
const std::uint8_t* remapIn(const tlcrash_async_mobject* first, bool first_mapped,
                            const tlcrash_async_mobject* second, bool second_mapped,
                            tlcrash_vm_address_t address, std::size_t length) noexcept {
  const std::uint8_t* local = nullptr;
  if (first_mapped) local = tlcrash_async_mobject_remap_address(first, address, 0, length);
  if (local == nullptr && second_mapped)
    local = tlcrash_async_mobject_remap_address(second, address, 0, length);
  return local;
}

// The read-only data of a class whose class-data word is `data_word`, copied
// into `ro` (72 or 40 bytes). notFound for a class the runtime has not
// realized.
tlcrash_error_t readClassRo(const Walk& walk, std::uint64_t data_word,
                            std::uint8_t (&ro)[72]) noexcept {
  const std::size_t roSize = walk.word == 8 ? 72 : 40;
  const tlcrash_vm_address_t classData = data_word & kPointerBits;
  tlcrash_async_objc_class_cache_entry* slots = classCache(walk.cache);
  tlcrash_async_objc_class_cache_entry* slot = nullptr;
  if (slots != nullptr) slot = &slots[slotOf(classData)];

  tlcrash_vm_address_t roAddress = 0;
  bool fromTask = false;
  if (slot != nullptr && slot->class_data == classData && slot->class_ro != 0) {
    roAddress = slot->class_ro & ~kCachedFromTask;
    fromTask = (slot->class_ro & kCachedFromTask) != 0;
  } else {
    // flags (32), version (32), read-only pointer.
    std::uint8_t rw[16];
    const std::size_t rwSize = 8 + walk.word;
    tlcrash_error_t read = tlcrash_async_task_memcpy(walk.task, classData, 0, rw, rwSize);
    if (read != tlcrash_error_t::success) return read;
    const std::uint32_t flags = walk.u32At(rw, 0);
    if ((flags & kClassRealized) == 0) return tlcrash_error_t::notFound;
    roAddress = walk.pointerAt(rw + 8, 0);
    if ((roAddress & kRoIsExtension) != 0) {
      read = walk.readPointer(roAddress & ~kRoIsExtension, &roAddress);
      if (read != tlcrash_error_t::success) return read;
    }
    fromTask = (flags & kClassCopiedRo) != 0 || !walk.insideImage(roAddress);
    if (slot != nullptr && slot->class_data == 0 && (roAddress & kCachedFromTask) == 0) {
      slot->class_data = classData;
      slot->class_ro = roAddress | (fromTask ? kCachedFromTask : 0);
    }
  }

  if (fromTask) return tlcrash_async_task_memcpy(walk.task, roAddress, 0, ro, roSize);
  const std::uint8_t* local = remapIn(&walk.cache->objc_const, walk.cache->objc_const_mapped,
                                      nullptr, false, roAddress, roSize);
  if (local == nullptr) return tlcrash_error_t::invalidData;
  std::memcpy(ro, local, roSize);
  return tlcrash_error_t::success;
}

tlcrash_vm_address_t roName(const Walk& walk, const std::uint8_t* ro) noexcept {
  // flags, instanceStart, instanceSize (and a reserved word in 64-bit
  // images), ivarLayout, then the name.
  return walk.word == 8 ? walk.pointerAt(ro + 24, 0) : walk.pointerAt(ro + 16, 0);
}

tlcrash_vm_address_t roMethods(const Walk& walk, const std::uint8_t* ro) noexcept {
  return walk.word == 8 ? walk.pointerAt(ro + 32, 0) : walk.pointerAt(ro + 20, 0);
}

// Visits the methods of the list at `list` (none when 0). true in `*stop`
// when the visitor ended the walk.
tlcrash_error_t walkMethodList(const Walk& walk, tlcrash_vm_address_t list, bool is_class_method,
                               tlcrash_vm_address_t class_name, const MethodVisitor& visitor,
                               bool* stop) noexcept {
  if (list == 0) return tlcrash_error_t::success;
  const tlcrash_async_objc_cache* cache = walk.cache;
  const std::uint8_t* header =
      remapIn(&cache->objc_const, cache->objc_const_mapped, &cache->objc_const_ax,
              cache->objc_const_ax_mapped, list, kMethodListHeaderSize);
  if (header == nullptr) return tlcrash_error_t::invalidData;
  const std::uint32_t entsize = walk.u32At(header, 0) & kEntsizeMask;
  const std::uint32_t count = walk.u32At(header, 4);
  // A relative list's flag makes the entry size too large to be mapped.
  if (entsize < 3 * walk.word) return tlcrash_error_t::invalidData;
  const std::uint64_t bytes = std::uint64_t{count} * entsize;
  if (bytes > SIZE_MAX) return tlcrash_error_t::invalidData;
  const std::uint8_t* entries =
      remapIn(&cache->objc_const, cache->objc_const_mapped, &cache->objc_const_ax,
              cache->objc_const_ax_mapped, list, kMethodListHeaderSize + bytes);
  if (entries == nullptr) return tlcrash_error_t::invalidData;
  entries += kMethodListHeaderSize;
  for (std::uint32_t index = 0; index < count; ++index) {
    const std::uint8_t* entry = entries + std::size_t{index} * entsize;
    if (visitor.visit(visitor.state, is_class_method, class_name, walk.pointerAt(entry, 0),
                      walk.pointerAt(entry, 2))) {
      *stop = true;
      return tlcrash_error_t::success;
    }
  }
  return tlcrash_error_t::success;
}

// Visits the base methods of the class whose 40- or 20-byte record is
// `klass`. notFound for an unrealized class.
tlcrash_error_t walkClass(const Walk& walk, const std::uint8_t* klass, bool is_class_method,
                          const MethodVisitor& visitor, bool* stop) noexcept {
  std::uint8_t ro[72];
  const tlcrash_error_t read = readClassRo(walk, walk.pointerAt(klass, 4), ro);
  if (read != tlcrash_error_t::success) return read;
  return walkMethodList(walk, roMethods(walk, ro), is_class_method, roName(walk, ro), visitor,
                        stop);
}

// The class record at `address` from __objc_data or __data.
const std::uint8_t* classInImage(const Walk& walk, tlcrash_vm_address_t address) noexcept {
  const tlcrash_async_objc_cache* cache = walk.cache;
  return remapIn(&cache->objc_data, cache->objc_data_mapped, &cache->data, cache->data_mapped,
                 address, kClassWords * walk.word);
}

tlcrash_error_t walkClassList(const Walk& walk, const MethodVisitor& visitor, bool* stop) noexcept {
  tlcrash_async_objc_cache* cache = walk.cache;
  const std::size_t classSize = kClassWords * walk.word;
  if (cache->classlist_mapped) {
    const tlcrash_async_mobject* list = &cache->classlist;
    const tlcrash_vm_size_t count = tlcrash_async_mobject_length(list) / walk.word;
    for (tlcrash_vm_size_t index = 0; index < count; ++index) {
      const std::uint8_t* entry = tlcrash_async_mobject_remap_address(
          list, tlcrash_async_mobject_base_address(list),
          static_cast<tlcrash_vm_off_t>(index * walk.word), walk.word);
      if (entry == nullptr) return tlcrash_error_t::invalidData;
      const std::uint8_t* klass = classInImage(walk, walk.pointerAt(entry, 0));
      if (klass == nullptr) return tlcrash_error_t::invalidData;
      tlcrash_error_t result = walkClass(walk, klass, false, visitor, stop);
      if (result != tlcrash_error_t::success && result != tlcrash_error_t::notFound) return result;
      if (*stop) return tlcrash_error_t::success;

      std::uint64_t isa = walk.pointerAt(klass, 0);
      if ((isa & kNonPointerIsa) != 0) isa &= kPointerBits;
      const std::uint8_t* meta = classInImage(walk, isa);
      if (meta == nullptr) return tlcrash_error_t::invalidData;
      result = walkClass(walk, meta, true, visitor, stop);
      if (result != tlcrash_error_t::success && result != tlcrash_error_t::notFound) return result;
      if (*stop) return tlcrash_error_t::success;
    }
  }

  if (cache->catlist_mapped) {
    const tlcrash_async_mobject* list = &cache->catlist;
    const tlcrash_vm_size_t count = tlcrash_async_mobject_length(list) / walk.word;
    for (tlcrash_vm_size_t index = 0; index < count; ++index) {
      const std::uint8_t* entry = tlcrash_async_mobject_remap_address(
          list, tlcrash_async_mobject_base_address(list),
          static_cast<tlcrash_vm_off_t>(index * walk.word), walk.word);
      if (entry == nullptr) return tlcrash_error_t::invalidData;
      const std::uint8_t* category =
          remapIn(&cache->objc_const, cache->objc_const_mapped, nullptr, false,
                  walk.pointerAt(entry, 0), kCategoryWords * walk.word);
      if (category == nullptr) return tlcrash_error_t::invalidData;

      // The class may belong to another image: then it is read from the task.
      const tlcrash_vm_address_t classAddress = walk.pointerAt(category, 1);
      std::uint8_t copy[kClassWords * 8];
      const std::uint8_t* klass = classInImage(walk, classAddress);
      if (klass == nullptr) {
        if (tlcrash_async_task_memcpy(walk.task, classAddress, 0, copy, classSize) !=
            tlcrash_error_t::success)
          continue;
        klass = copy;
      }
      std::uint8_t ro[72];
      if (readClassRo(walk, walk.pointerAt(klass, 4), ro) != tlcrash_error_t::success) continue;
      const tlcrash_vm_address_t className = roName(walk, ro);
      for (const bool isClassMethod : {false, true}) {
        const tlcrash_error_t result =
            walkMethodList(walk, walk.pointerAt(category, isClassMethod ? 3 : 2), isClassMethod,
                           className, visitor, stop);
        if (result != tlcrash_error_t::success && result != tlcrash_error_t::notFound)
          return result;
        if (*stop) return tlcrash_error_t::success;
      }
    }
  }
  cache->classlist_form_known = true;
  return tlcrash_error_t::success;
}

// ---- old form ---------------------------------------------------------------

tlcrash_error_t walkOldMethodList(const Walk& walk, tlcrash_vm_address_t list, bool is_class_method,
                                  tlcrash_vm_address_t class_name, const MethodVisitor& visitor,
                                  bool* stop) noexcept {
  std::uint8_t header[kOldMethodListHeaderSize];
  tlcrash_error_t read = tlcrash_async_task_memcpy(walk.task, list, 0, header, sizeof header);
  if (read != tlcrash_error_t::success) return read;
  const std::uint32_t count = walk.u32At(header, 4);
  for (std::uint32_t index = 0; index < count; ++index) {
    std::uint8_t method[kOldMethodSize];
    const auto offset =
        static_cast<tlcrash_vm_off_t>(kOldMethodListHeaderSize + std::uint64_t{index} * 12);
    read = tlcrash_async_task_memcpy(walk.task, list, offset, method, sizeof method);
    if (read != tlcrash_error_t::success) return read;
    if (visitor.visit(visitor.state, is_class_method, class_name, walk.u32At(method, 0),
                      walk.u32At(method, 8))) {
      *stop = true;
      return tlcrash_error_t::success;
    }
  }
  return tlcrash_error_t::success;
}

tlcrash_error_t walkOldClass(const Walk& walk, const std::uint8_t* klass, bool is_class_method,
                             tlcrash_vm_address_t class_name, const MethodVisitor& visitor,
                             bool* stop) noexcept {
  const std::uint32_t info = walk.u32At(klass, 16);
  const tlcrash_vm_address_t lists = walk.u32At(klass, 28);
  if ((info & kClassNoMethodArray) != 0) {
    if (lists == 0) return tlcrash_error_t::success;
    return walkOldMethodList(walk, lists, is_class_method, class_name, visitor, stop);
  }
  if (lists == 0) return tlcrash_error_t::success;
  for (tlcrash_vm_off_t offset = 0;; offset += 4) {
    std::uint32_t list = 0;
    const tlcrash_error_t read =
        tlcrash_async_task_read_uint32(walk.task, walk.order, lists, offset, &list);
    if (read != tlcrash_error_t::success) return read;
    if (list == 0 || list == kEndOfMethodLists) return tlcrash_error_t::success;
    const tlcrash_error_t result =
        walkOldMethodList(walk, list, is_class_method, class_name, visitor, stop);
    if (result != tlcrash_error_t::success || *stop) return result;
  }
}

tlcrash_error_t walkModules(const Walk& walk, const tlcrash_async_mobject* modules,
                            const MethodVisitor& visitor, bool* stop) noexcept {
  const tlcrash_vm_size_t count = tlcrash_async_mobject_length(modules) / kModuleSize;
  const tlcrash_vm_address_t base = tlcrash_async_mobject_base_address(modules);
  for (tlcrash_vm_size_t index = 0; index < count; ++index) {
    std::uint32_t symtab = 0;
    tlcrash_error_t result = tlcrash_async_mobject_read_uint32(
        modules, walk.order, base,
        static_cast<tlcrash_vm_off_t>(index * kModuleSize + kModuleSymtabOffset), &symtab);
    if (result != tlcrash_error_t::success) return result;
    if (symtab == 0) continue;
    std::uint16_t classCount = 0;
    result = tlcrash_async_task_read_uint16(walk.task, walk.order, symtab, kSymtabClassCountOffset,
                                            &classCount);
    if (result != tlcrash_error_t::success) return result;
    for (std::uint16_t which = 0; which < classCount; ++which) {
      std::uint32_t classAddress = 0;
      result = tlcrash_async_task_read_uint32(
          walk.task, walk.order, symtab,
          static_cast<tlcrash_vm_off_t>(kSymtabHeaderSize + std::size_t{which} * 4), &classAddress);
      if (result != tlcrash_error_t::success) return result;
      std::uint8_t klass[kOldClassSize];
      result = tlcrash_async_task_memcpy(walk.task, classAddress, 0, klass, sizeof klass);
      if (result != tlcrash_error_t::success) return result;
      const tlcrash_vm_address_t className = walk.u32At(klass, 8);
      result = walkOldClass(walk, klass, false, className, visitor, stop);
      if (result != tlcrash_error_t::success || *stop) return result;
      // The metaclass holds the class methods.
      result = tlcrash_async_task_memcpy(walk.task, walk.u32At(klass, 0), 0, klass, sizeof klass);
      if (result != tlcrash_error_t::success) return result;
      result = walkOldClass(walk, klass, true, className, visitor, stop);
      if (result != tlcrash_error_t::success || *stop) return result;
    }
  }
  return tlcrash_error_t::success;
}

// Walks every method of the image, in the old form when the image has it and
// the class-list form is not known yet, else in the class-list form.
tlcrash_error_t walkMethods(const tlcrash_async_macho* image, tlcrash_async_objc_cache* cache,
                            const MethodVisitor& visitor) noexcept {
  const Walk walk{image, cache, *image->task, image->byteorder, image->m64 ? 8u : 4u};
  bool stop = false;
  if (!cache->classlist_form_known) {
    tlcrash_async_mobject modules;
    const tlcrash_error_t mapped =
        tlcrash_async_macho_map_section(image, "__OBJC", "__module_info", &modules);
    if (mapped == tlcrash_error_t::success) {
      const tlcrash_error_t result = walkModules(walk, &modules, visitor, &stop);
      tlcrash_async_mobject_free(&modules);
      return result;
    }
    if (mapped != tlcrash_error_t::notFound) return mapped;
  }
  const tlcrash_error_t mapped = mapSections(image, cache);
  if (mapped != tlcrash_error_t::success) return mapped;
  return walkClassList(walk, visitor, &stop);
}

// ---- finding the method of an address ---------------------------------------

struct BestMethod {
  tlcrash_vm_address_t pc;
  bool found = false;
  tlcrash_vm_address_t address = 0;
};

bool keepBest(void* state, bool, tlcrash_vm_address_t, tlcrash_vm_address_t,
              tlcrash_vm_address_t imp) {
  auto* best = static_cast<BestMethod*>(state);
  if (imp <= best->pc && (!best->found || imp > best->address)) {
    best->found = true;
    best->address = imp;
  }
  return false;
}

struct Report {
  const Task* task;
  tlcrash_vm_address_t address;
  tlcrash_async_objc_found_method_cb callback;
  void* context;
  bool reported = false;
};

bool reportFirst(void* state, bool is_class_method, tlcrash_vm_address_t class_name,
                 tlcrash_vm_address_t method_name, tlcrash_vm_address_t imp) {
  auto* report = static_cast<Report*>(state);
  if (imp != report->address) return false;
  tlcrash_async_lazy_string className;
  tlcrash_async_lazy_string methodName;
  tlcrash_async_lazy_string_init(&className, *report->task, class_name);
  tlcrash_async_lazy_string_init(&methodName, *report->task, method_name);
  const char* classBytes = nullptr;
  const char* methodBytes = nullptr;
  std::size_t classLength = 0;
  std::size_t methodLength = 0;
  if (tlcrash_async_lazy_string_get(&className, &classBytes, &classLength) !=
      tlcrash_error_t::success)
    classBytes = nullptr;
  if (tlcrash_async_lazy_string_get(&methodName, &methodBytes, &methodLength) !=
      tlcrash_error_t::success)
    methodBytes = nullptr;
  report->callback(is_class_method, classBytes, classLength, methodBytes, methodLength, imp,
                   report->context);
  tlcrash_async_lazy_string_free(&className);
  tlcrash_async_lazy_string_free(&methodName);
  report->reported = true;
  return true;
}

}  // namespace

tlcrash_error_t tlcrash_async_objc_cache_init(tlcrash_async_objc_cache* cache) noexcept {
  *cache = {};
  return tlcrash_error_t::success;
}

void tlcrash_async_objc_cache_free(tlcrash_async_objc_cache* cache) noexcept {
  releaseSections(cache);
  if (cache->class_cache != nullptr)
    munmap(cache->class_cache,
           TLCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS * sizeof(tlcrash_async_objc_class_cache_entry));
  *cache = {};
}

tlcrash_error_t tlcrash_async_objc_find_method(const tlcrash_async_macho* image,
                                               tlcrash_async_objc_cache* cache,
                                               tlcrash_vm_address_t pc,
                                               tlcrash_async_objc_found_method_cb callback,
                                               void* context) noexcept {
  if (cache == nullptr) return tlcrash_error_t::accessDenied;
  BestMethod best{pc};
  tlcrash_error_t result = walkMethods(image, cache, {keepBest, &best});
  if (result != tlcrash_error_t::success) return result;
  if (!best.found) return tlcrash_error_t::notFound;
  Report report{image->task, best.address, callback, context};
  result = walkMethods(image, cache, {reportFirst, &report});
  if (result != tlcrash_error_t::success) return result;
  return report.reported ? tlcrash_error_t::success : tlcrash_error_t::notFound;
}

void tlcrash_async_lazy_string_init(tlcrash_async_lazy_string* string, const Task& task,
                                    tlcrash_vm_address_t address) noexcept {
  *string = {};
  string->task = &task;
  string->address = address;
}

tlcrash_error_t tlcrash_async_lazy_string_get(tlcrash_async_lazy_string* string, const char** bytes,
                                              std::size_t* length) noexcept {
  if (!string->mapped) {
    std::size_t scanned = 0;
    for (std::size_t size = kPageSize;; size += kPageSize) {
      tlcrash_async_mobject_free(&string->mobj);
      const tlcrash_error_t mapped =
          tlcrash_async_mobject_init(&string->mobj, *string->task, string->address, size, false);
      if (mapped != tlcrash_error_t::success) return mapped;
      const auto viewed = static_cast<std::size_t>(tlcrash_async_mobject_length(&string->mobj));
      const void* nul = std::memchr(string->mobj.local + scanned, 0, viewed - scanned);
      if (nul != nullptr) {
        string->length =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - string->mobj.local);
        string->mapped = true;
        break;
      }
      // Nothing more can be viewed, or the limit is reached.
      if (viewed < size || size >= TLCRASH_ASYNC_LAZY_STRING_LIMIT) {
        tlcrash_async_mobject_free(&string->mobj);
        return tlcrash_error_t::accessDenied;
      }
      scanned = viewed;
    }
  }
  *bytes = reinterpret_cast<const char*>(string->mobj.local);
  *length = string->length;
  return tlcrash_error_t::success;
}

void tlcrash_async_lazy_string_free(tlcrash_async_lazy_string* string) noexcept {
  tlcrash_async_mobject_free(&string->mobj);
  string->mapped = false;
}

}  // namespace tlcrash
