#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dispatch/queue.h"
#include "dispatch/timer_heap.h"

namespace dispatch {

class MainLoop;
struct WatchRegistry;

// Keeps an fd watch alive; `cancel()` or destruction removes it. Once removed
// from the loop's thread, its callback is not called again. Move-only; it may
// outlive the loop.
class WatchHandle {
 public:
  WatchHandle() = default;
  WatchHandle(WatchHandle&& other) noexcept;
  WatchHandle& operator=(WatchHandle&& other) noexcept;
  WatchHandle(const WatchHandle&) = delete;
  WatchHandle& operator=(const WatchHandle&) = delete;
  ~WatchHandle() { cancel(); }

  void cancel();
  bool active() const;

 private:
  friend class MainLoop;
  WatchHandle(std::weak_ptr<WatchRegistry> registry, std::uint64_t id)
      : registry_(std::move(registry)), id_(id) {}

  std::weak_ptr<WatchRegistry> registry_;
  std::uint64_t id_ = 0;
};

// The event loop of the main thread: posted tasks, timers on the steady clock
// and fd watches, multiplexed with poll(2). Everything runs on the thread that
// calls run().
//
// Thread safety: async()/post(), after(), quit() and TimerHandle::cancel() may
// be called from any thread. watch() and WatchHandle are meant for the loop's
// own thread (they are guarded, but a callback already running on the loop
// may still be in progress when another thread removes its watch).
//
// Order: posted tasks run in the order posted. A timer joins the end of that
// queue when the loop finds it due (equal due times in the order set),
// so it never runs before its time and posted work cannot starve it. Each
// pass runs the tasks queued when the pass began, then polls, so a task that
// keeps reposting itself does not starve fd watches either.
//
// Quitting: quit() ends run() once every task already queued when quit() was
// called has run (no posted task handed over before quit() is lost). Tasks
// queued after it, and timers that had not yet joined the queue, stay pending
// for a later run(); whatever is still pending when the loop is destroyed is
// destroyed without running.
class MainLoop final : public Queue {
 public:
  // Events of watch(): what to wait for, and what a callback is told.
  static constexpr unsigned kReadable = 1u << 0;
  static constexpr unsigned kWritable = 1u << 1;
  // Delivered only: the peer hung up (read what is left, then expect EOF).
  static constexpr unsigned kHangup = 1u << 2;
  // Delivered only: an error on the fd. When the fd is not open at all the
  // watch is removed after this one call, since polling it again would spin.
  static constexpr unsigned kError = 1u << 3;

  using WatchCallback = std::function<void(unsigned events)>;

  // Fails only when the wake-up eventfd cannot be made.
  static base::Result<std::unique_ptr<MainLoop>> create();
  ~MainLoop() override;
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  void async(Task task) override;
  void post(Task task) { async(std::move(task)); }
  TimerHandle after(Duration delay, Task task) override;
  const Clock& clock() const override;

  // Watches `fd` for `events` (kReadable and/or kWritable); the callback runs
  // on the loop each time poll reports the fd. Watches are polled in the
  // order they were added. The loop does not own `fd`.
  [[nodiscard]] WatchHandle watch(int fd, unsigned events, WatchCallback callback);

  // Runs on the calling thread until quit(). Not reentrant: a nested call
  // returns at once.
  void run();
  // Runs until `done()` holds (checked before starting and after each task or
  // callback), quit() is called or `timeout` passes. Returns `done()`.
  bool runUntil(const std::function<bool()>& done, Duration timeout);
  void quit();

  // Hosting: another event loop on this thread (the UI toolkit's) runs this
  // one instead of run(). Once hosted, every post, timer and watch change
  // (from any thread) makes the wake fd readable; the host waits for the fds
  // and the time `runPending` names and calls it again when any is ready.
  void setHosted();
  struct HostWaits {
    // The fds to wait for, with the kReadable/kWritable events; the wake fd first.
    std::vector<std::pair<int, unsigned>> fds;
    // When the next timer falls due; none without timers.
    std::optional<SteadyTime> nextTimer;
    // Tasks are queued already: call again at once (after the host's own events).
    bool busy = false;
    // quit() was called and the tasks queued before it have run.
    bool quit = false;
  };
  // One pass without blocking: the timers now due and the tasks queued now
  // run, then the callbacks of watches that are ready. Returns what to wait for.
  HostWaits runPending();

  // True on the thread that runs the loop (before the first run(): the thread
  // that made it).
  bool isCurrentThread() const { return owner_.load() == std::this_thread::get_id(); }

 private:
  struct Posted {
    std::uint64_t sequence;
    Task task;
  };

  enum class QuitState { none, draining, done };

  explicit MainLoop(int wakeFd);
  // Returns whether `done` stopped the loop.
  bool loop(const std::function<bool()>* done, std::optional<SteadyTime> deadline);
  // Runs the timers due and the tasks queued at the start; true when `done`
  // held after one of them.
  bool runQueued(const std::function<bool()>& satisfied);
  // Polls the wake fd and the watches for at most `timeout` (none: no limit)
  // and runs the callbacks of those ready; true when `done` held after one.
  bool pollWatches(const timespec* timeout, const std::function<bool()>& satisfied);
  // Whether tasks are queued, and when the next timer falls due.
  std::pair<bool, std::optional<SteadyTime>> nextWork();
  // Posts and timers set on the loop's own thread need no wake-up unless hosted.
  void wakeIfNeeded() {
    if (hosted_.load(std::memory_order_relaxed) || !isCurrentThread()) wake();
  }
  // Pops the next task to run; nothing when the queue is empty or a pending
  // quit leaves only tasks queued after it.
  std::optional<Task> popRunnable();
  // Where a pending quit stands; `done` consumes the request.
  QuitState quitState();
  void wake();
  void drainWakeFd();

  const int wakeFd_;
  std::atomic<std::thread::id> owner_;
  std::atomic<bool> running_{false};
  std::atomic<bool> hosted_{false};
  std::shared_ptr<WatchRegistry> watches_;

  std::mutex mutex_;  // guards everything below
  std::deque<Posted> posted_;
  TimerHeap timers_;
  std::uint64_t sequence_ = 0;
  bool quitRequested_ = false;
  std::uint64_t quitBefore_ = 0;  // tasks with a lower sequence run before quitting
};

}  // namespace dispatch
