#pragma once

// Single: a stream of exactly one element or an error.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/result.h"
#include "rx/observable.h"

namespace wendrix::rx {

// Side effects for `Single::doOn`; any of them may be left empty.
template <class T>
struct SingleHandlers {
  std::function<void(const T&)> onSuccess = nullptr;
  std::function<void(const Error&)> onError = nullptr;
  // Runs at each subscription, before the source is subscribed.
  std::function<void()> onSubscribe = nullptr;
};

template <class T>
class Single {
 public:
  using Element = T;
  // Receives the one result of a Single made by `create`; later calls are
  // ignored.
  using SingleObserver = std::function<void(base::Result<T>)>;

  static Single create(std::function<Disposable(const SingleObserver&)> subscribe);
  static Single just(T value) { return Single(Observable<T>::just(std::move(value))); }
  static Single error(Error error) { return Single(Observable<T>::error(std::move(error))); }
  template <class F>
  static Single deferred(F factory);

  template <class F>
  Single<detail::Mapped<F, T>> map(F f) const {
    return Single<detail::Mapped<F, T>>(source_.map(std::move(f)));
  }
  // Continues with the Single that `f` makes from the value.
  template <class F>
  Single<typename std::invoke_result_t<F&, const T&>::Element> flatMap(F f) const {
    using U = typename std::invoke_result_t<F&, const T&>::Element;
    return Single<U>(
        source_.concatMap([f = std::move(f)](const T& v) mutable { return f(v).asObservable(); }));
  }
  Single doOn(SingleHandlers<T> handlers) const;
  template <class F>
  Single catchError(F handler) const {
    return Single(source_.catchError([handler = std::move(handler)](const Error& e) mutable {
      return Single(handler(e)).asObservable();
    }));
  }
  Single catchErrorJustReturn(T value) const {
    return Single(source_.catchErrorJustReturn(std::move(value)));
  }
  // Fails with RxError timeout unless the result came within `d` of the
  // subscription.
  Single timeout(dispatch::Duration d, Scheduler& scheduler) const {
    return timeout(d, Single::error(RxError::timeout()), scheduler);
  }
  // Switches to `other` unless the result came within `d` of the
  // subscription.
  Single timeout(dispatch::Duration d, Single other, Scheduler& scheduler) const;

  Observable<T> asObservable() const { return source_; }

  Disposable subscribe(std::function<void(const T&)> onSuccess = {},
                       std::function<void(const Error&)> onError = {}) const {
    return source_.subscribe(std::move(onSuccess), std::move(onError));
  }

 private:
  template <class>
  friend class Single;
  friend struct detail::SingleAccess;

  explicit Single(Observable<T> source) : source_(std::move(source)) {}

  Observable<T> source_;
};

namespace detail {

template <class T>
Observable<T> toObservable(const Single<T>& s) {
  return s.asObservable();
}

}  // namespace detail

template <class T>
Single<T> Single<T>::create(std::function<Disposable(const SingleObserver&)> subscribe) {
  return Single(Observable<T>([subscribe = std::move(subscribe)](const AnyObserver<T>& o) {
    return subscribe([o](base::Result<T> result) {
      if (result.ok()) {
        o.onNext(std::move(result).value());
        o.onCompleted();
      } else {
        o.onError(result.error());
      }
    });
  }));
}

template <class T>
template <class F>
Single<T> Single<T>::deferred(F factory) {
  return Single(Observable<T>::deferred(
      [factory = std::move(factory)]() mutable { return Single(factory()).asObservable(); }));
}

template <class T>
Single<T> Single<T>::doOn(SingleHandlers<T> handlers) const {
  return Single(source_.doOn(ObservableHandlers<T>{.onNext = std::move(handlers.onSuccess),
                                                   .onError = std::move(handlers.onError),
                                                   .onCompleted = {},
                                                   .onSubscribe = std::move(handlers.onSubscribe),
                                                   .onDispose = {}}));
}

template <class T>
Single<T> Single<T>::timeout(dispatch::Duration d, Single other, Scheduler& scheduler) const {
  Scheduler* s = &scheduler;
  return Single(
      Observable<T>([source = source_, other = other.source_, d, s](const AnyObserver<T>& o) {
        struct State {
          detail::SerialSlot timer;
          detail::SerialSlot subscription;
          bool timedOut = false;
        };
        auto state = std::make_shared<State>();
        state->timer.set(s->scheduleAfter(d, [state, other, o] {
          state->timedOut = true;
          state->subscription.set(Disposable());  // drop the late source first
          state->subscription.set(other.subscribe(o));
        }));
        Disposable upstream = source.subscribe(detail::observer<T>([state, o](const Event<T>& e) {
          if (state->timedOut) return;
          state->timer.dispose();
          o.on(e);
        }));
        if (!state->timedOut) state->subscription.set(upstream);
        return Disposable([state] {
          state->timer.dispose();
          state->subscription.dispose();
        });
      }));
}

namespace detail {

template <class F, class... Ts>
Single<CombinedElement<F, Ts...>> zip(F f, Single<Ts>... sources) {
  using R = CombinedElement<F, Ts...>;
  return SingleAccess::wrap(
      Observable<R>([f = std::move(f),
                     sources = std::make_tuple(std::move(sources)...)](const AnyObserver<R>& o) {
        struct State {
          F f;
          std::tuple<std::optional<Ts>...> values;
          std::size_t remaining = sizeof...(Ts);
          bool stopped = false;
        };
        auto state = std::make_shared<State>(State{f, {}, sizeof...(Ts), false});
        CompositeDisposable group;
        auto subscribeAt = [&]<std::size_t I>() {
          if (state->stopped) return;
          using E = std::tuple_element_t<I, std::tuple<Ts...>>;
          group.insert(std::get<I>(sources).asObservable().subscribe(
              observer<E>([o, state](const Event<E>& e) {
                if (state->stopped || e.isCompleted()) return;
                if (e.isError()) {
                  state->stopped = true;
                  o.onError(e.error());
                  return;
                }
                std::get<I>(state->values) = e.element();
                if (--state->remaining > 0) return;
                state->stopped = true;
                o.onNext(std::apply([&](auto&... v) { return state->f(*v...); }, state->values));
                o.onCompleted();
              })));
        };
        [&]<std::size_t... I>(std::index_sequence<I...>) {
          (subscribeAt.template operator()<I>(), ...);
        }
        (std::index_sequence_for<Ts...>{});
        return group.asDisposable();
      }));
}

}  // namespace detail

// Both results, combined by `f`, once both succeeded; the first error fails
// it. Both are subscribed at once, `a` first.
template <class A, class B, class F>
auto zip(const Single<A>& a, const Single<B>& b, F f) {
  return detail::zip(std::move(f), a, b);
}

template <class A, class B>
Single<std::tuple<A, B>> zip(const Single<A>& a, const Single<B>& b) {
  return zip(a, b, [](const A& x, const B& y) { return std::make_tuple(x, y); });
}

// All results in list order once every member succeeded; the first error
// fails it and disposes the others. All members are subscribed at once, in
// list order. An empty list succeeds at once with an empty list.
template <class T>
Single<std::vector<T>> zip(std::vector<Single<T>> sources) {
  using R = std::vector<T>;
  return detail::SingleAccess::wrap(
      Observable<R>([sources = std::move(sources)](const AnyObserver<R>& o) {
        if (sources.empty()) {
          o.onNext(R());
          o.onCompleted();
          return Disposable();
        }
        struct State {
          std::vector<std::optional<T>> values;
          std::size_t remaining = 0;
          bool stopped = false;
        };
        auto state = std::make_shared<State>();
        state->values.resize(sources.size());
        state->remaining = sources.size();
        CompositeDisposable group;
        for (std::size_t i = 0; i < sources.size() && !state->stopped; ++i) {
          group.insert(sources[i].asObservable().subscribe(
              detail::observer<T>([o, state, i](const Event<T>& e) {
                if (state->stopped || e.isCompleted()) return;
                if (e.isError()) {
                  state->stopped = true;
                  o.onError(e.error());
                  return;
                }
                state->values[i] = e.element();
                if (--state->remaining > 0) return;
                state->stopped = true;
                R results;
                results.reserve(state->values.size());
                for (auto& v : state->values)
                  results.push_back(std::move(*v));
                o.onNext(std::move(results));
                o.onCompleted();
              })));
        }
        return group.asDisposable();
      }));
}

}  // namespace wendrix::rx
