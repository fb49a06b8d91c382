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

  // What an observer calls: an object that receives the events itself can
  // derive from it and be the observer's handler without another
  // allocation.
  class Receiver {
   public:
    virtual ~Receiver() = default;
    virtual void call(const Event<T>& event) = 0;
  };

  AnyObserver() = default;
  explicit AnyObserver(std::shared_ptr<Receiver> receiver) : handler_(std::move(receiver)) {}
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
  template <class F>
  struct Handler final : Receiver {
    explicit Handler(F body) : f(std::move(body)) {}
    // Called as a std::function would call it: as a non-const lvalue.
    void call(const Event<T>& event) override { f(event); }
    F f;
  };

  std::shared_ptr<Receiver> handler_;
};

}  // namespace wendrix::rx
