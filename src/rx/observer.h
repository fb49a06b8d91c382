#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "rx/event.h"

namespace wendrix::rx {

// Receives the events of one stream. Copies share one handler; calling an
// empty observer does nothing.
template <class T>
class AnyObserver {
 public:
  using EventHandler = std::function<void(const Event<T>&)>;

  AnyObserver() = default;
  explicit AnyObserver(EventHandler handler)
      : handler_(handler ? std::make_shared<const EventHandler>(std::move(handler)) : nullptr) {}

  void on(const Event<T>& event) const {
    // Keep the handler alive while it runs, even if it drops this observer.
    if (auto handler = handler_) (*handler)(event);
  }
  void onNext(T value) const { on(Event<T>::next(std::move(value))); }
  void onError(Error error) const { on(Event<T>::error(std::move(error))); }
  void onCompleted() const { on(Event<T>::completed()); }

  explicit operator bool() const { return handler_ != nullptr; }

 private:
  std::shared_ptr<const EventHandler> handler_;
};

}  // namespace wendrix::rx
