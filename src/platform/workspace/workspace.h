#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/url.h"

namespace platform {

// The process a launch or open request reached.
struct LaunchedApplication {
  std::int32_t processIdentifier = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<base::Url> bundleURL;

  friend bool operator==(const LaunchedApplication&, const LaunchedApplication&) = default;
};

// Completion of a launch or open request: an application, an error, or (from
// a misbehaving system) neither. Called once, on the main thread.
using OpenCompletion =
    std::function<void(std::optional<LaunchedApplication>, std::optional<base::Error>)>;

// Finding, launching and handing documents to other applications.
class Workspace {
 public:
  virtual ~Workspace() = default;

  // The location of the installed application with this bundle identifier.
  virtual std::optional<base::Url> urlForApplication(std::string_view bundleIdentifier) = 0;

  // Launches the application at `applicationURL`, or asks it to reopen when it
  // runs already.
  virtual void openApplication(const base::Url& applicationURL, OpenCompletion completion) = 0;

  // Asks the application at `applicationURL`, which runs without a window, for
  // a new window: through its own way of opening one where it has one, else
  // as openApplication does.
  virtual void reopenApplication(const base::Url& applicationURL, OpenCompletion completion) {
    openApplication(applicationURL, std::move(completion));
  }

  // Hands `urls` (possibly none) to the application at `applicationURL`,
  // launching it when needed.
  virtual void openURLs(const std::vector<base::Url>& urls, const base::Url& applicationURL,
                        OpenCompletion completion) = 0;
};

}  // namespace platform
