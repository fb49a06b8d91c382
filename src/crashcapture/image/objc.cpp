#include "crashcapture/image/objc.h"

namespace tlcrash {

tlcrash_error_t tlcrash_async_objc_cache_init(tlcrash_async_objc_cache* cache) noexcept {
  *cache = {};
  return tlcrash_error_t::success;
}

void tlcrash_async_objc_cache_free(tlcrash_async_objc_cache* cache) noexcept {
  *cache = {};
}

tlcrash_error_t tlcrash_async_objc_find_method(const tlcrash_async_macho* image,
                                               tlcrash_async_objc_cache* cache,
                                               tlcrash_vm_address_t pc,
                                               tlcrash_async_objc_found_method_cb callback,
                                               void* context) noexcept {
  (void)image;
  (void)pc;
  (void)callback;
  (void)context;
  if (cache == nullptr) return tlcrash_error_t::accessDenied;
  return tlcrash_error_t::notFound;
}

}  // namespace tlcrash
