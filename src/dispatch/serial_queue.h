#pragma once

#include <memory>
#include <string>
#include <thread>

#include "dispatch/queue.h"

namespace dispatch {

// A queue backed by one worker thread: tasks run one at a time, in the order
// queued; delayed tasks join the end of the queue when they fall due (steady
// clock). Every member may be called from any thread. Tasks must not throw.
//
// Destruction stops accepting work (later async() calls drop their task,
// later sync() calls return false), cancels the pending timers, runs the tasks
// already queued and joins the worker. When the last owner lets go of the
// queue inside one of its own tasks, the worker cannot join itself: it is
// detached and still runs the queued tasks after the destructor returns.
class SerialQueue final : public Queue {
 public:
  // `label` names the worker thread (its first 15 bytes) for debuggers and
  // crash reports.
  explicit SerialQueue(std::string label = "dispatch.serial");
  ~SerialQueue() override;
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void async(Task task) override;
  TimerHandle after(Duration delay, Task task) override;
  const Clock& clock() const override;

  // Runs `task` on the queue after the tasks already queued and waits for it.
  // Called from the queue's own thread it runs the task inline instead of
  // waiting on itself. Returns false, without running the task, once the
  // queue is being destroyed.
  bool sync(Task task);

  // What destruction does, ahead of it: stops accepting work, cancels the
  // pending timers, runs the tasks already queued and joins the worker (from
  // one of the queue's own tasks: lets it end by itself). Idempotent. For a
  // queue that lives to the end of the process, so that its thread has
  // ended before static objects are destroyed.
  void stop();

  bool isCurrentThread() const { return std::this_thread::get_id() == workerId_; }
  const std::string& label() const { return label_; }

 private:
  struct State;
  static void work(std::shared_ptr<State> state);

  const std::string label_;
  std::shared_ptr<State> state_;  // shared with the worker, which may outlive this object
  std::thread worker_;
  std::thread::id workerId_;
};

}  // namespace dispatch
