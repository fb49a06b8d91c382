#pragma once

// Element-by-element operators.

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "rx/detail/sink.h"
#include "rx/observable.h"

namespace wendrix::rx {

namespace detail {

// Makes a Single from a stream known to end with exactly one element or an
// error.
struct SingleAccess {
  template <class T>
  static Single<T> wrap(Observable<T> o) {
    return Single<T>(std::move(o));
  }
};

}  // namespace detail

template <class T>
template <class F>
Observable<detail::Mapped<F, T>> Observable<T>::map(F f) const {
  using U = detail::Mapped<F, T>;
  return Observable<U>([source = *this, f = std::move(f)](const AnyObserver<U>& o) {
    return source.subscribe(detail::observer<T>([o, f](const Event<T>& e) mutable {
      if (e.isNext()) {
        o.onNext(f(e.element()));
      } else {
        o.on(e.template stopAs<U>());
      }
    }));
  });
}

template <class T>
template <class F>
Observable<typename detail::Mapped<F, T>::value_type> Observable<T>::compactMap(F f) const {
  using U = typename detail::Mapped<F, T>::value_type;
  return Observable<U>([source = *this, f = std::move(f)](const AnyObserver<U>& o) {
    return source.subscribe(detail::observer<T>([o, f](const Event<T>& e) mutable {
      if (e.isNext()) {
        auto mapped = f(e.element());
        if (mapped) o.onNext(std::move(*mapped));
      } else {
        o.on(e.template stopAs<U>());
      }
    }));
  });
}

// Per-subscription state lives in the observer's own closure (mutable): an
// observer's copies share that closure, so it is as shared as a pointer to
// the state would be, without an allocation of its own.

template <class T>
template <class F>
Observable<T> Observable<T>::filter(F predicate) const {
  return Observable([source = *this, predicate = std::move(predicate)](const AnyObserver<T>& o) {
    return source.subscribe(detail::observer<T>([o, predicate](const Event<T>& e) mutable {
      if (!e.isNext() || predicate(e.element())) o.on(e);
    }));
  });
}

template <class T>
template <class F>
Observable<T> Observable<T>::skipWhile(F predicate) const {
  return Observable([source = *this, predicate = std::move(predicate)](const AnyObserver<T>& o) {
    return source.subscribe(
        detail::observer<T>([o, predicate, skipping = true](const Event<T>& e) mutable {
          if (e.isNext() && skipping) {
            if (predicate(e.element())) return;
            skipping = false;
          }
          o.on(e);
        }));
  });
}

template <class T>
Observable<T> Observable<T>::take(std::size_t count) const {
  if (count == 0) return empty();
  return Observable([source = *this, count](const AnyObserver<T>& o) {
    return source.subscribe(
        detail::observer<T>([o, count, taken = std::size_t{0}](const Event<T>& e) mutable {
          if (taken >= count) return;
          if (e.isNext()) {
            ++taken;
            o.on(e);
            if (taken == count) o.onCompleted();
          } else {
            taken = count;
            o.on(e);
          }
        }));
  });
}

template <class T>
Single<std::optional<T>> Observable<T>::first() const {
  using U = std::optional<T>;
  return detail::SingleAccess::wrap(Observable<U>([source = *this](const AnyObserver<U>& o) {
    return source.subscribe(detail::observer<T>([o, done = false](const Event<T>& e) mutable {
      if (done) return;
      done = true;
      if (e.isError()) {
        o.onError(e.error());
        return;
      }
      o.onNext(e.isNext() ? U(e.element()) : U());
      o.onCompleted();
    }));
  }));
}

namespace detail {

// `asSingle` (emitWhenCompleted) and `single` (emit at once).
template <class T>
Observable<T> enforceSingle(Observable<T> source, bool emitWhenCompleted) {
  return Observable<T>([source = std::move(source), emitWhenCompleted](const AnyObserver<T>& o) {
    return source.subscribe(observer<T>([o, emitWhenCompleted, element = std::optional<T>(),
                                         done = false](const Event<T>& e) mutable {
      if (done) return;
      if (e.isNext()) {
        if (element) {
          done = true;
          o.onError(RxError::moreThanOneElement());
          return;
        }
        element = e.element();
        if (!emitWhenCompleted) o.on(e);
      } else if (e.isError()) {
        done = true;
        o.on(e);
      } else {
        done = true;
        if (!element) {
          o.onError(RxError::noElements());
          return;
        }
        if (emitWhenCompleted) o.onNext(std::move(*element));
        o.onCompleted();
      }
    }));
  });
}

}  // namespace detail

template <class T>
Single<T> Observable<T>::asSingle() const {
  return detail::SingleAccess::wrap(detail::enforceSingle(*this, true));
}

template <class T>
Observable<T> Observable<T>::single() const {
  return detail::enforceSingle(*this, false);
}

template <class T>
template <class... V>
Observable<T> Observable<T>::startWith(V&&... values) const {
  std::vector<T> prefix{T(std::forward<V>(values))...};
  return Observable([source = *this, prefix = std::move(prefix)](const AnyObserver<T>& o) {
    for (const auto& v : prefix)
      o.onNext(v);
    return source.subscribe(o);
  });
}

template <class T>
Observable<T> Observable<T>::distinctUntilChanged() const requires std::equality_comparable<T> {
  return distinctUntilChanged([](const T& a, const T& b) { return a == b; });
}

template <class T>
Observable<T> Observable<T>::distinctUntilChanged(
    std::function<bool(const T&, const T&)> equal) const {
  return Observable([source = *this, equal = std::move(equal)](const AnyObserver<T>& o) {
    return source.subscribe(
        detail::observer<T>([o, equal, last = std::optional<T>()](const Event<T>& e) mutable {
          if (e.isNext()) {
            if (last && equal(*last, e.element())) return;
            last = e.element();
          }
          o.on(e);
        }));
  });
}

template <class T>
Observable<T> Observable<T>::doOn(ObservableHandlers<T> handlers) const {
  auto h = std::make_shared<const ObservableHandlers<T>>(std::move(handlers));
  return Observable([source = *this, h](const AnyObserver<T>& o) {
    if (h->onSubscribe) h->onSubscribe();
    Disposable upstream = source.subscribe(detail::observer<T>([o, h](const Event<T>& e) {
      if (e.isNext()) {
        if (h->onNext) h->onNext(e.element());
      } else if (e.isError()) {
        if (h->onError) h->onError(e.error());
      } else if (h->onCompleted) {
        h->onCompleted();
      }
      o.on(e);
    }));
    if (!h->onDispose) return upstream;
    return Disposable([upstream, h] {
      upstream.dispose();
      h->onDispose();
    });
  });
}

template <class T>
Observable<Event<T>> Observable<T>::materialize() const {
  using E = Event<T>;
  return Observable<E>([source = *this](const AnyObserver<E>& o) {
    return source.subscribe(detail::observer<T>([o](const Event<T>& e) {
      o.onNext(e);
      if (e.isStopEvent()) o.onCompleted();
    }));
  });
}

template <class T>
template <class F>
Observable<T> Observable<T>::catchError(F handler) const {
  return Observable([source = *this, handler = std::move(handler)](const AnyObserver<T>& o) {
    // Also the state of the subscription's handle.
    struct State final : Disposable::Target {
      void disposeOnce() override { subscription.dispose(); }

      detail::SerialSlot subscription;
      bool switched = false;
    };
    auto state = std::make_shared<State>();
    Disposable initial =
        source.subscribe(detail::observer<T>([o, handler, state](const Event<T>& e) mutable {
          if (!e.isError()) {
            o.on(e);
            return;
          }
          state->switched = true;
          state->subscription.set(Disposable());
          state->subscription.set(handler(e.error()).subscribe(o));
        }));
    if (!state->switched) state->subscription.set(initial);
    return Disposable::of(state);
  });
}

template <class T>
Observable<T> Observable<T>::catchErrorJustReturn(T value) const {
  return catchError([value = std::move(value)](const Error&) { return Observable::just(value); });
}

}  // namespace wendrix::rx
