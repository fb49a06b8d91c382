#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Who the program is: the values of its own information dictionary. The
// program makes it from its generated build information and installs it
// once, before the first use of anything below it that names the program's
// folders or secrets (the user-defaults file, the SDK's install id, data
// folder and keychain service name). Libraries read it; none spells it out.
struct AppIdentity {
  std::string bundleName;        // CFBundleName, "Wendrix"
  std::string bundleIdentifier;  // CFBundleIdentifier; names the program's folders and secrets
  std::string bundleVersion;     // CFBundleVersion, the integer build number as text
  std::string shortVersion;      // CFBundleShortVersionString
  // Boolean switches of the information dictionary, by key.
  std::map<std::string, bool, std::less<>> switches;

  // The switch under `key`; `absent` when the dictionary has none.
  bool switchOn(std::string_view key, bool absent) const;

  // The installed identity. Reading it before `install` is a wiring error
  // and aborts with a message.
  static AppIdentity current();
  // Installs the identity once; a later call changes nothing and answers
  // false.
  static bool install(AppIdentity identity);
  // Makes `identity` the installed one; none forgets it.
  static void setSharedForTesting(std::optional<AppIdentity> identity = std::nullopt);
};

}  // namespace platform
