#pragma once

// Reading window properties: PropertyRead sends the request at once and
// takes the reply when asked, so that the reads of many windows share one
// wait; the read… functions send and wait in one step.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/xconn/connection.h"
#include "platform/xconn/pending_reply.h"

namespace platform::xconn {

// A property as the server holds it (at most 4 MB of it).
struct Property {
  Atom type = None;
  int format = 0;
  // The data of a format-8 property.
  std::string bytes;
  // The data of a format-16 or format-32 property.
  std::vector<unsigned long> values;
};

class PropertyRead {
 public:
  PropertyRead() = default;
  // Sends the read of `property` of `window` with type `type`
  // (AnyPropertyType for any).
  PropertyRead(Connection& connection, ::Window window, Atom property, Atom type = AnyPropertyType);

  // Each takes the reply once, waiting for it. Nothing when the property is
  // missing, has another type than asked, or the window is gone.
  std::optional<Property> take();
  // A format-32 property's values.
  std::optional<std::vector<unsigned long>> takeValues();
  // A format-8 property's bytes.
  std::optional<std::string> takeText();

 private:
  PendingReply reply_;
  Atom type_ = AnyPropertyType;
};

std::optional<std::vector<unsigned long>> readValues(Connection& connection, ::Window window,
                                                     Atom property, Atom type);
std::optional<std::vector<::Window>> readWindows(Connection& connection, ::Window window,
                                                 Atom property);
std::optional<std::vector<Atom>> readAtoms(Connection& connection, ::Window window, Atom property);
std::optional<std::string> readText(Connection& connection, ::Window window, Atom property,
                                    Atom type);

}  // namespace platform::xconn
