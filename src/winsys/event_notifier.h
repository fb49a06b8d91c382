#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

#include "winsys/events.h"

namespace wendrix::winsys {

using AnyEvent = std::shared_ptr<const EventType>;

// Where the window system delivers its events, by event type. Handlers run on
// the main thread, synchronously inside `notify`.
class EventNotifier {
 public:
  virtual ~EventNotifier() = default;

  // Registers `handler` for events of type E for the notifier's life.
  template <class E>
  void on(std::function<void(const E&)> handler) {
    static_assert(std::is_base_of_v<EventType, E>);
    onEvent(E::typeName, [handler = std::move(handler)](const AnyEvent& e) {
      handler(static_cast<const E&>(*e));
    });
  }

  // Delivers one event to the handlers of its type.
  template <class E>
  void notify(E event) {
    static_assert(std::is_base_of_v<EventType, E>);
    notifyEvent(E::typeName, std::make_shared<const E>(std::move(event)));
  }

 protected:
  // `typeName` names the concrete type of every event passed with it.
  virtual void onEvent(std::string_view typeName, std::function<void(const AnyEvent&)> handler) = 0;
  virtual void notifyEvent(std::string_view typeName, AnyEvent event) = 0;
};

}  // namespace wendrix::winsys
