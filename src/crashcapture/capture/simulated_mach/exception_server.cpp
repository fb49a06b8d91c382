#include "crashcapture/capture/simulated_mach/exception_server.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

namespace tlcrash {
namespace {

constexpr std::size_t kPageSize = 4096;
// The shortest request the callback is called for.
constexpr std::size_t kMinimumRequest = sizeof(tlcrash_mach_exception_request);

std::size_t roundToPage(std::size_t size) {
  return (size + kPageSize - 1) / kPageSize * kPageSize;
}

void* allocatePages(std::size_t size) {
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

}  // namespace

TLCrashMachExceptionServer::TLCrashMachExceptionServer(SimMachKernel& kernel, LogSink log)
    : kernel_(kernel), log_(std::move(log)) {}

void TLCrashMachExceptionServer::releasePorts(Context& context) {
  for (const mach_port_t port : {context.server_port, context.notify_port, context.port_set})
    if (port != MACH_PORT_NULL) context.kernel->destroy(port);
}

std::unique_ptr<TLCrashMachExceptionServer> TLCrashMachExceptionServer::make(
    SimMachKernel& kernel, tlcrash_mach_exception_callback callback, void* context,
    ReporterError* error, LogSink log) {
  std::unique_ptr<TLCrashMachExceptionServer> server(
      new TLCrashMachExceptionServer(kernel, std::move(log)));
  auto* shared = new Context;
  shared->kernel = &kernel;
  shared->callback = callback;
  shared->callback_context = context;

  const auto failed = [&](kern_return_t kr, const char* description) {
    tlcrash_populate_mach_error(error, kr, description);
    releasePorts(*shared);
    delete shared;
    return nullptr;
  };
  kern_return_t kr = kernel.allocateReceive(&shared->server_port);
  if (kr == KERN_SUCCESS) kr = kernel.allocateReceive(&shared->notify_port);
  if (kr != KERN_SUCCESS) return failed(kr, "Failed to allocate exception server's port");
  kr = kernel.modSendRefs(shared->notify_port, 1);
  if (kr != KERN_SUCCESS) return failed(kr, "Failed to add send right to exception server's port");
  kr = kernel.requestNoSenders(shared->server_port, shared->notify_port);
  if (kr != KERN_SUCCESS)
    return failed(kr, "Failed to request MACH_NOTIFY_NO_SENDERS on the exception server's port");
  kr = kernel.allocatePortSet(&shared->port_set);
  if (kr != KERN_SUCCESS) return failed(kr, "Failed to allocate exception server's port set");
  kr = kernel.moveMember(shared->server_port, shared->port_set);
  if (kr != KERN_SUCCESS) return failed(kr, "Failed to add exception server port to port set");
  kr = kernel.moveMember(shared->notify_port, shared->port_set);
  if (kr != KERN_SUCCESS)
    return failed(kr, "Failed to add exception server notify port to port set");

  try {
    std::thread(loop, shared).detach();
  } catch (const std::system_error& failure) {
    tlcrash_populate_posix_error(error, failure.code().value(),
                                 "Failed to create exception server thread");
    releasePorts(*shared);
    delete shared;
    return nullptr;
  }
  {
    // The thread names itself before it receives.
    std::unique_lock lock(shared->mutex);
    shared->changed.wait(lock, [&] { return shared->started; });
  }
  server->context_ = shared;
  return server;
}

TLCrashMachExceptionServer::~TLCrashMachExceptionServer() {
  if (context_ == nullptr) return;
  bool expected = false;
  context_->shutdown.compare_exchange_strong(expected, true);
  mach_msg_header_t stop{};
  stop.msgh_bits = MACH_MSG_TYPE_COPY_SEND;
  stop.msgh_size = sizeof stop;
  stop.msgh_remote_port = context_->notify_port;
  stop.msgh_id = kExceptionServerStopId;
  const mach_msg_return_t sent = kernel_.send(&stop, sizeof stop);
  if (sent != MACH_MSG_SUCCESS) {
    if (log_)
      log_(
          "[TLCrashReporter] Unexpected error sending termination message to background "
          "thread: " +
          std::to_string(sent));
    return;
  }
  {
    std::unique_lock lock(context_->mutex);
    context_->changed.wait(lock, [&] { return context_->stopped; });
  }
  releasePorts(*context_);
  delete context_;
}

std::optional<TLCrashMachExceptionPort> TLCrashMachExceptionServer::exceptionPortWithMask(
    exception_mask_t mask, ReporterError* error) {
  mach_port_t port = MACH_PORT_NULL;
  {
    std::lock_guard lock(context_->mutex);
    const kern_return_t kr = kernel_.modSendRefs(context_->server_port, 1);
    if (kr != KERN_SUCCESS) {
      tlcrash_populate_mach_error(error, kr, "Failed to insert Mach send right");
      return std::nullopt;
    }
    port = context_->server_port;
  }
  std::optional<TLCrashMachExceptionPort> registration;
  registration.emplace(kernel_, port, mask, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES,
                       x86_THREAD_STATE, log_);
  // The registration holds its own reference.
  kernel_.modSendRefs(port, -1);
  return registration;
}

tlcrash_thread_t TLCrashMachExceptionServer::serverThread() const {
  std::lock_guard lock(context_->mutex);
  return context_->server_thread;
}

void TLCrashMachExceptionServer::loop(Context* context) {
  {
    std::lock_guard lock(context->mutex);
    context->server_thread = static_cast<tlcrash_thread_t>(gettid());
    context->started = true;
  }
  context->changed.notify_all();

  SimMachKernel& kernel = *context->kernel;
  std::size_t capacity = roundToPage(kMinimumRequest);
  auto* buffer = static_cast<std::uint8_t*>(allocatePages(capacity));
  if (buffer == nullptr) {
    std::fprintf(stderr, "Unexpected error in vm_allocate(): %x\n", KERN_FAILURE);
    return;
  }
  for (;;) {
    std::size_t size = capacity;
    const mach_msg_return_t received = kernel.receive(context->port_set, buffer, &size);
    if (received == MACH_RCV_TOO_LARGE) {
      munmap(buffer, capacity);
      capacity = roundToPage(size);
      buffer = static_cast<std::uint8_t*>(allocatePages(capacity));
      if (buffer == nullptr) {
        std::fprintf(stderr, "Unexpected error in vm_allocate(): 0x%x\n", KERN_FAILURE);
        return;
      }
      continue;
    }
    if (received != MACH_MSG_SUCCESS) continue;

    mach_msg_header_t header;
    std::memcpy(&header, buffer, sizeof header);
    if (header.msgh_remote_port == context->notify_port) {
      if (header.msgh_id == MACH_NOTIFY_NO_SENDERS) continue;
      if (header.msgh_id == kExceptionServerStopId && context->shutdown.load()) {
        munmap(buffer, capacity);
        std::lock_guard lock(context->mutex);
        context->stopped = true;
        context->changed.notify_all();
        return;
      }
    }

    kern_return_t result = KERN_FAILURE;
    if (size >= kMinimumRequest) {
      tlcrash_mach_exception_request request;
      std::memcpy(&request, buffer, sizeof request);
      const mach_msg_type_number_t count =
          request.code_count < kExceptionMaxCodes ? request.code_count : kExceptionMaxCodes;
      // The codes lie 4-aligned in the message.
      mach_exception_data_type_t codes[kExceptionMaxCodes];
      std::memcpy(codes, buffer + offsetof(tlcrash_mach_exception_request, code), sizeof codes);
      result = context->callback(request.task.name, request.thread.name, request.exception, codes,
                                 count, context->callback_context);
    }
    tlcrash_mach_exception_reply reply{};
    reply.head.msgh_bits = header.msgh_bits & MACH_MSGH_BITS_REMOTE_MASK;
    reply.head.msgh_size = sizeof reply;
    reply.head.msgh_remote_port = header.msgh_local_port;
    reply.head.msgh_id = header.msgh_id + kReplyIdOffset;
    reply.ret_code = result;
    (void)kernel.send(&reply, sizeof reply);
  }
}

}  // namespace tlcrash
