#include "crashcapture/readers/image/symbol_lookup.h"

#include "crashcapture/readers/core/elf_image.h"
#include "crashcapture/readers/image/macho_symbols.h"

namespace tlcrash {
namespace {

struct LookupState {
  bool found_symbol = false;
  tlcrash_vm_address_t symbol_address = 0;
  char symbol_name[TLCRASH_ASYNC_SYMBOL_NAME_SIZE] = {};

  bool found_method = false;
  bool method_name_missing = false;
  tlcrash_vm_address_t method_address = 0;
  char method_name[TLCRASH_ASYNC_SYMBOL_NAME_SIZE] = {};
};

// Appends `text` (`length` bytes) at `*used`, keeping room for the NUL.
void append(char (&buffer)[TLCRASH_ASYNC_SYMBOL_NAME_SIZE], std::size_t* used, const char* text,
            std::size_t length) noexcept {
  for (std::size_t index = 0; index < length && *used < TLCRASH_ASYNC_SYMBOL_NAME_SIZE - 1; ++index)
    buffer[(*used)++] = text[index];
}

std::size_t length(const char* text) noexcept {
  std::size_t count = 0;
  while (text[count] != '\0')
    ++count;
  return count;
}

void symbolFound(tlcrash_vm_address_t address, const char* name, void* context) {
  auto* state = static_cast<LookupState*>(context);
  state->found_symbol = true;
  state->symbol_address = address;
  std::size_t used = 0;
  append(state->symbol_name, &used, name, length(name));
  state->symbol_name[used] = '\0';
}

void methodFound(bool is_class_method, const char* class_name, std::size_t class_name_length,
                 const char* method_name, std::size_t method_name_length,
                 tlcrash_vm_address_t method_address, void* context) {
  auto* state = static_cast<LookupState*>(context);
  state->found_method = true;
  state->method_address = method_address;
  state->method_name_missing = class_name == nullptr || method_name == nullptr;
  if (state->method_name_missing) return;
  tlcrash_async_format_method_name(state->method_name, is_class_method, class_name,
                                   class_name_length, method_name, method_name_length);
}

}  // namespace

void tlcrash_async_format_method_name(char (&buffer)[TLCRASH_ASYNC_SYMBOL_NAME_SIZE],
                                      bool is_class_method, const char* class_name,
                                      std::size_t class_name_length, const char* method_name,
                                      std::size_t method_name_length) noexcept {
  std::size_t used = 0;
  append(buffer, &used, is_class_method ? "+[" : "-[", 2);
  append(buffer, &used, class_name, class_name_length);
  append(buffer, &used, " ", 1);
  append(buffer, &used, method_name, method_name_length);
  append(buffer, &used, "]", 1);
  buffer[used] = '\0';
}

tlcrash_error_t tlcrash_async_find_symbol(const tlcrash_async_macho* image, std::uint32_t strategy,
                                          tlcrash_async_objc_cache* cache, tlcrash_vm_address_t pc,
                                          tlcrash_async_found_symbol_cb callback,
                                          void* context) noexcept {
  LookupState state;
  if ((strategy & TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) != 0)
    (void)tlcrash_async_macho_find_symbol_by_pc(image, pc, symbolFound, &state);
  bool useMethod = false;
  if ((strategy & TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) != 0) {
    (void)tlcrash_async_objc_find_method(image, cache, pc, methodFound, &state);
    useMethod =
        state.found_method && (!state.found_symbol || state.method_address >= state.symbol_address);
  }
  if (useMethod) {
    if (state.method_name_missing) return tlcrash_error_t::internal;
    callback(state.method_address, state.method_name, context);
    return tlcrash_error_t::success;
  }
  if (!state.found_symbol) return tlcrash_error_t::notFound;
  callback(state.symbol_address, state.symbol_name, context);
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_async_find_image_symbol(
    const tlcrash_async_image* image, std::uint32_t strategy, tlcrash_async_objc_cache* cache,
    tlcrash_vm_address_t pc, tlcrash_async_found_symbol_cb callback, void* context) noexcept {
  if (image->format == tlcrash_async_image_format::macho)
    return tlcrash_async_find_symbol(&image->macho, strategy, cache, pc, callback, context);
  if ((strategy & TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) == 0)
    return tlcrash_error_t::notFound;
  return tlcrash_async_elf_find_symbol_by_pc(&image->elf, pc, callback, context);
}

}  // namespace tlcrash
