#pragma once

// Operators that run on a scheduler.

#include <memory>
#include <optional>
#include <utility>

#include "rx/detail/sink.h"
#include "rx/observable.h"

namespace wendrix::rx {

template <class T>
Observable<T> Observable<T>::delay(dispatch::Duration d, Scheduler& scheduler) const {
  Scheduler* s = &scheduler;
  return Observable([source = *this, d, s](const AnyObserver<T>& o) {
    CompositeDisposable pending;
    Disposable upstream =
        source.subscribe(detail::observer<T>([o, d, s, pending](const Event<T>& e) {
          if (e.isError()) {
            pending.dispose();
            o.on(e);
            return;
          }
          auto key = std::make_shared<std::optional<CompositeDisposable::Key>>();
          Disposable timer = s->scheduleAfter(d, [o, e, pending, key] {
            if (*key) pending.remove(**key);
            o.on(e);
          });
          *key = pending.insert(timer);
        }));
    return Disposable([upstream, pending] {
      upstream.dispose();
      pending.dispose();
    });
  });
}

template <class T>
Observable<T> Observable<T>::delaySubscription(dispatch::Duration d, Scheduler& scheduler) const {
  Scheduler* s = &scheduler;
  return Observable([source = *this, d, s](const AnyObserver<T>& o) {
    SerialDisposable subscription;
    subscription.set(
        s->scheduleAfter(d, [source, o, subscription] { subscription.set(source.subscribe(o)); }));
    return subscription.asDisposable();
  });
}

}  // namespace wendrix::rx
