#pragma once

// The exception server: a receive port for exception requests, a notify
// port, a port set holding both, and a detached thread that receives each
// request, calls the callback with it and replies with the callback's result.
// A SimMachKernel carries the requests.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "crashcapture/capture/simulated_mach/exception_ports.h"
#include "crashcapture/capture/simulated_mach/mach_exception.h"
#include "crashcapture/capture/simulated_mach/sim_kernel.h"
#include "crashcapture/platform/log_sink.h"
#include "crashcapture/platform/reporter_error.h"

namespace tlcrash {

// Called on the server thread for each exception; its result is the reply's
// return code.
using tlcrash_mach_exception_callback = kern_return_t (*)(mach_port_t task, mach_port_t thread,
                                                          exception_type_t type,
                                                          const mach_exception_data_type_t* codes,
                                                          mach_msg_type_number_t code_count,
                                                          void* context);

// The id of the message that ends the server loop.
inline constexpr std::int32_t kExceptionServerStopId = static_cast<std::int32_t>(0xDEADBEEF);

class TLCrashMachExceptionServer {
 public:
  // Builds the ports and starts the server thread; null with `*error` set
  // when a step fails (what was made so far is released).
  static std::unique_ptr<TLCrashMachExceptionServer> make(SimMachKernel& kernel,
                                                          tlcrash_mach_exception_callback callback,
                                                          void* context, ReporterError* error,
                                                          LogSink log = {});
  // Stops the thread and releases the ports.
  ~TLCrashMachExceptionServer();
  TLCrashMachExceptionServer(const TLCrashMachExceptionServer&) = delete;
  TLCrashMachExceptionServer& operator=(const TLCrashMachExceptionServer&) = delete;

  // A registration of the server port for `mask`: default behavior with
  // 64-bit codes, the x86 thread state flavor.
  std::optional<TLCrashMachExceptionPort> exceptionPortWithMask(exception_mask_t mask,
                                                                ReporterError* error);
  // The server thread (its kernel thread id).
  tlcrash_thread_t serverThread() const;

  // For tests: the ports the server receives on.
  mach_port_t serverPort() const { return context_->server_port; }
  mach_port_t notifyPort() const { return context_->notify_port; }

 private:
  struct Context {
    SimMachKernel* kernel = nullptr;
    tlcrash_thread_t server_thread = 0;
    mach_port_t server_port = MACH_PORT_NULL;
    mach_port_t notify_port = MACH_PORT_NULL;
    mach_port_t port_set = MACH_PORT_NULL;
    tlcrash_mach_exception_callback callback = nullptr;
    void* callback_context = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> shutdown{false};
    bool started = false;
    bool stopped = false;
  };

  TLCrashMachExceptionServer(SimMachKernel& kernel, LogSink log);
  static void releasePorts(Context& context);
  static void loop(Context* context);

  SimMachKernel& kernel_;
  LogSink log_;
  // Left in place (with its thread) when the stop message cannot be sent.
  Context* context_ = nullptr;
};

}  // namespace tlcrash
