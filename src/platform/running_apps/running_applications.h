#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Options of an activation request, the platform's bits.
enum ActivationOptions : std::uint32_t {
  activateAllWindows = 1,
  activateIgnoringOtherApps = 2,
};

// The program's own process.
struct CurrentApplication {
  std::int32_t processIdentifier = 0;
  std::string bundleIdentifier;
};

// Running processes as applications: bringing one to the front, and which is
// there now.
class RunningApplications {
 public:
  virtual ~RunningApplications() = default;

  // Whether the application with this process identifier is frontmost;
  // nullopt when no such application runs.
  virtual std::optional<bool> isActive(std::int32_t processIdentifier) = 0;

  // Asks the application to come to the front. The request goes out now; the
  // change, if any, comes later. False when no such application runs.
  virtual bool activate(std::int32_t processIdentifier, std::uint32_t options) = 0;

  // The process identifier of the frontmost application, if any.
  virtual std::optional<std::int32_t> frontmost() = 0;

  virtual CurrentApplication current() = 0;
};

}  // namespace platform
