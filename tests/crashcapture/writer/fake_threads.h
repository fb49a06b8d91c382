#pragma once

// Threads of a fake task for the report writer: each with a register state
// (or none) whose frame-pointer chain lies in a FakeTask.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "crashcapture/capture/writer/thread_source.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/thread_state.h"

namespace tlcrash::test {

class FakeThreadSource final : public TLCrashThreadSource {
 public:
  struct Thread {
    tlcrash_thread_t id = 0;
    std::optional<tlcrash_async_thread_state> state;
  };

  std::vector<Thread> threads;
  tlcrash_thread_t self = 0;
  int suspended = 0;
  int resumed = 0;

  void suspendAll() noexcept override { ++suspended; }
  void resumeAll() noexcept override { ++resumed; }
  std::size_t threadCount() const noexcept override { return threads.size(); }
  tlcrash_thread_t threadAt(std::size_t index) const noexcept override { return threads[index].id; }
  bool threadStateAt(std::size_t index, tlcrash_async_thread_state* state) const noexcept override {
    if (!threads[index].state) return false;
    *state = *threads[index].state;
    return true;
  }
  tlcrash_thread_t selfThread() const noexcept override { return self; }
};

// A stack in `task` at `base` whose frame-pointer chain returns to `callers`
// in turn, and a state at `pc` on it with every register valid: register n
// holds `seed` + n where it is not the instruction, frame or stack pointer.
inline tlcrash_async_thread_state makeStack(FakeTask& task, std::uint64_t base, std::uint64_t pc,
                                            const std::vector<std::uint64_t>& callers,
                                            std::uint64_t seed) {
  // Frame k's record (saved frame pointer, return address) sits at base + 16k.
  std::vector<std::uint8_t> bytes((callers.size() + 1) * 16, 0);
  auto put = [&](std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
      bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  for (std::size_t k = 0; k < callers.size(); ++k) {
    put(16 * k, base + 16 * (k + 1));
    put(16 * k + 8, callers[k]);
  }
  task.map(base, bytes);
  tlcrash_mcontext64 context{};
  auto* regs = reinterpret_cast<std::uint64_t*>(&context.ss);
  for (int i = 0; i < TLCRASH_X86_THREAD_STATE64_COUNT / 2; ++i)
    regs[i] = seed + static_cast<std::uint64_t>(i);
  context.ss.rip = pc;
  context.ss.rbp = base;
  context.ss.rsp = base - 32;
  tlcrash_async_thread_state state;
  tlcrash_async_thread_state_mcontext_init(&state, &context);
  return state;
}

}  // namespace tlcrash::test
