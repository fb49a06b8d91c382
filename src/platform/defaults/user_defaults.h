#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "coding/value.h"

namespace platform {

// A property-list key/value store shared by the whole process (the program's
// settings and the telemetry SDK's prefixed keys). Thread-safe. A write that
// returns success has reached its backing store.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  // The stored value, or nullopt when the key is absent.
  virtual std::optional<coding::Value> get(std::string_view key) const = 0;
  virtual base::Status set(std::string_view key, coding::Value value) = 0;
  // Removing an absent key succeeds.
  virtual base::Status remove(std::string_view key) = 0;
  virtual std::vector<std::string> keys() const = 0;
};

}  // namespace platform
