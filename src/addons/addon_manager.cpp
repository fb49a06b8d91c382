#include "addons/addon_manager.h"

#include "addons/regex.h"
#include "addons/sourcetree_addon.h"
#include "addons/vscode_addon.h"
#include "addons/xcode_addon.h"
#include "base/shared_slot.h"

namespace wendrix {

namespace {

// Remote windows: "name [SSH: host]". Held by the editor's addon, not used.
constexpr std::string_view kSshPattern = R"(\s\[SSH:\s+([^\]\[]+)\]$)";
// A name ending in a blank and a parenthesised suffix: "name (Workspace)".
constexpr std::string_view kWorkspacePattern = R"(\s\([^\(\)]+\)$)";

base::SharedSlot<AddonManager>& sharedSlot() {
  static base::SharedSlot<AddonManager> slot;
  return slot;
}

}  // namespace

AddonManager::AddonManager(std::shared_ptr<const BundleIdAliases> aliases)
    : aliases_(std::move(aliases)) {
  addonMap_.emplace(kXcodeBundleId, std::make_shared<XcodeAddon>());
  addonMap_.emplace(kSourcetreeBundleId, std::make_shared<SourcetreeAddon>());
  // Compiled when first used: few runs restore an editor's workspace.
  addonMap_.emplace(kVSCodeBundleId, std::make_shared<VSCodeAddon>(
                                         addons::Regex::compileWhenUsed(
                                             kSshPattern, addons::Regex::Options::caseInsensitive),
                                         addons::Regex::compileWhenUsed(kWorkspacePattern)));
}

std::shared_ptr<AddonManager> AddonManager::shared() {
  return sharedSlot().getOrMake([] { return std::make_shared<AddonManager>(); });
}

void AddonManager::configureShared(std::shared_ptr<const BundleIdAliases> aliases) {
  sharedSlot().exchange(std::make_shared<AddonManager>(std::move(aliases)));
}

void AddonManager::setSharedForTesting(std::shared_ptr<AddonManager> instance) {
  sharedSlot().exchange(std::move(instance));
}

const Addon* AddonManager::addonFor(std::string_view bundleIdentifier) const {
  // The table keeps the identifiers the addons are known by. Applications
  // found under other identifiers on this desktop (desktop-file ids such as
  // "code") are mapped to them here, by the alias table of well-known
  // applications.
  const auto it = addonMap_.find(aliases_ ? aliases_->tableId(bundleIdentifier) : bundleIdentifier);
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
