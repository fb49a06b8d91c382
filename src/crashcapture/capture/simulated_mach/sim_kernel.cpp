#include "crashcapture/capture/simulated_mach/sim_kernel.h"

#include <cstring>

namespace tlcrash {

kern_return_t SimMachKernel::allocateReceive(mach_port_t* name) {
  std::lock_guard lock(mutex_);
  *name = next_name_++;
  ports_[*name] = Port{};
  return KERN_SUCCESS;
}

kern_return_t SimMachKernel::allocatePortSet(mach_port_t* name) {
  std::lock_guard lock(mutex_);
  *name = next_name_++;
  ports_[*name] = Port{};
  ports_[*name].is_set = true;
  return KERN_SUCCESS;
}

kern_return_t SimMachKernel::moveMember(mach_port_t port, mach_port_t set) {
  std::lock_guard lock(mutex_);
  const auto member = ports_.find(port);
  const auto holder = ports_.find(set);
  if (member == ports_.end() || holder == ports_.end()) return KERN_INVALID_NAME;
  if (member->second.is_set || !holder->second.is_set) return KERN_INVALID_RIGHT;
  member->second.set = set;
  arrived_.notify_all();
  return KERN_SUCCESS;
}

kern_return_t SimMachKernel::modSendRefs(mach_port_t port, int delta) {
  std::lock_guard lock(mutex_);
  const auto found = ports_.find(port);
  if (found == ports_.end()) return KERN_INVALID_NAME;
  Port& entry = found->second;
  if (entry.is_set || entry.send_refs + delta < 0) return KERN_INVALID_RIGHT;
  entry.send_refs += delta;
  if (entry.send_refs == 0 && delta < 0 && entry.no_senders != MACH_PORT_NULL) {
    const mach_port_t notify = entry.no_senders;
    entry.no_senders = MACH_PORT_NULL;  // a request is answered once
    std::vector<std::uint8_t> message(sizeof(mach_msg_header_t) + 4, 0);
    mach_msg_header_t header{};
    header.msgh_size = static_cast<std::uint32_t>(message.size());
    header.msgh_remote_port = notify;
    header.msgh_id = MACH_NOTIFY_NO_SENDERS;
    std::memcpy(message.data(), &header, sizeof header);
    (void)queueLocked(notify, std::move(message));
  }
  return KERN_SUCCESS;
}

kern_return_t SimMachKernel::requestNoSenders(mach_port_t port, mach_port_t notify) {
  std::lock_guard lock(mutex_);
  const auto found = ports_.find(port);
  if (found == ports_.end() || ports_.count(notify) == 0) return KERN_INVALID_NAME;
  found->second.no_senders = notify;
  return KERN_SUCCESS;
}

kern_return_t SimMachKernel::destroy(mach_port_t name) {
  std::lock_guard lock(mutex_);
  if (ports_.erase(name) == 0) return KERN_INVALID_NAME;
  for (auto& [other, port] : ports_)
    if (port.set == name) port.set = MACH_PORT_NULL;
  arrived_.notify_all();
  return KERN_SUCCESS;
}

int SimMachKernel::sendRefs(mach_port_t port) const {
  std::lock_guard lock(mutex_);
  const auto found = ports_.find(port);
  return found == ports_.end() ? 0 : found->second.send_refs;
}

mach_msg_return_t SimMachKernel::queueLocked(mach_port_t destination,
                                             std::vector<std::uint8_t> message) {
  const auto found = ports_.find(destination);
  if (found == ports_.end() || found->second.is_set) return MACH_SEND_INVALID_DEST;
  found->second.queue.push_back(std::move(message));
  arrived_.notify_all();
  return MACH_MSG_SUCCESS;
}

mach_msg_return_t SimMachKernel::send(const void* message, std::size_t size) {
  if (size < sizeof(mach_msg_header_t)) return MACH_SEND_INVALID_DEST;
  mach_msg_header_t header;
  std::memcpy(&header, message, sizeof header);
  const auto* bytes = static_cast<const std::uint8_t*>(message);
  std::lock_guard lock(mutex_);
  return queueLocked(header.msgh_remote_port, std::vector<std::uint8_t>(bytes, bytes + size));
}

std::deque<std::vector<std::uint8_t>>* SimMachKernel::readyQueue(mach_port_t name) {
  Port& target = ports_.at(name);
  if (!target.is_set) return target.queue.empty() ? nullptr : &target.queue;
  for (auto& [member, port] : ports_)
    if (port.set == name && !port.queue.empty()) return &port.queue;
  return nullptr;
}

mach_msg_return_t SimMachKernel::receive(mach_port_t name, void* buffer, std::size_t* size) {
  std::unique_lock lock(mutex_);
  std::deque<std::vector<std::uint8_t>>* queue = nullptr;
  arrived_.wait(lock, [&] {
    if (ports_.count(name) == 0) return true;
    queue = readyQueue(name);
    return queue != nullptr;
  });
  if (queue == nullptr) return MACH_RCV_INVALID_NAME;
  const std::vector<std::uint8_t>& message = queue->front();
  if (message.size() > *size) {
    *size = message.size();
    return MACH_RCV_TOO_LARGE;
  }
  std::memcpy(buffer, message.data(), message.size());
  *size = message.size();
  queue->pop_front();
  return MACH_MSG_SUCCESS;
}

void SimMachKernel::fillRecord(const Table& table, exception_mask_t mask,
                               tlcrash_mach_exception_port_record* record) {
  *record = {};
  for (std::size_t type = 0; type < EXC_TYPES_COUNT; ++type) {
    if ((mask & (1U << type)) == 0) continue;
    const Registration& entry = table[type];
    std::size_t index = 0;
    for (; index < record->count; ++index) {
      if (record->ports[index] == entry.port && record->behaviors[index] == entry.behavior &&
          record->flavors[index] == entry.flavor)
        break;
    }
    if (index == record->count) {
      record->ports[index] = entry.port;
      record->behaviors[index] = entry.behavior;
      record->flavors[index] = entry.flavor;
      ++record->count;
      // The caller's reference on the port.
      const auto port = ports_.find(entry.port);
      if (port != ports_.end()) ++port->second.send_refs;
    }
    record->masks[index] |= 1U << type;
  }
}

kern_return_t SimMachKernel::getExceptionPorts(mach_port_t target, exception_mask_t mask,
                                               tlcrash_mach_exception_port_record* ports) {
  std::lock_guard lock(mutex_);
  fillRecord(exception_ports_[target], mask, ports);
  return KERN_SUCCESS;
}

kern_return_t SimMachKernel::swapExceptionPorts(mach_port_t target, exception_mask_t mask,
                                                mach_port_t port, exception_behavior_t behavior,
                                                thread_state_flavor_t flavor,
                                                tlcrash_mach_exception_port_record* previous) {
  std::lock_guard lock(mutex_);
  if (port != MACH_PORT_NULL && port != MACH_PORT_DEAD && ports_.count(port) == 0)
    return KERN_INVALID_NAME;
  Table& table = exception_ports_[target];
  tlcrash_mach_exception_port_record old;
  fillRecord(table, mask, &old);
  for (std::size_t type = 0; type < EXC_TYPES_COUNT; ++type) {
    if ((mask & (1U << type)) == 0) continue;
    // The table's reference moves from the old port to the new one.
    if (const auto held = ports_.find(table[type].port); held != ports_.end())
      --held->second.send_refs;
    if (const auto added = ports_.find(port); added != ports_.end()) ++added->second.send_refs;
    table[type] = {port, behavior, flavor};
  }
  if (previous != nullptr) {
    *previous = old;
  } else {
    for (std::size_t index = 0; index < old.count; ++index)
      if (const auto held = ports_.find(old.ports[index]); held != ports_.end())
        --held->second.send_refs;
  }
  return KERN_SUCCESS;
}

void SimMachKernel::setThreadState(mach_port_t thread, thread_state_flavor_t flavor,
                                   std::vector<std::uint32_t> words) {
  std::lock_guard lock(mutex_);
  states_[{thread, flavor}] = std::move(words);
}

kern_return_t SimMachKernel::getThreadState(mach_port_t thread, thread_state_flavor_t flavor,
                                            std::uint32_t* words,
                                            mach_msg_type_number_t* count) const {
  std::lock_guard lock(mutex_);
  const auto found = states_.find({thread, flavor});
  if (found == states_.end() || found->second.size() > *count) return KERN_INVALID_ARGUMENT;
  std::memcpy(words, found->second.data(), found->second.size() * sizeof(std::uint32_t));
  *count = static_cast<mach_msg_type_number_t>(found->second.size());
  return KERN_SUCCESS;
}

}  // namespace tlcrash
