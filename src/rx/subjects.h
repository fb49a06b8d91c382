#pragma once

// Subjects: streams that the program feeds by hand. Both deliver inside the
// emitting call, to the observers subscribed at that moment, in subscription
// order. Subscribing, disposing and emitting again from inside a delivery is
// safe: an observer disposed meanwhile gets nothing more, and a nested
// emission follows the current one. Copies of a subject share one subject.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/result.h"
#include "rx/observable.h"

namespace wendrix::rx {

namespace detail {

template <class T>
struct SubjectCore {
  struct Pending {
    Event<T> event;
    std::vector<AnyObserver<T>> targets;
  };

  std::map<std::uint64_t, AnyObserver<T>> observers;
  std::uint64_t nextKey = 0;
  std::optional<Event<T>> stop;
  std::deque<Pending> pending;
  bool delivering = false;

  std::vector<AnyObserver<T>> snapshot() const {
    std::vector<AnyObserver<T>> result;
    result.reserve(observers.size());
    for (const auto& [key, o] : observers)
      result.push_back(o);
    return result;
  }

  // Delivers `e` to the observers subscribed now; a stop event ends the
  // subject. An event emitted from inside a delivery is delivered right after
  // it, so that every observer sees the events in the order they were
  // emitted and ends with the latest one.
  void deliver(const Event<T>& e) {
    if (delivering) {
      pending.push_back(Pending{e, snapshot()});
      if (e.isStopEvent()) {
        stop = e;
        observers.clear();
      }
      return;
    }
    // The outermost emission goes out at once; only nested ones queue.
    Pending current{e, snapshot()};
    if (e.isStopEvent()) {
      stop = e;
      observers.clear();
    }
    delivering = true;
    for (const auto& o : current.targets)
      o.on(current.event);
    while (!pending.empty()) {
      Pending next = std::move(pending.front());
      pending.pop_front();
      for (const auto& o : next.targets)
        o.on(next.event);
    }
    delivering = false;
  }

  template <class Core>
  static Disposable add(const std::shared_ptr<Core>& core, const AnyObserver<T>& o) {
    const std::uint64_t key = core->nextKey++;
    core->observers.emplace(key, o);
    std::weak_ptr<Core> weak = core;
    return Disposable([weak, key] {
      if (auto c = weak.lock()) c->observers.erase(key);
    });
  }
};

}  // namespace detail

// Passes each event on to the current observers; replays nothing but the
// stop event to observers that come after it.
template <class T>
class PublishSubject {
 public:
  PublishSubject() : core_(std::make_shared<detail::SubjectCore<T>>()) {}

  void on(const Event<T>& e) const {
    if (!core_->stop) core_->deliver(e);
  }
  void onNext(T value) const { on(Event<T>::next(std::move(value))); }
  void onError(Error error) const { on(Event<T>::error(std::move(error))); }
  void onCompleted() const { on(Event<T>::completed()); }

  bool hasObservers() const { return !core_->observers.empty(); }

  Observable<T> asObservable() const {
    return Observable<T>([core = core_](const AnyObserver<T>& o) {
      if (core->stop) {
        o.on(*core->stop);
        return Disposable();
      }
      return detail::SubjectCore<T>::add(core, o);
    });
  }
  AnyObserver<T> asObserver() const {
    return AnyObserver<T>([core = core_](const Event<T>& e) { PublishSubject(core).on(e); });
  }

  template <class... A>
  Disposable subscribe(A&&... args) const {
    return asObservable().subscribe(std::forward<A>(args)...);
  }

 private:
  explicit PublishSubject(std::shared_ptr<detail::SubjectCore<T>> core) : core_(std::move(core)) {}

  std::shared_ptr<detail::SubjectCore<T>> core_;
};

// Holds a current value: each new observer gets it at once, then every later
// value. After a stop event, new observers get only that event.
template <class T>
class BehaviorSubject {
 public:
  explicit BehaviorSubject(T value) : core_(std::make_shared<Core>(std::move(value))) {}

  void on(const Event<T>& e) const {
    if (core_->stop) return;
    if (e.isNext()) core_->value = e.element();
    core_->deliver(e);
  }
  void onNext(T value) const { on(Event<T>::next(std::move(value))); }
  void onError(Error error) const { on(Event<T>::error(std::move(error))); }
  void onCompleted() const { on(Event<T>::completed()); }

  // The current value; the error when the subject failed.
  base::Result<T> value() const {
    if (core_->stop && core_->stop->isError()) return core_->stop->error();
    return core_->value;
  }
  bool hasObservers() const { return !core_->observers.empty(); }

  Observable<T> asObservable() const {
    return Observable<T>([core = core_](const AnyObserver<T>& o) {
      if (core->stop) {
        o.on(*core->stop);
        return Disposable();
      }
      T current = core->value;
      Disposable d = detail::SubjectCore<T>::add(core, o);
      o.onNext(std::move(current));
      return d;
    });
  }
  AnyObserver<T> asObserver() const {
    return AnyObserver<T>([core = core_](const Event<T>& e) { BehaviorSubject(core).on(e); });
  }

  template <class... A>
  Disposable subscribe(A&&... args) const {
    return asObservable().subscribe(std::forward<A>(args)...);
  }

 private:
  struct Core : detail::SubjectCore<T> {
    explicit Core(T v) : value(std::move(v)) {}
    T value;
  };

  explicit BehaviorSubject(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  std::shared_ptr<Core> core_;
};

}  // namespace wendrix::rx
