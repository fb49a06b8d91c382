#pragma once

#include <mutex>

#include "platform/defaults/revisions.h"
#include "platform/defaults/user_defaults.h"

namespace platform {

// A store that lives in memory only (tests, and the fallback when the file
// cannot be used).
class MemoryUserDefaults final : public UserDefaults {
 public:
  MemoryUserDefaults() = default;
  explicit MemoryUserDefaults(coding::Dictionary initial) : values_(std::move(initial)) {}

  std::optional<coding::Value> get(std::string_view key) const override;
  bool readWithRevision(
      std::string_view key,
      const std::function<void(const coding::Value&, Revision)>& visit) const override;
  base::Status set(std::string_view key, coding::Value value) override;
  base::Status remove(std::string_view key) override;
  base::Result<Revision> replaceDataTail(std::string_view key, Revision expected, std::size_t keep,
                                         std::span<const std::uint8_t> tail) override;
  std::vector<std::string> keys() const override;
  coding::Dictionary snapshot() const override;

 private:
  mutable std::mutex mutex_;
  coding::Dictionary values_;
  detail::Revisions revisions_;
};

}  // namespace platform
