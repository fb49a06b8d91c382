#pragma once

// A small in-process stand-in for the Mach calls the exception server and
// the exception ports make: one port name space with receive rights and their
// message queues, send-right counts with a no-senders notification, port
// sets, blocking receive that reports a message too large for the buffer,
// exception-port tables of tasks and threads (get and swap), and the saved
// thread states an exception handler may ask for. Thread-safe; a receive
// blocks until a message arrives. Not for the crash path (it allocates).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "crashcapture/capture/simulated_mach/mach_exception.h"

namespace tlcrash {

// Exception-port registrations in the form the crash path reads: at most one
// per exception type.
struct tlcrash_mach_exception_port_record {
  mach_msg_type_number_t count = 0;
  exception_mask_t masks[EXC_TYPES_COUNT] = {};
  mach_port_t ports[EXC_TYPES_COUNT] = {};
  exception_behavior_t behaviors[EXC_TYPES_COUNT] = {};
  thread_state_flavor_t flavors[EXC_TYPES_COUNT] = {};
};

class SimMachKernel {
 public:
  // A new receive right (with no send rights yet), or a new port set.
  kern_return_t allocateReceive(mach_port_t* name);
  kern_return_t allocatePortSet(mach_port_t* name);
  // Moves the receive right `port` into `set` (messages to it are then
  // received from the set).
  kern_return_t moveMember(mach_port_t port, mach_port_t set);
  // Adds `delta` send references to `port` (MAKE_SEND is +1). When the count
  // drops to 0 and a no-senders notification was requested, the notify port
  // receives a message with id MACH_NOTIFY_NO_SENDERS.
  kern_return_t modSendRefs(mach_port_t port, int delta);
  kern_return_t requestNoSenders(mach_port_t port, mach_port_t notify);
  // Removes a receive right or a port set; pending messages are dropped and
  // blocked receivers return MACH_RCV_INVALID_NAME.
  kern_return_t destroy(mach_port_t name);
  int sendRefs(mach_port_t port) const;

  // Queues the message (beginning with its header; the header's remote port
  // is the destination).
  mach_msg_return_t send(const void* message, std::size_t size);
  // Takes the oldest message of `name` (a port or a set) into `buffer` and
  // sets `*size` to its size. MACH_RCV_TOO_LARGE, leaving the message queued
  // and setting `*size` to what it needs, when it does not fit.
  mach_msg_return_t receive(mach_port_t name, void* buffer, std::size_t* size);

  // The exception ports of a task or thread (any name stands for one).
  kern_return_t getExceptionPorts(mach_port_t target, exception_mask_t mask,
                                  tlcrash_mach_exception_port_record* ports);
  // Installs `port` for the exceptions of `mask` and answers what was
  // installed for them before: one entry per distinct registration, with
  // the mask of the exceptions it had. Each returned port carries a send
  // reference for the caller; the table holds one per exception type.
  kern_return_t swapExceptionPorts(mach_port_t target, exception_mask_t mask, mach_port_t port,
                                   exception_behavior_t behavior, thread_state_flavor_t flavor,
                                   tlcrash_mach_exception_port_record* previous);

  // A thread's saved state of one flavor, as 32-bit words.
  void setThreadState(mach_port_t thread, thread_state_flavor_t flavor,
                      std::vector<std::uint32_t> words);
  // Copies the state into `words` (room for `*count` words); `*count` is set
  // to its length. KERN_INVALID_ARGUMENT without that state or room for it.
  kern_return_t getThreadState(mach_port_t thread, thread_state_flavor_t flavor,
                               std::uint32_t* words, mach_msg_type_number_t* count) const;

 private:
  struct Port {
    bool is_set = false;
    mach_port_t set = MACH_PORT_NULL;  // the set holding this port
    int send_refs = 0;
    mach_port_t no_senders = MACH_PORT_NULL;
    std::deque<std::vector<std::uint8_t>> queue;
  };
  struct Registration {
    mach_port_t port = MACH_PORT_NULL;
    exception_behavior_t behavior = 0;
    thread_state_flavor_t flavor = 0;
  };
  using Table = Registration[EXC_TYPES_COUNT];

  void fillRecord(const Table& table, exception_mask_t mask,
                  tlcrash_mach_exception_port_record* record);
  mach_msg_return_t queueLocked(mach_port_t destination, std::vector<std::uint8_t> message);
  // The queue a receive on `name` takes from next, or null when empty.
  std::deque<std::vector<std::uint8_t>>* readyQueue(mach_port_t name);

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  mach_port_t next_name_ = 0x103;
  std::map<mach_port_t, Port> ports_;
  std::map<mach_port_t, Table> exception_ports_;
  std::map<std::pair<mach_port_t, thread_state_flavor_t>, std::vector<std::uint32_t>> states_;
};

}  // namespace tlcrash
