#pragma once

#include <stdlib.h>
#include <time.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <string>

namespace support {

// Sets environment variables for one scope and puts the old values back
// afterwards (a variable that was unset is unset again). A change of TZ takes
// effect at once.
class ScopedEnvironment {
 public:
  using Values = std::map<std::string, std::optional<std::string>>;

  ScopedEnvironment() = default;
  ScopedEnvironment(std::initializer_list<Values::value_type> values) {
    for (const auto& [name, value] : values)
      set(name, value);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_)
      apply(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Sets `name` to `value`; none unsets it.
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
      const char* old = ::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    apply(name, value);
  }
  // A null `value` unsets `name`.
  void set(const std::string& name, const char* value) {
    set(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
    if (name == "TZ") ::tzset();
  }

  Values saved_;
};

}  // namespace support
