#pragma once

// The core of every subscription: the sink that guards one observer.

#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "rx/observable.h"

namespace wendrix::rx {

namespace detail {

// One subscription at one step of a chain. It passes events on until the
// first stop event or disposal, then drops the observer (and with it the
// downstream closures) and disposes the upstream subscription.
// It is also the state of the subscription's handle and the receiver of the
// source's events, so that a subscription takes one allocation.
template <class T>
class Sink final : public Disposable::Target, public AnyObserver<T>::Receiver {
 public:
  explicit Sink(AnyObserver<T> observer) : observer_(std::move(observer)) {}

  // The source's events.
  void call(const Event<T>& event) override { on(event); }

  void on(const Event<T>& event) {
    if (stopped_) return;
    if (event.isNext()) {
      observer_.on(event);
      return;
    }
    stopped_ = true;
    AnyObserver<T> observer = std::move(observer_);
    observer_ = AnyObserver<T>();
    observer.on(event);
    disposeUpstream();
  }

  void dispose() {
    stopped_ = true;
    observer_ = AnyObserver<T>();
    disposeUpstream();
  }

  // The upstream subscription arrives once the source's subscribe handler
  // returned; when the sink stopped meanwhile it is disposed at once.
  void setUpstream(Disposable upstream) {
    if (stopped_) {
      upstream.dispose();
    } else {
      upstream_ = std::move(upstream);
    }
  }

 protected:
  void disposeOnce() override { dispose(); }

 private:
  void disposeUpstream() {
    Disposable upstream = std::move(upstream_);
    upstream_ = Disposable();
    upstream.dispose();
  }

  AnyObserver<T> observer_;
  Disposable upstream_;
  bool stopped_ = false;
};

// A subscription whose observer is a callable given to `subscribe`: the
// callable lives in the sink itself, so that the subscription takes one
// allocation. No copies of that observer exist, so it is released as the
// sink's observer is: at the first stop event or disposal, but never while
// it runs.
template <class T, class F>
class CallableSink final : public Disposable::Target, public AnyObserver<T>::Receiver {
 public:
  explicit CallableSink(F handler) : handler_(std::in_place, std::move(handler)) {}

  void call(const Event<T>& event) override {
    if (stopped_) return;
    if (!event.isNext()) stopped_ = true;
    ++running_;
    (*handler_)(event);
    --running_;
    if (!event.isNext()) disposeUpstream();
    releaseIfStopped();
  }

  void setUpstream(Disposable upstream) {
    if (stopped_) {
      upstream.dispose();
    } else {
      upstream_ = std::move(upstream);
    }
  }

 protected:
  void disposeOnce() override {
    stopped_ = true;
    releaseIfStopped();
    disposeUpstream();
  }

 private:
  // Drops the handler once stopped, unless it is still running.
  void releaseIfStopped() {
    if (stopped_ && running_ == 0) handler_.reset();
  }
  void disposeUpstream() {
    Disposable upstream = std::move(upstream_);
    upstream_ = Disposable();
    upstream.dispose();
  }

  std::optional<F> handler_;
  Disposable upstream_;
  int running_ = 0;
  bool stopped_ = false;
};

// The observer of one step of an operator, `handler(event)`, to hand to
// `Observable<T>::subscribe`.
template <class T, class F>
struct ObserverCallable {
  F handler;
};

template <class T, class F>
ObserverCallable<T, std::decay_t<F>> observer(F&& handler) {
  return ObserverCallable<T, std::decay_t<F>>{std::forward<F>(handler)};
}

// A stream that emits `values` and completes.
template <class T>
Observable<T> fromVector(std::vector<T> values) {
  return Observable<T>([values = std::move(values)](const AnyObserver<T>& o) {
    for (const auto& v : values)
      o.onNext(v);
    o.onCompleted();
    return Disposable();
  });
}

}  // namespace detail

template <class T>
Disposable Observable<T>::subscribe(AnyObserver<T> observer) const {
  auto handler = subscribe_;
  auto sink = std::make_shared<detail::Sink<T>>(std::move(observer));
  sink->setUpstream(
      handler->subscribe(AnyObserver<T>(std::shared_ptr<typename AnyObserver<T>::Receiver>(sink))));
  return Disposable::of(sink);
}

template <class T>
template <class F>
Disposable Observable<T>::subscribe(detail::ObserverCallable<T, F> observer) const {
  auto handler = subscribe_;
  auto sink = std::make_shared<detail::CallableSink<T, F>>(std::move(observer.handler));
  sink->setUpstream(
      handler->subscribe(AnyObserver<T>(std::shared_ptr<typename AnyObserver<T>::Receiver>(sink))));
  return Disposable::of(sink);
}

template <class T>
Disposable Observable<T>::subscribe(std::function<void(const T&)> onNext,
                                    std::function<void(const Error&)> onError,
                                    std::function<void()> onCompleted) const {
  return subscribe(detail::observer<T>([onNext = std::move(onNext), onError = std::move(onError),
                                        onCompleted = std::move(onCompleted)](const Event<T>& e) {
    if (e.isNext()) {
      if (onNext) onNext(e.element());
    } else if (e.isError()) {
      if (onError) onError(e.error());
    } else if (onCompleted) {
      onCompleted();
    }
  }));
}

template <class T>
template <class F>
requires std::invocable<F&, const T&> Disposable Observable<T>::subscribeNext(F onNext)
const {
  return subscribe(detail::observer<T>([onNext = std::move(onNext)](const Event<T>& e) mutable {
    if (e.isNext()) onNext(e.element());
  }));
}

template <class T>
Observable<T> Observable<T>::just(T value) {
  return Observable([value = std::move(value)](const AnyObserver<T>& o) {
    o.onNext(value);
    o.onCompleted();
    return Disposable();
  });
}

template <class T>
Observable<T> Observable<T>::empty() {
  return Observable([](const AnyObserver<T>& o) {
    o.onCompleted();
    return Disposable();
  });
}

template <class T>
Observable<T> Observable<T>::never() {
  return Observable([](const AnyObserver<T>&) { return Disposable(); });
}

template <class T>
Observable<T> Observable<T>::error(Error error) {
  return Observable([error = std::move(error)](const AnyObserver<T>& o) {
    o.onError(error);
    return Disposable();
  });
}

template <class T>
template <class F>
Observable<T> Observable<T>::deferred(F factory) {
  return Observable([factory = std::move(factory)](const AnyObserver<T>& o) mutable {
    return Observable(factory()).subscribe(o);
  });
}

}  // namespace wendrix::rx
