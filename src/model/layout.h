#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/shared_vector.h"
#include "coding/plist_view.h"
#include "coding/reader.h"
#include "coding/value.h"
#include "model/app.h"

namespace wendrix {

// A named saved layout. Layouts are told apart by exact, case-sensitive name;
// there is no equality of whole layouts.
struct Layout {
  std::string name;
  // Shared by copies of the layout until one changes them.
  base::SharedVector<IApp> apps;
  // Absent (never set), false or true; true closes the applications not in
  // the layout when it is restored.
  std::optional<bool> alwaysCloseOtherApps;

  // The layout that saving produces: the applications that have windows, in
  // order, with alwaysCloseOtherApps false.
  static Layout initWithApps(std::string name, const std::vector<IApp>& apps);

  coding::Value encode() const;
  static base::Result<Layout> decode(const coding::Reader& reader);
  // As decode over the Value of `object`, read in place; nullopt where
  // decode would fail, and where it might (the caller then decodes the tree).
  static std::optional<Layout> decodeStored(const coding::PlistObject& object);
};

// True when both lists hold layouts of the same names in the same order.
// The list of layouts stored as `bytes` (a binary property list), read in
// place without the Value tree, as decoding each record of the tree gives
// it; nullopt when the bytes or any record do not read so.
std::optional<std::vector<Layout>> decodeStoredLayouts(std::span<const std::uint8_t> bytes);

bool sameNames(const std::vector<Layout>& a, const std::vector<Layout>& b);

}  // namespace wendrix
