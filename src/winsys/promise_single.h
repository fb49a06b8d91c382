#pragma once

#include <memory>

#include "rx/disposable.h"
#include "rx/single.h"
#include "winsys/promise.h"

namespace wendrix::winsys {

// The promise's result as a Single. Each subscription waits for the one
// result; disposing of a subscription stops its delivery but does not cancel
// the promise.
template <class T>
rx::Single<T> toSingle(Promise<T> promise) {
  return rx::Single<T>::create(
      [promise = std::move(promise)](const typename rx::Single<T>::SingleObserver& observer) {
        auto disposed = std::make_shared<bool>(false);
        promise.done([observer, disposed](const base::Result<T>& result) {
          if (!*disposed) observer(result);
        });
        return rx::Disposable([disposed] { *disposed = true; });
      });
}

}  // namespace wendrix::winsys
