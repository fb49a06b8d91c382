// The exception server and exception ports over the simulated port layer:
// the previous-port swap, forwarding to the previous handlers by behavior,
// and the server loop (callback, replies, short and long requests,
// notifications, stop).

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "crashcapture/capture/simulated_mach/exception_ports.h"
#include "crashcapture/capture/simulated_mach/exception_server.h"
#include "crashcapture/capture/simulated_mach/mach_exception.h"
#include "crashcapture/capture/simulated_mach/sim_kernel.h"
#include "crashcapture/platform/reporter_error.h"

namespace tlcrash {
namespace {

constexpr mach_port_t kTask = 0x51;
constexpr mach_port_t kThread = 0x52;

template <class T>
T readAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// A previous handler: receives one request on `port`, keeps it and replies
// with `result`.
class Handler {
 public:
  Handler(SimMachKernel& kernel, mach_port_t port, kern_return_t result)
      : thread_([this, &kernel, port, result] {
          std::vector<std::uint8_t> buffer(8192);
          std::size_t size = buffer.size();
          if (kernel.receive(port, buffer.data(), &size) != MACH_MSG_SUCCESS) return;
          buffer.resize(size);
          request = buffer;
          tlcrash_mach_exception_reply reply{};
          const auto header = readAt<mach_msg_header_t>(buffer, 0);
          reply.head.msgh_size = sizeof reply;
          reply.head.msgh_remote_port = header.msgh_local_port;
          reply.head.msgh_id = header.msgh_id + kReplyIdOffset;
          reply.ret_code = result;
          kernel.send(&reply, sizeof reply);
        }) {}
  void join() { thread_.join(); }
  std::vector<std::uint8_t> request;

 private:
  std::thread thread_;
};

mach_port_t newPort(SimMachKernel& kernel) {
  mach_port_t port = MACH_PORT_NULL;
  EXPECT_EQ(kernel.allocateReceive(&port), KERN_SUCCESS);
  return port;
}

TEST(ExceptionPortsTest, RegisteringSwapsOutThePreviousPortsWithTheirMasks) {
  SimMachKernel kernel;
  const mach_port_t earlier = newPort(kernel);
  const mach_port_t debugger = newPort(kernel);
  ASSERT_EQ(kernel.swapExceptionPorts(kTask, EXC_MASK_BAD_ACCESS | EXC_MASK_ARITHMETIC, earlier,
                                      EXCEPTION_STATE, x86_THREAD_STATE, nullptr),
            KERN_SUCCESS);
  ASSERT_EQ(kernel.swapExceptionPorts(kTask, EXC_MASK_BREAKPOINT, debugger, EXCEPTION_DEFAULT, 0,
                                      nullptr),
            KERN_SUCCESS);
  EXPECT_EQ(kernel.sendRefs(earlier), 2);  // one per exception type

  const mach_port_t server = newPort(kernel);
  TLCrashMachExceptionPort registration(kernel, server, 0x6E,
                                        EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, x86_THREAD_STATE);
  std::optional<TLCrashMachExceptionPortSet> previous;
  ReporterError error;
  ASSERT_TRUE(registration.registerForTask(kTask, &previous, &error));
  ASSERT_TRUE(previous.has_value());
  const auto& record = previous->asyncSafeRepresentation();
  ASSERT_EQ(record.count, 3u);
  // In exception-type order: bad access (earlier), bad instruction (none),
  // arithmetic (earlier again), software (none), breakpoint (debugger).
  EXPECT_EQ(record.ports[0], earlier);
  EXPECT_EQ(record.masks[0], EXC_MASK_BAD_ACCESS | EXC_MASK_ARITHMETIC);
  EXPECT_EQ(record.behaviors[0], EXCEPTION_STATE);
  EXPECT_EQ(record.ports[1], MACH_PORT_NULL);
  EXPECT_EQ(record.masks[1], EXC_MASK_BAD_INSTRUCTION | EXC_MASK_SOFTWARE);
  EXPECT_EQ(record.ports[2], debugger);
  EXPECT_EQ(record.masks[2], EXC_MASK_BREAKPOINT);
  EXPECT_EQ(previous->set().size(), 3u);

  // The table now holds the server for all five, the set one reference on
  // each previous port.
  auto now = TLCrashMachExceptionPort::exceptionPortsForTask(kernel, kTask, 0x6E, &error);
  ASSERT_TRUE(now.has_value());
  ASSERT_EQ(now->asyncSafeRepresentation().count, 1u);
  EXPECT_EQ(now->asyncSafeRepresentation().ports[0], server);
  EXPECT_EQ(now->asyncSafeRepresentation().masks[0], 0x6Eu);
  EXPECT_EQ(kernel.sendRefs(earlier), 1);
  EXPECT_EQ(kernel.sendRefs(debugger), 1);
  previous.reset();
  EXPECT_EQ(kernel.sendRefs(earlier), 0);
  EXPECT_EQ(kernel.sendRefs(debugger), 0);
}

TEST(ExceptionPortsDeathTest, ASetHoldsAtMostOneRegistrationPerExceptionType) {
  SimMachKernel kernel;
  tlcrash_mach_exception_port_record record;
  record.count = 15;
  EXPECT_DEATH(TLCrashMachExceptionPortSet(kernel, record),
               "Count of 15 exceeds EXC_TYPES_COUNT \\(14\\)");
  EXPECT_DEATH(TLCrashMachExceptionPortSet(std::vector<TLCrashMachExceptionPort>(
                   15, TLCrashMachExceptionPort(kernel, MACH_PORT_NULL, 0, 0, 0))),
               "Set size of 15 exceeds EXC_TYPES_COUNT \\(14\\)");
}

TEST(ExceptionForwardingTest, TheFirstMatchingPreviousHandlerGetsTheExceptionByItsBehavior) {
  struct Case {
    exception_behavior_t behavior;
    std::int32_t id;
    bool wide;      // 64-bit codes
    bool identity;  // thread and task descriptors
    bool state;
  };
  const Case cases[] = {
      {EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, 2405, true, true, false},
      {EXCEPTION_STATE | MACH_EXCEPTION_CODES, 2406, true, false, true},
      {EXCEPTION_STATE_IDENTITY | MACH_EXCEPTION_CODES, 2407, true, true, true},
      {EXCEPTION_DEFAULT, 2401, false, true, false},
      {EXCEPTION_STATE, 2402, false, false, true},
      {EXCEPTION_STATE_IDENTITY, 2403, false, true, true},
  };
  for (const Case& each : cases) {
    SimMachKernel kernel;
    kernel.setThreadState(kThread, x86_THREAD_STATE, {11, 22, 33});
    const mach_port_t dead = newPort(kernel);
    const mach_port_t other = newPort(kernel);
    const mach_port_t handler = newPort(kernel);
    tlcrash_mach_exception_port_record previous;
    previous.count = 4;
    // A null port, a port for other exceptions, then the handler.
    previous.ports[0] = MACH_PORT_NULL;
    previous.masks[0] = EXC_MASK_BAD_ACCESS;
    previous.ports[1] = other;
    previous.masks[1] = EXC_MASK_BREAKPOINT;
    previous.ports[2] = handler;
    previous.masks[2] = EXC_MASK_BAD_ACCESS | EXC_MASK_ARITHMETIC;
    previous.behaviors[2] = each.behavior;
    previous.flavors[2] = x86_THREAD_STATE;
    previous.ports[3] = dead;  // would also match, but comes later
    previous.masks[3] = EXC_MASK_BAD_ACCESS;

    Handler answer(kernel, handler, KERN_SUCCESS);
    const mach_exception_data_type_t codes[] = {KERN_INVALID_ADDRESS, 0x100000000dead};
    EXPECT_EQ(
        tlcrash_mach_exception_forward(kernel, kTask, kThread, EXC_BAD_ACCESS, codes, 2, previous),
        KERN_SUCCESS);
    answer.join();
    const std::vector<std::uint8_t>& request = answer.request;
    ASSERT_GE(request.size(), sizeof(mach_msg_header_t)) << each.id;
    EXPECT_EQ(readAt<mach_msg_header_t>(request, 0).msgh_id, each.id);
    std::size_t at = sizeof(mach_msg_header_t);
    if (each.identity) {
      EXPECT_EQ(readAt<std::uint32_t>(request, at), 2u);
      EXPECT_EQ(readAt<mach_msg_port_descriptor_t>(request, at + 4).name, kThread);
      EXPECT_EQ(readAt<mach_msg_port_descriptor_t>(request, at + 16).name, kTask);
      at += 28;
    }
    at += sizeof(NDR_record_t);
    EXPECT_EQ(readAt<exception_type_t>(request, at), EXC_BAD_ACCESS);
    EXPECT_EQ(readAt<std::uint32_t>(request, at + 4), 2u);
    at += 8;
    if (each.wide) {
      EXPECT_EQ(readAt<std::int64_t>(request, at + 8), 0x100000000dead);
      at += 16;
    } else {
      EXPECT_EQ(readAt<std::int32_t>(request, at + 4), 0xdead);  // cut to 32 bits
      at += 8;
    }
    if (each.state) {
      EXPECT_EQ(readAt<thread_state_flavor_t>(request, at), x86_THREAD_STATE);
      EXPECT_EQ(readAt<std::uint32_t>(request, at + 4), 3u);
      EXPECT_EQ(readAt<std::uint32_t>(request, at + 16), 33u);
      at += 8 + 12;
    }
    EXPECT_EQ(request.size(), at) << each.id;
  }
}

TEST(ExceptionForwardingTest, WithoutAHandlerThatTakesTheExceptionForwardingFails) {
  SimMachKernel kernel;
  const mach_port_t handler = newPort(kernel);
  tlcrash_mach_exception_port_record previous;
  previous.count = 2;
  previous.ports[0] = handler;
  previous.masks[0] = EXC_MASK_BREAKPOINT;
  previous.behaviors[0] = EXCEPTION_DEFAULT;
  previous.ports[1] = MACH_PORT_DEAD;
  previous.masks[1] = EXC_MASK_BAD_ACCESS;
  const mach_exception_data_type_t codes[] = {1, 2, 3};
  // No live port covers bad access.
  EXPECT_EQ(
      tlcrash_mach_exception_forward(kernel, kTask, kThread, EXC_BAD_ACCESS, codes, 2, previous),
      KERN_FAILURE);
  // More codes than a request carries.
  EXPECT_EQ(
      tlcrash_mach_exception_forward(kernel, kTask, kThread, EXC_BREAKPOINT, codes, 3, previous),
      MIG_ARRAY_TOO_LARGE);
  // An unknown behavior, and a state behavior without the thread's state.
  previous.behaviors[0] = 9;
  EXPECT_EQ(
      tlcrash_mach_exception_forward(kernel, kTask, kThread, EXC_BREAKPOINT, codes, 2, previous),
      KERN_FAILURE);
  previous.behaviors[0] = EXCEPTION_STATE;
  previous.flavors[0] = x86_THREAD_STATE;
  EXPECT_EQ(
      tlcrash_mach_exception_forward(kernel, kTask, kThread, EXC_BREAKPOINT, codes, 2, previous),
      KERN_INVALID_ARGUMENT);
}

// What the reporter's Mach crash callback does: forward to the previous
// ports, and report the exception as a signal only when none handled it.
struct Crash {
  SimMachKernel* kernel = nullptr;
  tlcrash_mach_exception_port_record previous;
  int calls = 0;
  mach_port_t task = 0;
  mach_port_t thread = 0;
  mach_msg_type_number_t code_count = 0;
  tlcrash_mach_signal_info signal;
};

kern_return_t onException(mach_port_t task, mach_port_t thread, exception_type_t type,
                          const mach_exception_data_type_t* codes,
                          mach_msg_type_number_t code_count, void* context) {
  auto* crash = static_cast<Crash*>(context);
  ++crash->calls;
  crash->task = task;
  crash->thread = thread;
  crash->code_count = code_count;
  if (tlcrash_mach_exception_forward(*crash->kernel, task, thread, type, codes, code_count,
                                     crash->previous) == KERN_SUCCESS)
    return KERN_SUCCESS;
  if (!tlcrash_mach_exception_to_signal(type, codes, code_count, &crash->signal))
    return KERN_FAILURE;
  return KERN_FAILURE;
}

class ExceptionServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    crash_.kernel = &kernel_;
    server_ = TLCrashMachExceptionServer::make(kernel_, onException, &crash_, &error_);
    ASSERT_NE(server_, nullptr);
    reply_ = newPort(kernel_);
  }

  // Sends an exception request of `size` bytes (the first 84 a well-formed
  // request) and answers the reply, or nothing when none came.
  std::optional<tlcrash_mach_exception_reply> raise(exception_type_t type,
                                                    mach_exception_data_type_t first,
                                                    std::size_t size = 84) {
    std::vector<std::uint8_t> message(std::max<std::size_t>(size, 84), 0);
    tlcrash_mach_exception_request request{};
    request.head.msgh_bits = MACH_MSG_TYPE_COPY_SEND | MACH_MSGH_BITS_COMPLEX;
    request.head.msgh_size = static_cast<std::uint32_t>(size);
    request.head.msgh_remote_port = server_->serverPort();
    request.head.msgh_local_port = reply_;
    request.head.msgh_id = kMachExceptionRaiseId;
    request.descriptor_count = 2;
    request.thread.name = kThread;
    request.task.name = kTask;
    request.exception = type;
    request.code_count = 2;
    request.code[0] = first;
    request.code[1] = 0xbad0;
    std::memcpy(message.data(), &request, sizeof request);
    if (kernel_.send(message.data(), size) != MACH_MSG_SUCCESS) return std::nullopt;
    tlcrash_mach_exception_reply reply{};
    std::size_t replySize = sizeof reply;
    if (kernel_.receive(reply_, &reply, &replySize) != MACH_MSG_SUCCESS) return std::nullopt;
    EXPECT_EQ(replySize, 36u);
    return reply;
  }

  SimMachKernel kernel_;
  Crash crash_;
  ReporterError error_;
  std::unique_ptr<TLCrashMachExceptionServer> server_;
  mach_port_t reply_ = MACH_PORT_NULL;
};

TEST_F(ExceptionServerTest, ExceptionsReachTheCallbackAndItsResultIsTheReply) {
  EXPECT_NE(server_->serverThread(), 0);
  const auto reply = raise(EXC_BREAKPOINT, 1);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->head.msgh_id, kMachExceptionRaiseId + 100);
  EXPECT_EQ(reply->head.msgh_remote_port, reply_);
  EXPECT_EQ(reply->head.msgh_bits, MACH_MSG_TYPE_COPY_SEND);
  EXPECT_EQ(reply->ret_code, KERN_FAILURE);
  EXPECT_EQ(crash_.calls, 1);
  EXPECT_EQ(crash_.task, kTask);
  EXPECT_EQ(crash_.thread, kThread);
  EXPECT_EQ(crash_.code_count, 2u);
  EXPECT_EQ(crash_.signal.signo, SIGTRAP);
  EXPECT_EQ(crash_.signal.address, 0xbad0u);
}

TEST_F(ExceptionServerTest, ShortRequestsFailWithoutTheCallbackAndLongOnesAreReceived) {
  const auto shortReply = raise(EXC_BAD_ACCESS, 1, 83);
  ASSERT_TRUE(shortReply.has_value());
  EXPECT_EQ(shortReply->ret_code, KERN_FAILURE);
  EXPECT_EQ(shortReply->head.msgh_id, kMachExceptionRaiseId + 100);
  EXPECT_EQ(crash_.calls, 0);
  // Larger than the server's first buffer of one page.
  const auto longReply = raise(EXC_BAD_ACCESS, 1, 3 * 4096 + 10);
  ASSERT_TRUE(longReply.has_value());
  EXPECT_EQ(crash_.calls, 1);
  EXPECT_EQ(crash_.signal.signo, SIGSEGV);
  // The bigger buffer stays in use.
  ASSERT_TRUE(raise(EXC_ARITHMETIC, 1).has_value());
  EXPECT_EQ(crash_.signal.signo, SIGFPE);
}

TEST_F(ExceptionServerTest, ThePreviousHandlersGetTheExceptionFirst) {
  // An earlier handler (a debugger) for bad access; nothing for breakpoints.
  const mach_port_t debugger = newPort(kernel_);
  ASSERT_EQ(kernel_.swapExceptionPorts(kTask, EXC_MASK_BAD_ACCESS, debugger,
                                       EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, 0, nullptr),
            KERN_SUCCESS);
  auto registration = server_->exceptionPortWithMask(0x6E, &error_);
  ASSERT_TRUE(registration.has_value());
  EXPECT_EQ(registration->behavior(), EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES);
  EXPECT_EQ(registration->flavor(), x86_THREAD_STATE);
  std::optional<TLCrashMachExceptionPortSet> previous;
  ASSERT_TRUE(registration->registerForTask(kTask, &previous, &error_));
  crash_.previous = previous->asyncSafeRepresentation();

  Handler handled(kernel_, debugger, KERN_SUCCESS);
  const auto forwarded = raise(EXC_BAD_ACCESS, 1);
  handled.join();
  ASSERT_TRUE(forwarded.has_value());
  EXPECT_EQ(forwarded->ret_code, KERN_SUCCESS);
  EXPECT_EQ(crash_.signal.signo, 0);  // handled elsewhere: nothing to report
  EXPECT_FALSE(handled.request.empty());

  const auto reported = raise(EXC_BREAKPOINT, 1);
  ASSERT_TRUE(reported.has_value());
  EXPECT_EQ(reported->ret_code, KERN_FAILURE);
  EXPECT_EQ(crash_.signal.signo, SIGTRAP);
}

TEST_F(ExceptionServerTest, NoSendersIsIgnoredAndStoppingReleasesThePorts) {
  const mach_port_t serverPort = server_->serverPort();
  const mach_port_t notifyPort = server_->notifyPort();
  {
    auto registration = server_->exceptionPortWithMask(0x6E, &error_);
    ASSERT_TRUE(registration.has_value());
    EXPECT_EQ(kernel_.sendRefs(serverPort), 1);
  }
  // The last send right is gone: the notification is ignored.
  EXPECT_EQ(kernel_.sendRefs(serverPort), 0);
  ASSERT_TRUE(raise(EXC_BREAKPOINT, 1).has_value());
  EXPECT_EQ(crash_.calls, 1);

  server_.reset();
  tlcrash_mach_exception_request request{};
  request.head.msgh_remote_port = serverPort;
  EXPECT_EQ(kernel_.send(&request, sizeof request), MACH_SEND_INVALID_DEST);
  request.head.msgh_remote_port = notifyPort;
  EXPECT_EQ(kernel_.send(&request, sizeof request), MACH_SEND_INVALID_DEST);
}

}  // namespace
}  // namespace tlcrash
