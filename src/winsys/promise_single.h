#pragma once

#include <memory>
#include <utility>

#include "rx/disposable.h"
#include "rx/single.h"
#include "winsys/promise.h"

namespace wendrix::winsys {

namespace detail {

// One subscription's wait for a promise: disposing it stops the delivery.
template <class T>
class PromiseDelivery final : public rx::Disposable::Target {
 public:
  explicit PromiseDelivery(rx::AnyObserver<T> observer) : observer_(std::move(observer)) {}

  void deliver(const base::Result<T>& result) {
    if (disposed_) return;
    if (result.ok()) {
      observer_.onNext(result.value());
      observer_.onCompleted();
    } else {
      observer_.onError(result.error());
    }
  }

 protected:
  void disposeOnce() override { disposed_ = true; }

 private:
  rx::AnyObserver<T> observer_;
  bool disposed_ = false;
};

}  // namespace detail

// The promise's result as a Single. Each subscription waits for the one
// result; disposing of a subscription stops its delivery but does not cancel
// the promise.
template <class T>
rx::Single<T> toSingle(Promise<T> promise) {
  return rx::detail::SingleAccess::wrap(
      rx::Observable<T>([promise = std::move(promise)](const rx::AnyObserver<T>& observer) {
        auto delivery = std::make_shared<detail::PromiseDelivery<T>>(observer);
        promise.done([delivery](const base::Result<T>& result) { delivery->deliver(result); });
        return rx::Disposable::of(delivery);
      }));
}

}  // namespace wendrix::winsys
