#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace wendrix::rx {

class DisposeBag;

// A handle on something to cancel or release: a subscription, a timer. Copies
// share one state; `dispose()` runs the action at most once, and the action is
// released at that moment. A default-made handle does nothing.
class Disposable {
 public:
  // An object that is its own disposal state, so that it and the handle's
  // state share one allocation: `dispose()` calls `disposeOnce()` the first
  // time. Made into a handle with `Disposable::of`.
  class Target {
   public:
    virtual ~Target() = default;

   protected:
    Target() = default;
    virtual void disposeOnce() = 0;

   private:
    friend class Disposable;
    bool disposed_ = false;
  };

  Disposable() = default;
  explicit Disposable(std::function<void()> action);
  // Keeps the callable and the state in one allocation.
  template <class F>
  requires(!std::same_as<std::decay_t<F>, Disposable> &&
           !std::same_as<std::decay_t<F>, std::function<void()>> &&
           std::invocable<std::decay_t<F>&>) explicit Disposable(F&& action)
      : state_(std::make_shared<Action<std::decay_t<F>>>(std::forward<F>(action))) {}

  static Disposable of(std::shared_ptr<Target> target) { return Disposable(std::move(target)); }

  void dispose() const;
  bool isDisposed() const { return state_ && state_->disposed_; }

  // Hands this disposable to `bag`, which disposes it when it is destroyed.
  void disposed(DisposeBag& bag) const;

 private:
  template <class F>
  struct Action final : Target {
    explicit Action(F f) : action(std::move(f)) {}
    // Releases the action, then runs it.
    void disposeOnce() override {
      F local = std::move(*action);
      action.reset();
      if constexpr (std::is_same_v<F, std::function<void()>>) {
        if (local) local();
      } else {
        local();
      }
    }
    std::optional<F> action;
  };

  explicit Disposable(std::shared_ptr<Target> target) : state_(std::move(target)) {}

  std::shared_ptr<Target> state_;
};

struct Disposables {
  // A disposable without an action.
  static Disposable create() { return Disposable(std::function<void()>()); }
  // A disposable that runs `action` when first disposed.
  static Disposable create(std::function<void()> action) { return Disposable(std::move(action)); }
};

// A group of disposables disposed together. Once disposed, anything added is
// disposed at once. Copies share one group.
class CompositeDisposable {
 public:
  using Key = std::uint64_t;

  CompositeDisposable();

  // Adds `d`; gives its key, or nothing when the group was already disposed
  // (then `d` has been disposed).
  std::optional<Key> insert(Disposable d) const;
  // Disposes and drops the member with `key`, if it is still there.
  void remove(Key key) const;
  void dispose() const;
  bool isDisposed() const { return state_->disposed; }
  std::size_t count() const { return state_->members.size(); }
  Disposable asDisposable() const;

 private:
  // Also the state of the handles `asDisposable` gives.
  struct State final : Disposable::Target {
    void disposeOnce() override;

    // In key order: keys only grow.
    std::vector<std::pair<Key, Disposable>> members;
    Key nextKey = 0;
    bool disposed = false;
  };
  std::shared_ptr<State> state_;
};

namespace detail {

// The slot of a `SerialDisposable` without a handle of its own, for an
// operator to keep inside its own state so that the slot takes no
// allocation: setting a new disposable disposes the previous one; once
// disposed, anything set is disposed at once.
class SerialSlot {
 public:
  void set(Disposable d);
  void dispose();
  bool isDisposed() const { return disposed_; }

 private:
  Disposable current_;
  bool disposed_ = false;
};

}  // namespace detail

// Holds one disposable at a time: setting a new one disposes the previous
// one. Once disposed, anything set is disposed at once. Copies share one slot.
class SerialDisposable {
 public:
  SerialDisposable();

  void set(Disposable d) const;
  void dispose() const;
  bool isDisposed() const { return state_->slot.isDisposed(); }
  Disposable asDisposable() const;

 private:
  // Also the state of the handles `asDisposable` gives.
  struct State final : Disposable::Target {
    void disposeOnce() override { slot.dispose(); }

    detail::SerialSlot slot;
  };
  std::shared_ptr<State> state_;
};

// Owns subscriptions for the lifetime of an object: disposes everything it
// holds, in insertion order, when destroyed.
class DisposeBag {
 public:
  DisposeBag() = default;
  DisposeBag(const DisposeBag&) = delete;
  DisposeBag& operator=(const DisposeBag&) = delete;
  ~DisposeBag();

  void insert(Disposable d);
  std::size_t count() const { return items_.size(); }

 private:
  std::vector<Disposable> items_;
};

}  // namespace wendrix::rx
