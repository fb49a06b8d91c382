#pragma once

// Facts about the machine, the operating system and the user's settings that
// go into the telemetry device record. Each read goes to the system again;
// a fact that cannot be read answers none.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct ScreenSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const ScreenSize&, const ScreenSize&) = default;
};

class DeviceProbe {
 public:
  virtual ~DeviceProbe() = default;

  // Hardware model and maker.
  virtual std::optional<std::string> model() const = 0;
  virtual std::optional<std::string> manufacturer() const = 0;
  // Kernel name ("Linux") and release ("6.1.0-18-amd64").
  virtual std::optional<std::string> osName() const = 0;
  virtual std::optional<std::string> osRelease() const = 0;
  // Locale names as the environment spells them ("pt_BR.UTF-8", "sr_RS@latin").
  // The user's first preferred language, and the locale in effect.
  virtual std::optional<std::string> preferredLanguage() const = 0;
  virtual std::optional<std::string> currentLocale() const = 0;
  // Offset of local time from UTC at `at`, in seconds east.
  virtual std::int64_t utcOffsetSeconds(std::chrono::system_clock::time_point at) const = 0;
  // Size of the main screen; none without a display.
  virtual std::optional<ScreenSize> mainScreenSize() const = 0;
};

// A probe that reads nothing: every fact is none, local time is UTC. What the
// telemetry's device record holds when the program named no probe.
class NoDeviceProbe final : public DeviceProbe {
 public:
  std::optional<std::string> model() const override { return std::nullopt; }
  std::optional<std::string> manufacturer() const override { return std::nullopt; }
  std::optional<std::string> osName() const override { return std::nullopt; }
  std::optional<std::string> osRelease() const override { return std::nullopt; }
  std::optional<std::string> preferredLanguage() const override { return std::nullopt; }
  std::optional<std::string> currentLocale() const override { return std::nullopt; }
  std::int64_t utcOffsetSeconds(std::chrono::system_clock::time_point) const override { return 0; }
  std::optional<ScreenSize> mainScreenSize() const override { return std::nullopt; }
};

// The parts of a locale name. Language is lower case (2-3 letters), script
// title case (4 letters, empty when none), country upper case (2 letters or
// 3 digits, empty when none).
struct LocaleParts {
  std::string language;
  std::string script;
  std::string country;
  friend bool operator==(const LocaleParts&, const LocaleParts&) = default;
};

// Reads "ll[_CC][.codeset][@modifier]" (also with "-" between the parts, and
// an optional 4-letter script before the country). The modifiers "latin",
// "cyrillic" and "devanagari" name scripts. None for "C", "POSIX", empty text
// or a name without a usable language; unusable later parts are left out.
std::optional<LocaleParts> parseLocaleName(std::string_view name);

}  // namespace platform
