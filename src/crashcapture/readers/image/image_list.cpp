#include "crashcapture/readers/image/image_list.h"

#include <cstring>
#include <new>
#include <thread>

namespace tlcrash {

struct tlcrash_async_image_list_storage {
  // Taken by writers only, and only around pointer updates.
  std::atomic_flag write_lock = ATOMIC_FLAG_INIT;
  std::atomic<tlcrash_async_image_list_node*> head{nullptr};
  // Writers only.
  tlcrash_async_image_list_node* tail = nullptr;
  std::atomic<std::int32_t> reader_count{0};
  // Writers only: unlinked nodes kept for reuse.
  tlcrash_async_image_list_node* parked = nullptr;
};

namespace {

class WriteLock {
 public:
  explicit WriteLock(tlcrash_async_image_list_storage* storage) : storage_(storage) {
    while (storage_->write_lock.test_and_set(std::memory_order_acquire))
      std::this_thread::yield();
  }
  ~WriteLock() { storage_->write_lock.clear(std::memory_order_release); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  tlcrash_async_image_list_storage* storage_;
};

void deleteImage(tlcrash_async_image* image) noexcept {
  if (image == nullptr) return;
  if (image->format == tlcrash_async_image_format::macho) tlcrash_async_macho_free(&image->macho);
  delete[] image->elf_name;
  delete image;
}

// A node for a new image: a parked one when no reader can stand on it (its
// old image record is freed then), else a new one. Under the write lock.
tlcrash_async_image_list_node* takeNode(tlcrash_async_image_list_storage* storage) noexcept {
  tlcrash_async_image_list_node* node = storage->parked;
  if (node != nullptr && storage->reader_count.load() == 0) {
    storage->parked = node->next_parked;
    deleteImage(node->image.exchange(nullptr));
    node->next.store(nullptr);
    node->prev = nullptr;
    node->next_parked = nullptr;
    return node;
  }
  return new (std::nothrow) tlcrash_async_image_list_node;
}

void deleteChain(tlcrash_async_image_list_node* node, bool parked) noexcept {
  while (node != nullptr) {
    tlcrash_async_image_list_node* following = parked ? node->next_parked : node->next.load();
    deleteImage(node->image.load());
    delete node;
    node = following;
  }
}

// Links `image` at the end of the list; takes it over in every case.
tlcrash_error_t publish(tlcrash_async_image_list* list, tlcrash_async_image* image) noexcept {
  tlcrash_async_image_list_storage* storage = list->storage;
  WriteLock lock(storage);
  tlcrash_async_image_list_node* node = takeNode(storage);
  if (node == nullptr) {
    deleteImage(image);
    return tlcrash_error_t::noMemory;
  }
  image->list_node = node;
  node->image.store(image);
  // The stores above are sequentially consistent: the node is complete before
  // the exchange below makes it reachable.
  if (storage->tail != nullptr) {
    tlcrash_async_image_list_node* expected = nullptr;
    storage->tail->next.compare_exchange_strong(expected, node);
    node->prev = storage->tail;
    storage->tail = node;
  } else {
    storage->tail = node;
    tlcrash_async_image_list_node* expected = nullptr;
    storage->head.compare_exchange_strong(expected, node);
  }
  return tlcrash_error_t::success;
}

}  // namespace

tlcrash_error_t tlcrash_async_image_list_init(tlcrash_async_image_list* list,
                                              const Task& task) noexcept {
  list->task = &task;
  list->storage = new (std::nothrow) tlcrash_async_image_list_storage;
  return list->storage == nullptr ? tlcrash_error_t::noMemory : tlcrash_error_t::success;
}

void tlcrash_async_image_list_free(tlcrash_async_image_list* list) noexcept {
  if (list->storage == nullptr) return;
  deleteChain(list->storage->head.load(), false);
  deleteChain(list->storage->parked, true);
  delete list->storage;
  *list = {};
}

const char* tlcrash_async_image_name(const tlcrash_async_image* image) noexcept {
  return image->format == tlcrash_async_image_format::macho
             ? tlcrash_async_macho_name(&image->macho)
             : image->elf_name;
}

bool tlcrash_async_image_contains_address(const tlcrash_async_image* image,
                                          tlcrash_vm_address_t address) noexcept {
  return image->format == tlcrash_async_image_format::macho
             ? tlcrash_async_macho_contains_address(&image->macho, address)
             : tlcrash_async_elf_image_contains_address(&image->elf, address);
}

tlcrash_error_t tlcrash_async_image_list_append(tlcrash_async_image_list* list,
                                                tlcrash_vm_address_t header_addr,
                                                const char* name) noexcept {
  auto* image = new (std::nothrow) tlcrash_async_image;
  if (image == nullptr) return tlcrash_error_t::noMemory;
  const tlcrash_error_t made =
      tlcrash_async_macho_init(&image->macho, *list->task, name, header_addr);
  if (made != tlcrash_error_t::success) {
    delete image;
    return made;
  }
  image->format = tlcrash_async_image_format::macho;
  image->header_addr = header_addr;
  return publish(list, image);
}

tlcrash_error_t tlcrash_async_image_list_append_elf(tlcrash_async_image_list* list,
                                                    tlcrash_vm_address_t header_addr,
                                                    const char* name) noexcept {
  auto* image = new (std::nothrow) tlcrash_async_image;
  if (image == nullptr) return tlcrash_error_t::noMemory;
  const tlcrash_error_t made = tlcrash_async_elf_image_init(&image->elf, *list->task, header_addr);
  if (made != tlcrash_error_t::success) {
    delete image;
    return made;
  }
  const std::size_t length = name == nullptr ? 0 : std::strlen(name);
  image->elf_name = new (std::nothrow) char[length + 1];
  if (image->elf_name == nullptr) {
    delete image;
    return tlcrash_error_t::noMemory;
  }
  if (length != 0) std::memcpy(image->elf_name, name, length);
  image->elf_name[length] = '\0';
  image->format = tlcrash_async_image_format::elf;
  image->header_addr = header_addr;
  return publish(list, image);
}

void tlcrash_async_image_list_remove(tlcrash_async_image_list* list,
                                     tlcrash_vm_address_t header_addr) noexcept {
  tlcrash_async_image_list_storage* storage = list->storage;
  tlcrash_async_image_list_set_reading(list, true);
  tlcrash_async_image_list_node* found = nullptr;
  for (auto* node = storage->head.load(); node != nullptr; node = node->next.load()) {
    if (node->image.load()->header_addr == header_addr) {
      found = node;
      break;
    }
  }
  if (found != nullptr) {
    WriteLock lock(storage);
    // Another writer may have unlinked it since.
    bool linked = false;
    for (auto* node = storage->head.load(); node != nullptr; node = node->next.load()) {
      if (node == found) {
        linked = true;
        break;
      }
    }
    if (linked) {
      tlcrash_async_image_list_node* following = found->next.load();
      tlcrash_async_image_list_node* expected = found;
      if (found->prev == nullptr) {
        storage->head.compare_exchange_strong(expected, following);
      } else {
        found->prev->next.compare_exchange_strong(expected, following);
      }
      if (following != nullptr) {
        following->prev = found->prev;
      } else {
        storage->tail = found->prev;
      }
      // Park it. Its own next pointer stays, so a reader standing on it goes
      // on to the images after it rather than into the parked nodes; the
      // remover's own hold means readers are active, so it is never freed here.
      found->prev = nullptr;
      found->next_parked = storage->parked;
      storage->parked = found;
    }
  }
  tlcrash_async_image_list_set_reading(list, false);
}

void tlcrash_async_image_list_set_reading(tlcrash_async_image_list* list, bool enable) noexcept {
  if (enable) {
    list->storage->reader_count.fetch_add(1);
  } else {
    list->storage->reader_count.fetch_sub(1);
  }
}

tlcrash_async_image* tlcrash_async_image_list_next(tlcrash_async_image_list* list,
                                                   const tlcrash_async_image* current) noexcept {
  tlcrash_async_image_list_node* node =
      current == nullptr ? list->storage->head.load() : current->list_node->next.load();
  return node == nullptr ? nullptr : node->image.load();
}

tlcrash_async_image* tlcrash_async_image_list_image_for_address(
    tlcrash_async_image_list* list, tlcrash_vm_address_t address) noexcept {
  for (tlcrash_async_image* image = tlcrash_async_image_list_next(list, nullptr); image != nullptr;
       image = tlcrash_async_image_list_next(list, image)) {
    if (tlcrash_async_image_contains_address(image, address)) return image;
  }
  return nullptr;
}

}  // namespace tlcrash
