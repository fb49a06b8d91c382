#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rx/disposable.h"
#include "rx/event.h"
#include "rx/hand_written.h"
#include "rx/observable.h"
#include "rx/subjects.h"
#include "winsys/event_notifier.h"

namespace wendrix {

// The bridge from window-system events to streams: one subject per event
// type, keyed by the type's name, made the first time any operation names the
// type and never removed. An event of a type no operation has named yet is
// dropped. Main thread only; subscribers run inside `notify`, in
// subscription order.
class RxEventNotifier final : public winsys::EventNotifier {
 public:
  RxEventNotifier() = default;
  RxEventNotifier(const RxEventNotifier&) = delete;
  RxEventNotifier& operator=(const RxEventNotifier&) = delete;

  // The events of type E: hot, replays nothing, never completes. Every call
  // maps the one shared subject anew.
  template <class E>
  rx::Observable<E> observable() {
    return subject(E::typeName).asObservable().map([](const winsys::AnyEvent& e) {
      return static_cast<const E&>(*e);
    });
  }

  // One empty value per event of type E that `predicate` accepts. The
  // predicate sees the event in place, so nothing is copied for the events
  // it turns down.
  template <class E, class P>
  rx::Observable<rx::Unit> signals(P predicate) {
    return subject(E::typeName)
        .asObservable()
        .compactMap([predicate = std::move(predicate)](
                        const winsys::AnyEvent& e) -> std::optional<rx::Unit> {
          if (!predicate(static_cast<const E&>(*e))) return std::nullopt;
          return rx::Unit{};
        });
  }

  // Calls `handler` with each event of type E, in place, until the returned
  // disposable is disposed: the events `observable<E>()` gives, without an
  // operator step of its own per subscription.
  template <class E, class F>
  rx::Disposable onEach(F handler) {
    return subject(E::typeName)
        .subscribe(rx::observer<winsys::AnyEvent>(
            [handler = std::move(handler)](const rx::Event<winsys::AnyEvent>& e) mutable {
              if (e.isNext()) handler(static_cast<const E&>(*e.element()));
            }));
  }

  // One empty value per event of any of the named types. Over no types: a
  // stream that never emits.
  rx::Observable<rx::Unit> mergedEvents(const std::vector<std::string_view>& typeNames);
  template <class... E>
  rx::Observable<rx::Unit> mergedEvents() {
    return mergedEvents(std::vector<std::string_view>{E::typeName...});
  }

  // Whether a subject exists for the type (for tests and diagnostics).
  bool hasSubject(std::string_view typeName) const { return subjects_.contains(typeName); }

 protected:
  void onEvent(std::string_view typeName,
               std::function<void(const winsys::AnyEvent&)> handler) override;
  void notifyEvent(std::string_view typeName, winsys::AnyEvent event) override;

 private:
  rx::PublishSubject<winsys::AnyEvent> subject(std::string_view typeName);

  std::map<std::string, rx::PublishSubject<winsys::AnyEvent>, std::less<>> subjects_;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix
