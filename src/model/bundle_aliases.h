#pragma once

// Well-known applications have other desktop-file ids on Linux than the
// bundle ids the built-in tables name ("New Window" shortcuts, the quit rule,
// addons). One small table maps the Linux id to the one those tables use;
// the tables themselves keep their own entries.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace wendrix {

class BundleIdAliases {
 public:
  using Table = std::map<std::string, std::string, std::less<>>;

  BundleIdAliases() = default;
  explicit BundleIdAliases(Table aliases) : aliases_(std::move(aliases)) {}

  // The fixed aliases ("google-chrome", "code"), plus the user's file manager
  // (the default handler of folders) as the one that owns the desktop.
  static BundleIdAliases standard(const std::optional<std::string>& fileManagerId);

  // The id the built-in tables know `bundleId` by: its alias, else itself.
  std::string_view tableId(std::string_view bundleId) const;

  const Table& table() const { return aliases_; }

 private:
  Table aliases_;
};

}  // namespace wendrix
