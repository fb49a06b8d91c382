#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tlm {

// Where the SDK hears of the application's life: the program posts the
// application's activation changes here (from its toolkit's signals) and
// services observe them. Observers run on the posting thread, outside the
// center's lock, so an observer may add or remove observers. Thread-safe.
class TLMNotificationCenter {
 public:
  // The application resigned being the active one.
  static constexpr std::string_view kApplicationDidResignActive =
      "NSApplicationDidResignActiveNotification";
  // The application is about to become the active one.
  static constexpr std::string_view kApplicationWillBecomeActive =
      "NSApplicationWillBecomeActiveNotification";

  using Observer = std::function<void()>;
  using Token = std::uint64_t;

  // The process's center, made on first use.
  static std::shared_ptr<TLMNotificationCenter> defaultCenter();
  // Makes `center` the default one; none: made again on next use.
  static void setSharedForTesting(std::shared_ptr<TLMNotificationCenter> center = nullptr);

  // A token that removes the observer again (never 0).
  Token addObserver(std::string_view name, Observer observer);
  void removeObserver(Token token);
  // Calls the observers of `name` in the order they were added.
  void post(std::string_view name);

 private:
  std::mutex mutex_;
  Token nextToken_ = 1;
  std::map<Token, std::pair<std::string, std::shared_ptr<Observer>>> observers_;
};

}  // namespace tlm
