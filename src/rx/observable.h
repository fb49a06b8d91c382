#pragma once

// Streams of values over time, single-threaded and synchronous: subscribing
// runs the source at once, and each event is delivered inside the call that
// produced it. A subscription ends at its first error or completion, or when
// disposed; from then on nothing more is delivered, and it releases its
// upstream subscriptions and the closures it held.

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "dispatch/clock.h"
#include "rx/disposable.h"
#include "rx/event.h"
#include "rx/observer.h"
#include "rx/scheduler.h"

namespace wendrix::rx {

template <class T>
class Observable;
template <class T>
class Single;

// How long `share` keeps its replay buffer: one buffer per connection, or one
// for the whole life of the shared stream.
enum class SubjectLifetimeScope { whileConnected, forever };

// Side effects for `doOn`; any of them may be left empty.
template <class T>
struct ObservableHandlers {
  std::function<void(const T&)> onNext = nullptr;
  std::function<void(const Error&)> onError = nullptr;
  std::function<void()> onCompleted = nullptr;
  // Runs at each subscription, before the source is subscribed.
  std::function<void()> onSubscribe = nullptr;
  // Runs when the subscription ends (disposal, or after its stop event).
  std::function<void()> onDispose = nullptr;
};

namespace detail {

template <class T>
Observable<T> toObservable(const Observable<T>& o) {
  return o;
}
template <class T>
Observable<T> toObservable(const Single<T>& s);

// The element type of a stream-like result (Observable or Single).
template <class R>
using StreamElement = typename decltype(toObservable(std::declval<R>()))::Element;

// An operator step's observer; see sink.h.
template <class T, class F>
struct ObserverCallable;

template <class F, class T>
using Mapped = std::decay_t<std::invoke_result_t<F&, const T&>>;

}  // namespace detail

template <class T>
class Observable {
 public:
  using Element = T;
  using SubscribeHandler = std::function<Disposable(const AnyObserver<T>&)>;

  // A stream whose subscription runs `subscribe` with the observer and
  // disposes the returned disposable when it ends.
  explicit Observable(SubscribeHandler subscribe)
      : subscribe_(std::make_shared<const Subscriber<SubscribeHandler>>(std::move(subscribe))) {}
  // Keeps the callable and its shared count in one allocation.
  template <class F>
  requires(!std::same_as<std::decay_t<F>, SubscribeHandler> &&
           !std::same_as<std::decay_t<F>, Observable> &&
           std::is_invocable_r_v<Disposable, std::decay_t<F>&,
                                 const AnyObserver<T>&>) explicit Observable(F&& subscribe)
      : subscribe_(
            std::make_shared<const Subscriber<std::decay_t<F>>>(std::forward<F>(subscribe))) {}

  static Observable create(SubscribeHandler subscribe) { return Observable(std::move(subscribe)); }
  static Observable just(T value);
  static Observable empty();
  static Observable never();
  static Observable error(Error error);
  // Calls `factory` at each subscription and subscribes to its result.
  template <class F>
  static Observable deferred(F factory);
  // Subscribes to all sources at once, in list order; completes when all
  // have completed and fails at the first error.
  static Observable merge(std::vector<Observable> sources);
  // Subscribes to each source after the previous one completed.
  static Observable concat(std::vector<Observable> sources);

  Disposable subscribe(AnyObserver<T> observer) const;
  // Keeps the callable in the subscription's own state: one allocation.
  template <class F>
  Disposable subscribe(detail::ObserverCallable<T, F> observer) const;
  Disposable subscribe(std::function<void(const T&)> onNext = {},
                       std::function<void(const Error&)> onError = {},
                       std::function<void()> onCompleted = {}) const;
  // Calls `onNext` with each element; an error or completion ends the
  // subscription quietly. The callable lives in the subscription itself.
  template <class F>
  requires std::invocable<F&, const T&> Disposable subscribeNext(F onNext)
  const;

  template <class F>
  Observable<detail::Mapped<F, T>> map(F f) const;
  // Maps to an optional and passes only the present values.
  template <class F>
  Observable<typename detail::Mapped<F, T>::value_type> compactMap(F f) const;
  template <class F>
  Observable filter(F predicate) const;
  template <class F>
  Observable skipWhile(F predicate) const;
  // The first `count` elements, then completion (and the upstream is
  // disposed).
  Observable take(std::size_t count) const;
  // The first element, or none when the stream completes empty.
  Single<std::optional<T>> first() const;
  // Succeeds with the only element once the stream completes; fails with
  // RxError noElements or moreThanOneElement otherwise.
  Single<T> asSingle() const;
  // Passes the only element at once; fails as `asSingle` does.
  Observable single() const;
  Observable concat(Observable next) const;
  template <class... V>
  Observable startWith(V&&... values) const;
  // Multicasts one subscription of this stream to all subscribers and
  // replays the last `replay` elements to each new one. whileConnected: the
  // source is subscribed while there are subscribers; after all left, or
  // after the source ended, the next subscriber starts a new connection with
  // an empty buffer. forever: one buffer for the whole life of the stream; a
  // late subscriber gets the buffered elements and then the stop event, if
  // the source has ended (which is never subscribed again).
  Observable share(std::size_t replay = 0,
                   SubjectLifetimeScope scope = SubjectLifetimeScope::whileConnected) const;
  Observable distinctUntilChanged() const requires std::equality_comparable<T>;
  Observable distinctUntilChanged(std::function<bool(const T&, const T&)> equal) const;
  // Maps each element to a stream and follows only the latest one: a new
  // element disposes the previous inner subscription, timers included.
  template <class F>
  Observable<detail::StreamElement<std::invoke_result_t<F&, const T&>>> flatMapLatest(F f) const;
  // Maps each element to a stream and runs those streams one after another,
  // each once the previous one completed.
  template <class F>
  Observable<detail::StreamElement<std::invoke_result_t<F&, const T&>>> concatMap(F f) const;
  Observable doOn(ObservableHandlers<T> handlers) const;
  // Hands on each element and the completion `d` later; an error goes on at
  // once. Disposal cancels what is pending.
  Observable delay(dispatch::Duration d, Scheduler& scheduler) const;
  // Subscribes to this stream `d` after the subscription.
  Observable delaySubscription(dispatch::Duration d, Scheduler& scheduler) const;
  // Every event as an element; the stream then completes.
  Observable<Event<T>> materialize() const;
  // On error, continues with the stream `handler` gives for it.
  template <class F>
  Observable catchError(F handler) const;
  Observable catchErrorJustReturn(T value) const;

  Observable asObservable() const { return *this; }

 private:
  struct SubscriberBase {
    virtual ~SubscriberBase() = default;
    virtual Disposable subscribe(const AnyObserver<T>& observer) const = 0;
  };
  template <class F>
  struct Subscriber final : SubscriberBase {
    explicit Subscriber(F body) : f(std::move(body)) {}
    Disposable subscribe(const AnyObserver<T>& observer) const override { return f(observer); }
    // Called as a std::function would call it: as a non-const lvalue.
    mutable F f;
  };

  std::shared_ptr<const SubscriberBase> subscribe_;
};

}  // namespace wendrix::rx

#include "rx/detail/basic_ops.h"
#include "rx/detail/combining_ops.h"
#include "rx/detail/share_op.h"
#include "rx/detail/sink.h"
#include "rx/detail/time_ops.h"
#include "rx/single.h"
