#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "base/result.h"
#include "coding/plist_view.h"
#include "coding/reader.h"
#include "coding/value.h"
#include "model/rect.h"

namespace wendrix {

// One saved window.
struct IWindow {
  std::string title;
  Rect rect;
  // Position in the application's captured window list, from 0.
  std::int64_t index = 0;
  // The window's document as the window system reports it.
  std::optional<std::string> doc;
  // Opaque state written by the application's addon.
  std::optional<base::Bytes> addonState;

  // Title, rect, index and doc; addonState takes no part.
  friend bool operator==(const IWindow& a, const IWindow& b);

  coding::Value encode() const;
  static base::Result<IWindow> decode(const coding::Reader& reader);
  // As decode over the Value of `object`, read in place; nullopt where
  // decode would fail, and where it might (the caller then decodes the tree).
  static std::optional<IWindow> decodeStored(const coding::PlistObject& object);
};

}  // namespace wendrix
