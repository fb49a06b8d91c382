#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/rx_error.h"

namespace wendrix {

// The subscriptions of the commands a menu started: each is kept while it
// runs and dropped when it ends; those still running are disposed with the
// bag.
class CommandBag {
 public:
  CommandBag() = default;
  CommandBag(const CommandBag&) = delete;
  CommandBag& operator=(const CommandBag&) = delete;
  ~CommandBag() {
    if (commands_) commands_->dispose();
  }

  template <class T>
  void run(const rx::Observable<T>& command, std::function<void(const T&)> onNext,
           std::function<void(const rx::Error&)> onError) {
    if (!commands_) commands_.emplace();
    auto key = std::make_shared<std::optional<rx::CompositeDisposable::Key>>();
    auto ended = std::make_shared<bool>(false);
    auto end = [commands = *commands_, key, ended] {
      *ended = true;
      if (*key) commands.remove(**key);
    };
    rx::Disposable subscription = command.subscribe(
        std::move(onNext),
        [onError = std::move(onError), end](const rx::Error& error) {
          if (onError) onError(error);
          end();
        },
        end);
    if (!*ended) *key = commands_->insert(subscription);
  }

  // The commands still running.
  std::size_t running() const { return commands_ ? commands_->count() : 0; }

 private:
  // Made at the first command: most menus never run one.
  std::optional<rx::CompositeDisposable> commands_;
};

}  // namespace wendrix
