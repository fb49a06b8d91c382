#include "addons/addon_manager.h"

#include <mutex>

#include "addons/regex.h"
#include "addons/sourcetree_addon.h"
#include "addons/vscode_addon.h"
#include "addons/xcode_addon.h"

namespace wendrix {

namespace {

// Remote windows: "name [SSH: host]". Held by the editor's addon, not used.
constexpr std::string_view kSshPattern = R"(\s\[SSH:\s+([^\]\[]+)\]$)";
// A name ending in a blank and a parenthesised suffix: "name (Workspace)".
constexpr std::string_view kWorkspacePattern = R"(\s\([^\(\)]+\)$)";

struct SharedInstance {
  std::mutex mutex;
  std::shared_ptr<AddonManager> instance;
};

SharedInstance& sharedInstance() {
  static SharedInstance shared;
  return shared;
}

}  // namespace

AddonManager::AddonManager() {
  addonMap_.emplace(kXcodeBundleId, std::make_shared<XcodeAddon>());
  addonMap_.emplace(kSourcetreeBundleId, std::make_shared<SourcetreeAddon>());
  addonMap_.emplace(kVSCodeBundleId, std::make_shared<VSCodeAddon>(
                                         addons::Regex::compile(
                                             kSshPattern, addons::Regex::Options::caseInsensitive),
                                         addons::Regex::compile(kWorkspacePattern)));
}

std::shared_ptr<AddonManager> AddonManager::shared() {
  auto& shared = sharedInstance();
  std::lock_guard lock(shared.mutex);
  if (!shared.instance) shared.instance = std::make_shared<AddonManager>();
  return shared.instance;
}

void AddonManager::resetShared() {
  auto& shared = sharedInstance();
  std::lock_guard lock(shared.mutex);
  shared.instance.reset();
}

const Addon* AddonManager::addonFor(std::string_view bundleIdentifier) const {
  // The table keeps the identifiers the addons are known by. Applications
  // found under other identifiers on this desktop (desktop-file ids such as
  // "code") are mapped to them here, by the alias table of well-known
  // applications, once that table exists.
  const auto it = addonMap_.find(bundleIdentifier);
  return it == addonMap_.end() ? nullptr : it->second.get();
}

std::optional<base::Bytes> AddonManager::encodedState(const winsys::Window& window) const {
  const auto application = window.application();
  if (!application) return std::nullopt;
  const auto bundleIdentifier = application->bundleIdentifier();
  if (!bundleIdentifier) return std::nullopt;
  const Addon* addon = addonFor(*bundleIdentifier);
  return addon ? addon->encodedState(window) : std::nullopt;
}

}  // namespace wendrix
