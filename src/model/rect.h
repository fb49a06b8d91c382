#pragma once

#include <optional>

#include "base/result.h"
#include "coding/plist_view.h"
#include "coding/reader.h"
#include "coding/value.h"

namespace wendrix {

// A window frame in the window system's screen coordinates.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  // Exact comparison of all four numbers.
  friend bool operator==(const Rect&, const Rect&) = default;

  // [[x, y], [width, height]]. Reading ignores elements after the second of
  // each array.
  coding::Value encode() const;
  static base::Result<Rect> decode(const coding::Reader& reader);
  // As decode over the Value of `object`, read in place; nullopt where
  // decode would fail, and where it might (the caller then decodes the tree).
  static std::optional<Rect> decodeStored(const coding::PlistObject& object);
};

}  // namespace wendrix
