#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/shared_vector.h"
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
};

// True when both lists hold layouts of the same names in the same order.
bool sameNames(const std::vector<Layout>& a, const std::vector<Layout>& b);

}  // namespace wendrix
