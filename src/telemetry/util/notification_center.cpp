#include "telemetry/util/notification_center.h"

#include <utility>
#include <vector>

#include "base/shared_slot.h"

namespace tlm {
namespace {

base::SharedSlot<TLMNotificationCenter>& defaultSlot() {
  static base::SharedSlot<TLMNotificationCenter> slot;
  return slot;
}

}  // namespace

std::shared_ptr<TLMNotificationCenter> TLMNotificationCenter::defaultCenter() {
  return defaultSlot().getOrMake([] { return std::make_shared<TLMNotificationCenter>(); });
}

void TLMNotificationCenter::setSharedForTesting(std::shared_ptr<TLMNotificationCenter> center) {
  defaultSlot().exchange(std::move(center));
}

TLMNotificationCenter::Token TLMNotificationCenter::addObserver(std::string_view name,
                                                                Observer observer) {
  std::lock_guard lock(mutex_);
  const Token token = nextToken_++;
  observers_.emplace(
      token, std::make_pair(std::string(name), std::make_shared<Observer>(std::move(observer))));
  return token;
}

void TLMNotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(mutex_);
  observers_.erase(token);
}

void TLMNotificationCenter::post(std::string_view name) {
  std::vector<std::shared_ptr<Observer>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [token, entry] : observers_)
      if (entry.first == name) matching.push_back(entry.second);
  }
  for (const auto& observer : matching)
    (*observer)();
}

}  // namespace tlm
