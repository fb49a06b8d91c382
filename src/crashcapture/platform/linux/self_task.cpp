#include "crashcapture/platform/linux/self_task.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

namespace tlcrash {
namespace {

// Restores errno when a signal handler's caller would see it change.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

 private:
  int saved_;
};

// Pages probed per system call; the two iovec arrays live on the (possibly
// small, alternate) signal stack.
constexpr std::size_t kProbeBatch = 64;

}  // namespace

SelfTask::SelfTask() : pageSize_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) {}

kern_return_t SelfTask::read(tlcrash_vm_address_t address, void* destination,
                             std::size_t length) const noexcept {
  if (length == 0) return KERN_SUCCESS;
  if (length > SSIZE_MAX) return KERN_INVALID_ARGUMENT;
  ErrnoKeeper keeper;
  iovec local{destination, length};
  iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), length};
  const ssize_t copied = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
  if (copied == static_cast<ssize_t>(length)) return KERN_SUCCESS;
  if (copied >= 0) return KERN_INVALID_ADDRESS;
  switch (errno) {
    case EFAULT:
      return KERN_INVALID_ADDRESS;
    case EPERM:
    case EACCES:
      return KERN_PROTECTION_FAILURE;
    default:
      return KERN_FAILURE;
  }
}

std::size_t SelfTask::readablePrefix(tlcrash_vm_address_t address,
                                     std::size_t length) const noexcept {
  if (length == 0) return 0;
  ErrnoKeeper keeper;
  const tlcrash_vm_address_t mask = pageSize_ - 1;
  const tlcrash_vm_address_t firstPage = address & ~mask;
  // The last byte of the range, kept within the address space.
  const tlcrash_vm_address_t last =
      length - 1 > UINT64_MAX - address ? UINT64_MAX : address + (length - 1);
  const tlcrash_vm_address_t lastPage = last & ~mask;

  char scratch[kProbeBatch];
  iovec local[kProbeBatch];
  iovec remote[kProbeBatch];
  tlcrash_vm_address_t page = firstPage;
  tlcrash_vm_size_t readablePages = 0;  // consecutive readable pages from firstPage on
  bool more = true;
  while (more) {
    std::size_t count = 0;
    while (more && count < kProbeBatch) {
      const tlcrash_vm_address_t probe = page == firstPage ? address : page;
      local[count] = {&scratch[count], 1};
      remote[count] = {reinterpret_cast<void*>(static_cast<std::uintptr_t>(probe)), 1};
      ++count;
      if (page == lastPage) {
        more = false;
      } else {
        page += pageSize_;
      }
    }
    const ssize_t readable = ::process_vm_readv(::getpid(), local, count, remote, count, 0);
    if (readable <= 0) break;
    readablePages += static_cast<tlcrash_vm_size_t>(readable);
    if (static_cast<std::size_t>(readable) < count) break;
  }
  if (readablePages == 0) return 0;
  const tlcrash_vm_address_t lastReadable = firstPage + (readablePages * pageSize_ - 1);
  if (lastReadable >= last) return length;
  return static_cast<std::size_t>(lastReadable - address + 1);
}

const std::uint8_t* SelfTask::localView(tlcrash_vm_address_t address,
                                        std::size_t length) const noexcept {
  if (length == 0 || length - 1 > UINT64_MAX - address) return nullptr;
  if (address > UINTPTR_MAX || readablePrefix(address, length) != length) return nullptr;
  return reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

}  // namespace tlcrash
