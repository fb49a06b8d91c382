#include "engine/rx_event_notifier.h"

#include <utility>

namespace wendrix {

rx::PublishSubject<winsys::AnyEvent> RxEventNotifier::subject(std::string_view typeName) {
  auto it = subjects_.find(typeName);
  if (it == subjects_.end()) {
    it = subjects_.emplace(std::string(typeName), rx::PublishSubject<winsys::AnyEvent>()).first;
  }
  return it->second;
}

void RxEventNotifier::onEvent(std::string_view typeName,
                              std::function<void(const winsys::AnyEvent&)> handler) {
  subject(typeName).subscribe(std::move(handler)).disposed(disposeBag_);
}

void RxEventNotifier::notifyEvent(std::string_view typeName, winsys::AnyEvent event) {
  auto it = subjects_.find(typeName);
  if (it == subjects_.end()) return;
  // A copy: a subscriber may add subjects while this one delivers.
  auto target = it->second;
  target.onNext(std::move(event));
}

rx::Observable<rx::Unit> RxEventNotifier::mergedEvents(
    const std::vector<std::string_view>& typeNames) {
  if (typeNames.empty()) return rx::Observable<rx::Unit>::never();
  std::vector<rx::Observable<rx::Unit>> sources;
  sources.reserve(typeNames.size());
  for (auto name : typeNames) {
    sources.push_back(
        subject(name).asObservable().map([](const winsys::AnyEvent&) { return rx::Unit{}; }));
  }
  return rx::Observable<rx::Unit>::merge(std::move(sources));
}

}  // namespace wendrix
