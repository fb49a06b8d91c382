#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tlm {

// The little of the SDK's settings store that the encrypter needs: text
// values under SDK keys (the store adds its own prefix).
class TLMKeyValueSettings {
 public:
  virtual ~TLMKeyValueSettings() = default;
  // The text under `key`; none when absent. A value of another kind answers
  // an empty text, which reads as damaged rather than absent.
  virtual std::optional<std::string> stringForKey(std::string_view key) = 0;
  virtual void setString(std::string_view key, std::string value) = 0;
};

// Settings in memory (tests, or a process without a settings store).
class TLMMemoryKeyValueSettings final : public TLMKeyValueSettings {
 public:
  std::optional<std::string> stringForKey(std::string_view key) override {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  void setString(std::string_view key, std::string value) override {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace tlm
