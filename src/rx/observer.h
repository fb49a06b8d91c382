#pragma once

#include <concepts>
#include <functional>
#include <memory>
#include <type_traits>
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
  // An empty handler makes an empty observer.
  explicit AnyObserver(EventHandler handler) {
    if (handler) handler_ = std::make_shared<Handler<EventHandler>>(std::move(handler));
  }
  // Keeps the callable and its shared count in one allocation.
  template <class F>
  requires(!std::same_as<std::decay_t<F>, EventHandler> &&
           !std::same_as<std::decay_t<F>, AnyObserver> &&
           std::invocable<std::decay_t<F>&, const Event<T>&>) explicit AnyObserver(F&& handler)
      : handler_(std::make_shared<Handler<std::decay_t<F>>>(std::forward<F>(handler))) {}

  void on(const Event<T>& event) const {
    // Keep the handler alive while it runs, even if it drops this observer.
    if (auto handler = handler_) handler->call(event);
  }
  void onNext(T value) const { on(Event<T>::next(std::move(value))); }
  void onError(Error error) const { on(Event<T>::error(std::move(error))); }
  void onCompleted() const { on(Event<T>::completed()); }

  explicit operator bool() const { return handler_ != nullptr; }

 private:
  struct HandlerBase {
    virtual ~HandlerBase() = default;
    virtual void call(const Event<T>& event) const = 0;
  };
  template <class F>
  struct Handler final : HandlerBase {
    explicit Handler(F f) : f(std::move(f)) {}
    void call(const Event<T>& event) const override { f(event); }
    // Called as a std::function would call it: as a non-const lvalue.
    mutable F f;
  };

  std::shared_ptr<const HandlerBase> handler_;
};

}  // namespace wendrix::rx
