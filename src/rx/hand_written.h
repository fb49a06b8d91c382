#pragma once

// Building blocks for streams written by hand, where one state per
// subscription stands for a chain of operators: that state is the
// subscription's handle (a Disposable::Target), keeps the disposables of
// its sources in slots, and subscribes to them with callables kept in the
// subscriptions themselves.

#include <type_traits>
#include <utility>

#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/single.h"

namespace wendrix::rx {

// Holds one disposable at a time inside its owner, without an allocation of
// its own: setting a new one disposes the previous one; once disposed,
// anything set is disposed at once.
using SerialSlot = detail::SerialSlot;

// `handler(event)` as the observer of `Observable<T>::subscribe`, kept in the
// subscription itself.
template <class T, class F>
auto observer(F&& handler) {
  return detail::observer<T>(std::forward<F>(handler));
}

// The stream as a Single. It must end with exactly one element (then
// completion) or an error.
template <class T>
Single<T> singleOf(Observable<T> source) {
  return detail::SingleAccess::wrap(std::move(source));
}

}  // namespace wendrix::rx
