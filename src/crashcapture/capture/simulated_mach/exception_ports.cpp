#include "crashcapture/capture/simulated_mach/exception_ports.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tlcrash {
namespace {

bool isLive(mach_port_t port) {
  return port != MACH_PORT_NULL && port != MACH_PORT_DEAD;
}

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::abort();
}

// Appends `value`'s bytes to a message being built.
template <class T>
void put(std::uint8_t* message, std::size_t* used, const T& value) {
  std::memcpy(message + *used, &value, sizeof value);
  *used += sizeof value;
}

mach_msg_port_descriptor_t descriptor(mach_port_t name) {
  mach_msg_port_descriptor_t port{};
  port.name = name;
  port.disposition = MACH_MSG_TYPE_COPY_SEND;
  port.type = MACH_MSG_PORT_DESCRIPTOR;
  return port;
}

// Sends the request in `message` to `destination` with a reply port of its
// own and waits for the reply's return code.
kern_return_t raise(SimMachKernel& kernel, mach_port_t destination, std::uint8_t* message,
                    std::size_t size, bool complex, std::int32_t id) {
  mach_port_t reply = MACH_PORT_NULL;
  if (kernel.allocateReceive(&reply) != KERN_SUCCESS) return KERN_FAILURE;
  mach_msg_header_t header{};
  header.msgh_bits = MACH_MSG_TYPE_COPY_SEND | (MACH_MSG_TYPE_MAKE_SEND_ONCE << 8) |
                     (complex ? MACH_MSGH_BITS_COMPLEX : 0);
  header.msgh_size = static_cast<std::uint32_t>(size);
  header.msgh_remote_port = destination;
  header.msgh_local_port = reply;
  header.msgh_id = id;
  std::memcpy(message, &header, sizeof header);
  kern_return_t result = kernel.send(message, size);
  if (result == MACH_MSG_SUCCESS) {
    // A reply with thread state may be long.
    std::uint8_t answer[sizeof(tlcrash_mach_exception_reply) + 8 + 4 * kThreadStateMaxWords];
    std::size_t answerSize = sizeof answer;
    result = kernel.receive(reply, answer, &answerSize);
    if (result == MACH_MSG_SUCCESS) {
      tlcrash_mach_exception_reply parsed{};
      if (answerSize < sizeof parsed) {
        result = KERN_FAILURE;
      } else {
        std::memcpy(&parsed, answer, sizeof parsed);
        result = parsed.head.msgh_id == id + kReplyIdOffset ? parsed.ret_code : KERN_FAILURE;
      }
    }
  }
  kernel.destroy(reply);
  return result;
}

}  // namespace

TLCrashMachExceptionPort::TLCrashMachExceptionPort(SimMachKernel& kernel, mach_port_t server_port,
                                                   exception_mask_t mask,
                                                   exception_behavior_t behavior,
                                                   thread_state_flavor_t flavor, LogSink log)
    : kernel_(kernel),
      port_(server_port),
      mask_(mask),
      behavior_(behavior),
      flavor_(flavor),
      log_(std::move(log)) {
  if (!isLive(port_)) return;
  const kern_return_t kr = kernel_.modSendRefs(port_, 1);
  if (kr != KERN_SUCCESS && log_)
    log_("[TLCrashReporter] Unexpected error incrementing mach port reference: " +
         std::to_string(kr));
}

TLCrashMachExceptionPort::TLCrashMachExceptionPort(const TLCrashMachExceptionPort& other)
    : TLCrashMachExceptionPort(other.kernel_, other.port_, other.mask_, other.behavior_,
                               other.flavor_, other.log_) {}

TLCrashMachExceptionPort::~TLCrashMachExceptionPort() {
  if (!isLive(port_)) return;
  const kern_return_t kr = kernel_.modSendRefs(port_, -1);
  if (kr != KERN_SUCCESS && log_)
    log_("[TLCrashReporter] Unexpected error decrementing mach port reference: " +
         std::to_string(kr));
}

std::optional<TLCrashMachExceptionPortSet> TLCrashMachExceptionPort::exceptionPortsForTask(
    SimMachKernel& kernel, mach_port_t task, exception_mask_t mask, ReporterError* error) {
  tlcrash_mach_exception_port_record record;
  const kern_return_t kr = kernel.getExceptionPorts(task, mask, &record);
  if (kr != KERN_SUCCESS) {
    tlcrash_populate_mach_error(error, kr, "Failed to fetch mach exception ports");
    return std::nullopt;
  }
  return TLCrashMachExceptionPortSet(kernel, record);
}

std::optional<TLCrashMachExceptionPortSet> TLCrashMachExceptionPort::exceptionPortsForThread(
    SimMachKernel& kernel, mach_port_t thread, exception_mask_t mask, ReporterError* error) {
  tlcrash_mach_exception_port_record record;
  const kern_return_t kr = kernel.getExceptionPorts(thread, mask, &record);
  if (kr != KERN_SUCCESS) {
    tlcrash_populate_mach_error(error, kr, "Failed to swap mach exception ports");
    return std::nullopt;
  }
  return TLCrashMachExceptionPortSet(kernel, record);
}

bool TLCrashMachExceptionPort::registerForTask(mach_port_t task,
                                               std::optional<TLCrashMachExceptionPortSet>* previous,
                                               ReporterError* error) const {
  return registerFor(task, previous, error);
}

bool TLCrashMachExceptionPort::registerForThread(
    mach_port_t thread, std::optional<TLCrashMachExceptionPortSet>* previous,
    ReporterError* error) const {
  return registerFor(thread, previous, error);
}

bool TLCrashMachExceptionPort::registerFor(mach_port_t target,
                                           std::optional<TLCrashMachExceptionPortSet>* previous,
                                           ReporterError* error) const {
  tlcrash_mach_exception_port_record record;
  const kern_return_t kr = kernel_.swapExceptionPorts(target, mask_, port_, behavior_, flavor_,
                                                      previous != nullptr ? &record : nullptr);
  if (kr != KERN_SUCCESS) {
    tlcrash_populate_mach_error(error, kr, "Failed to swap mach exception ports");
    return false;
  }
  if (previous != nullptr) previous->emplace(kernel_, record, log_);
  return true;
}

TLCrashMachExceptionPortSet::TLCrashMachExceptionPortSet(
    std::vector<TLCrashMachExceptionPort> ports)
    : ports_(std::move(ports)) {
  if (ports_.size() > EXC_TYPES_COUNT)
    fail("Set size of " + std::to_string(ports_.size()) + " exceeds EXC_TYPES_COUNT (" +
         std::to_string(EXC_TYPES_COUNT) + ")");
  record_.count = static_cast<mach_msg_type_number_t>(ports_.size());
  for (std::size_t index = 0; index < ports_.size(); ++index) {
    record_.masks[index] = ports_[index].mask();
    record_.ports[index] = ports_[index].server_port();
    record_.behaviors[index] = ports_[index].behavior();
    record_.flavors[index] = ports_[index].flavor();
  }
}

TLCrashMachExceptionPortSet::TLCrashMachExceptionPortSet(
    SimMachKernel& kernel, const tlcrash_mach_exception_port_record& record, LogSink log)
    : record_(record) {
  if (record.count > EXC_TYPES_COUNT)
    fail("Count of " + std::to_string(record.count) + " exceeds EXC_TYPES_COUNT (" +
         std::to_string(EXC_TYPES_COUNT) + ")");
  ports_.reserve(record.count);
  for (std::size_t index = 0; index < record.count; ++index) {
    ports_.emplace_back(kernel, record.ports[index], record.masks[index], record.behaviors[index],
                        record.flavors[index], log);
    if (!isLive(record.ports[index])) continue;
    const kern_return_t kr = kernel.modSendRefs(record.ports[index], -1);
    if (kr != KERN_SUCCESS && log)
      log("[TLCrashReporter] Unexpected error decrementing mach port reference: " +
          std::to_string(kr));
  }
}

kern_return_t tlcrash_mach_exception_forward(SimMachKernel& kernel, mach_port_t task,
                                             mach_port_t thread, exception_type_t type,
                                             const mach_exception_data_type_t* codes,
                                             mach_msg_type_number_t code_count,
                                             const tlcrash_mach_exception_port_record& previous) {
  if (type < 0 || type >= static_cast<exception_type_t>(EXC_TYPES_COUNT)) return KERN_FAILURE;
  const exception_mask_t bit = 1U << type;
  const mach_msg_type_number_t entries =
      previous.count < EXC_TYPES_COUNT ? previous.count : EXC_TYPES_COUNT;
  std::size_t found = EXC_TYPES_COUNT;
  for (std::size_t index = 0; index < entries; ++index) {
    if (isLive(previous.ports[index]) && (previous.masks[index] & bit) != 0) {
      found = index;
      break;
    }
  }
  if (found == EXC_TYPES_COUNT) return KERN_FAILURE;

  const bool wide = (previous.behaviors[found] & MACH_EXCEPTION_CODES) != 0;
  const exception_behavior_t behavior = previous.behaviors[found] & ~MACH_EXCEPTION_CODES;
  if (behavior != EXCEPTION_DEFAULT && behavior != EXCEPTION_STATE &&
      behavior != EXCEPTION_STATE_IDENTITY)
    return KERN_FAILURE;
  if (code_count > kExceptionMaxCodes) return MIG_ARRAY_TOO_LARGE;

  std::uint32_t state[kThreadStateMaxWords];
  mach_msg_type_number_t stateCount = kThreadStateMaxWords;
  const thread_state_flavor_t flavor = previous.flavors[found];
  if (behavior != EXCEPTION_DEFAULT) {
    const kern_return_t kr = kernel.getThreadState(thread, flavor, state, &stateCount);
    if (kr != KERN_SUCCESS) return kr;
    if (stateCount > kThreadStateMaxWords) return MIG_ARRAY_TOO_LARGE;
  }

  // Header, then the descriptors of the thread and task (default and
  // identity), the NDR record, the exception and its codes, then the
  // flavor and the state (state and identity).
  std::uint8_t message[sizeof(mach_msg_header_t) + 4 + 2 * sizeof(mach_msg_port_descriptor_t) +
                       sizeof(NDR_record_t) + 8 + 8 * kExceptionMaxCodes + 8 +
                       4 * kThreadStateMaxWords];
  std::size_t used = sizeof(mach_msg_header_t);
  const bool complex = behavior != EXCEPTION_STATE;
  if (complex) {
    put(message, &used, std::uint32_t{2});
    put(message, &used, descriptor(thread));
    put(message, &used, descriptor(task));
  }
  put(message, &used, NDR_record_t{});
  put(message, &used, type);
  put(message, &used, code_count);
  for (mach_msg_type_number_t index = 0; index < code_count; ++index) {
    if (wide) {
      put(message, &used, codes[index]);
    } else {
      put(message, &used, static_cast<std::int32_t>(codes[index]));
    }
  }
  if (behavior != EXCEPTION_DEFAULT) {
    put(message, &used, flavor);
    put(message, &used, stateCount);
    std::memcpy(message + used, state, stateCount * sizeof(std::uint32_t));
    used += stateCount * sizeof(std::uint32_t);
  }
  const std::int32_t first = wide ? kMachExceptionRaiseId : kExceptionRaiseId;
  return raise(kernel, previous.ports[found], message, used, complex, first + behavior - 1);
}

}  // namespace tlcrash
