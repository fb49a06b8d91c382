#pragma once

// Exception-port registrations: one registration (port, mask, behavior,
// flavor) that installs itself on a task or thread and hands back what it
// replaced, a set of them with the plain record the crash path reads, and
// the forwarding of an exception to the previous registrations.

#include <optional>
#include <vector>

#include "crashcapture/capture/simulated_mach/mach_exception.h"
#include "crashcapture/capture/simulated_mach/sim_kernel.h"
#include "crashcapture/platform/log_sink.h"
#include "crashcapture/platform/reporter_error.h"

namespace tlcrash {

class TLCrashMachExceptionPortSet;

// Holds one send reference on its port (none for MACH_PORT_NULL and
// MACH_PORT_DEAD) while it lives.
class TLCrashMachExceptionPort {
 public:
  TLCrashMachExceptionPort(SimMachKernel& kernel, mach_port_t server_port, exception_mask_t mask,
                           exception_behavior_t behavior, thread_state_flavor_t flavor,
                           LogSink log = {});
  ~TLCrashMachExceptionPort();
  TLCrashMachExceptionPort(const TLCrashMachExceptionPort& other);
  TLCrashMachExceptionPort& operator=(const TLCrashMachExceptionPort&) = delete;

  mach_port_t server_port() const { return port_; }
  exception_mask_t mask() const { return mask_; }
  exception_behavior_t behavior() const { return behavior_; }
  thread_state_flavor_t flavor() const { return flavor_; }

  // The registrations of `task` (or `thread`) for `mask`.
  static std::optional<TLCrashMachExceptionPortSet> exceptionPortsForTask(SimMachKernel& kernel,
                                                                          mach_port_t task,
                                                                          exception_mask_t mask,
                                                                          ReporterError* error);
  static std::optional<TLCrashMachExceptionPortSet> exceptionPortsForThread(SimMachKernel& kernel,
                                                                            mach_port_t thread,
                                                                            exception_mask_t mask,
                                                                            ReporterError* error);

  // Installs this registration on `task` (or `thread`); what it replaced goes
  // into `*previous` when asked for.
  bool registerForTask(mach_port_t task, std::optional<TLCrashMachExceptionPortSet>* previous,
                       ReporterError* error) const;
  bool registerForThread(mach_port_t thread, std::optional<TLCrashMachExceptionPortSet>* previous,
                         ReporterError* error) const;

 private:
  bool registerFor(mach_port_t target, std::optional<TLCrashMachExceptionPortSet>* previous,
                   ReporterError* error) const;

  SimMachKernel& kernel_;
  mach_port_t port_;
  exception_mask_t mask_;
  exception_behavior_t behavior_;
  thread_state_flavor_t flavor_;
  LogSink log_;
};

class TLCrashMachExceptionPortSet {
 public:
  // At most EXC_TYPES_COUNT registrations (more is a fatal assertion); the
  // record lists them in order.
  explicit TLCrashMachExceptionPortSet(std::vector<TLCrashMachExceptionPort> ports);
  // From the record a kernel call filled (at most EXC_TYPES_COUNT entries, a
  // fatal assertion otherwise): the reference the call gave for each port
  // moves to the set's registrations.
  TLCrashMachExceptionPortSet(SimMachKernel& kernel,
                              const tlcrash_mach_exception_port_record& record, LogSink log = {});

  const std::vector<TLCrashMachExceptionPort>& set() const { return ports_; }
  const tlcrash_mach_exception_port_record& asyncSafeRepresentation() const { return record_; }
  auto begin() const { return ports_.begin(); }
  auto end() const { return ports_.end(); }

 private:
  std::vector<TLCrashMachExceptionPort> ports_;
  tlcrash_mach_exception_port_record record_;
};

// Passes an exception on to the first of `previous` whose port is live and
// whose mask has the exception's bit, the way its behavior asks for (with
// 64-bit codes when it has MACH_EXCEPTION_CODES, else with codes cut to 32
// bits; with the thread's state of its flavor for the state behaviors), and
// answers its handler's result. KERN_FAILURE when none takes it or its
// behavior is unknown; MIG_ARRAY_TOO_LARGE for more than 2 codes; the state
// read's error. The handler's new state is not applied.
kern_return_t tlcrash_mach_exception_forward(SimMachKernel& kernel, mach_port_t task,
                                             mach_port_t thread, exception_type_t type,
                                             const mach_exception_data_type_t* codes,
                                             mach_msg_type_number_t code_count,
                                             const tlcrash_mach_exception_port_record& previous);

}  // namespace tlcrash
