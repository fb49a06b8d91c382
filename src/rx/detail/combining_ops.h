#pragma once

// Operators over several streams: merge, concat, the flat-maps and
// combineLatest.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "rx/detail/sink.h"
#include "rx/observable.h"

namespace wendrix::rx {

template <class T>
Observable<T> Observable<T>::merge(std::vector<Observable> sources) {
  return Observable([sources = std::move(sources)](const AnyObserver<T>& o) {
    if (sources.empty()) {
      o.onCompleted();
      return Disposable();
    }
    struct State {
      std::size_t active = 0;
      bool stopped = false;
    };
    auto state = std::make_shared<State>(State{sources.size(), false});
    CompositeDisposable group;
    for (const auto& source : sources) {
      if (state->stopped) break;
      group.insert(source.subscribe(detail::observer<T>([o, state](const Event<T>& e) {
        if (state->stopped) return;
        if (e.isNext()) {
          o.on(e);
        } else if (e.isError() || --state->active == 0) {
          state->stopped = true;
          o.on(e);
        }
      })));
    }
    return group.asDisposable();
  });
}

template <class T>
Observable<T> Observable<T>::concat(std::vector<Observable> sources) {
  return detail::fromVector(std::move(sources)).concatMap([](const Observable& o) { return o; });
}

template <class T>
Observable<T> Observable<T>::concat(Observable next) const {
  return concat(std::vector<Observable>{*this, std::move(next)});
}

template <class T>
template <class F>
Observable<detail::StreamElement<std::invoke_result_t<F&, const T&>>> Observable<T>::flatMapLatest(
    F f) const {
  using U = detail::StreamElement<std::invoke_result_t<F&, const T&>>;
  return Observable<U>([source = *this, f = std::move(f)](const AnyObserver<U>& o) {
    struct State {
      AnyObserver<U> observer;
      detail::SerialSlot inner;
      std::uint64_t latest = 0;
      bool innerActive = false;
      bool outerDone = false;
      bool stopped = false;
    };
    auto state = std::make_shared<State>();
    state->observer = o;
    Disposable outer = source.subscribe(detail::observer<T>([state, f](const Event<T>& e) mutable {
      if (state->stopped) return;
      if (e.isNext()) {
        const std::uint64_t id = ++state->latest;
        state->inner.set(Disposable());  // the previous inner stream ends here
        state->innerActive = true;
        Disposable d = detail::toObservable(f(e.element()))
                           .subscribe(detail::observer<U>([state, id](const Event<U>& ie) {
                             if (state->stopped || state->latest != id) return;
                             if (ie.isCompleted()) {
                               state->innerActive = false;
                               if (!state->outerDone) return;
                             }
                             if (ie.isStopEvent()) state->stopped = true;
                             state->observer.on(ie);
                           }));
        if (state->latest == id) {
          state->inner.set(d);
        } else {
          d.dispose();
        }
      } else if (e.isError() || !state->innerActive) {
        state->stopped = true;
        state->observer.on(e.template stopAs<U>());
      } else {
        state->outerDone = true;
      }
    }));
    return Disposable([outer, state] {
      outer.dispose();
      state->inner.dispose();
    });
  });
}

template <class T>
template <class F>
Observable<detail::StreamElement<std::invoke_result_t<F&, const T&>>> Observable<T>::concatMap(
    F f) const {
  using U = detail::StreamElement<std::invoke_result_t<F&, const T&>>;
  return Observable<U>([source = *this, f = std::move(f)](const AnyObserver<U>& o) {
    struct State {
      AnyObserver<U> observer;
      F f;
      detail::SerialSlot inner{};
      // Usually empty; a list allocates nothing until used.
      std::list<T> waiting{};
      std::uint64_t current = 0;
      bool innerActive = false;
      bool outerDone = false;
      bool stopped = false;

      static void start(const std::shared_ptr<State>& state, const T& value) {
        state->innerActive = true;
        const std::uint64_t id = ++state->current;
        Disposable d = detail::toObservable(state->f(value))
                           .subscribe(detail::observer<U>([state](const Event<U>& ie) {
                             if (state->stopped) return;
                             if (ie.isCompleted()) {
                               State::next(state);
                               return;
                             }
                             if (ie.isError()) state->stopped = true;
                             state->observer.on(ie);
                           }));
        // An inner stream that completed at once may already have started
        // the next one, which then owns the slot.
        if (state->current == id) state->inner.set(d);
      }

      static void next(const std::shared_ptr<State>& state) {
        if (!state->waiting.empty()) {
          T value = std::move(state->waiting.front());
          state->waiting.pop_front();
          start(state, value);
          return;
        }
        state->innerActive = false;
        if (state->outerDone) {
          state->stopped = true;
          state->observer.onCompleted();
        }
      }
    };
    auto state = std::make_shared<State>(State{o, f});
    Disposable outer = source.subscribe(detail::observer<T>([state](const Event<T>& e) {
      if (state->stopped) return;
      if (e.isNext()) {
        if (state->innerActive) {
          state->waiting.push_back(e.element());
        } else {
          State::start(state, e.element());
        }
      } else if (e.isError() || !state->innerActive) {
        state->stopped = true;
        state->observer.on(e.template stopAs<U>());
      } else {
        state->outerDone = true;
      }
    }));
    return Disposable([outer, state] {
      outer.dispose();
      state->inner.dispose();
      state->waiting.clear();
    });
  });
}

namespace detail {

template <class F, class... Ts>
using CombinedElement = std::decay_t<std::invoke_result_t<F&, const Ts&...>>;

template <class F, class... Ts>
Observable<CombinedElement<F, Ts...>> combineLatest(F f, Observable<Ts>... sources) {
  using R = CombinedElement<F, Ts...>;
  constexpr std::size_t kCount = sizeof...(Ts);
  return Observable<R>([f = std::move(f),
                        sources = std::make_tuple(std::move(sources)...)](const AnyObserver<R>& o) {
    struct State {
      F f;
      std::tuple<std::optional<Ts>...> values;
      std::size_t completed = 0;
      bool stopped = false;
    };
    auto state = std::make_shared<State>(State{f, {}, 0, false});
    CompositeDisposable group;
    auto subscribeAt = [&]<std::size_t I>() {
      if (state->stopped) return;
      using E = std::tuple_element_t<I, std::tuple<Ts...>>;
      group.insert(std::get<I>(sources).subscribe(observer<E>([o, state](const Event<E>& e) {
        if (state->stopped) return;
        if (e.isNext()) {
          std::get<I>(state->values) = e.element();
          const bool all =
              std::apply([](const auto&... v) { return (v.has_value() && ...); }, state->values);
          if (all) {
            o.onNext(std::apply([&](const auto&... v) { return state->f(*v...); }, state->values));
          }
        } else if (e.isError() || ++state->completed == kCount) {
          state->stopped = true;
          o.on(e.template stopAs<R>());
        }
      })));
    };
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (subscribeAt.template operator()<I>(), ...);
    }
    (std::index_sequence_for<Ts...>{});
    return group.asDisposable();
  });
}

}  // namespace detail

// The latest elements of both sources, combined by `f`, each time either
// emits once both have emitted. Completes when all sources completed.
template <class A, class B, class F>
auto combineLatest(const Observable<A>& a, const Observable<B>& b, F f) {
  return detail::combineLatest(std::move(f), a, b);
}

template <class A, class B, class C, class F>
auto combineLatest(const Observable<A>& a, const Observable<B>& b, const Observable<C>& c, F f) {
  return detail::combineLatest(std::move(f), a, b, c);
}

template <class A, class B>
Observable<std::tuple<A, B>> combineLatest(const Observable<A>& a, const Observable<B>& b) {
  return combineLatest(a, b, [](const A& x, const B& y) { return std::make_tuple(x, y); });
}

template <class A, class B, class C>
Observable<std::tuple<A, B, C>> combineLatest(const Observable<A>& a, const Observable<B>& b,
                                              const Observable<C>& c) {
  return combineLatest(a, b, c,
                       [](const A& x, const B& y, const C& z) { return std::make_tuple(x, y, z); });
}

}  // namespace wendrix::rx
