#include "platform/xconn/property.h"

namespace platform::xconn {

PropertyRead::PropertyRead(Connection& connection, ::Window window, Atom property, Atom type)
    : type_(type) {
  if (connection.broken()) return;
  // Up to 4 MB: far more than any property we read should hold.
  const auto cookie = xcb_get_property(connection.xcb(), 0, static_cast<xcb_window_t>(window),
                                       static_cast<xcb_atom_t>(property),
                                       static_cast<xcb_atom_t>(type), 0, 1u << 20);
  reply_ = PendingReply(connection, cookie.sequence);
}

std::optional<Property> PropertyRead::take() {
  auto reply = reply_.take<xcb_get_property_reply_t>();
  if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
  if (type_ != AnyPropertyType && reply->type != type_) return std::nullopt;
  Property property;
  property.type = reply->type;
  property.format = reply->format;
  const auto* data = static_cast<const unsigned char*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get());
  if (reply->format == 8) {
    property.bytes.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
  } else if (reply->format == 16) {
    const auto* items = reinterpret_cast<const std::uint16_t*>(data);
    property.values.assign(items, items + length / 2);
  } else if (reply->format == 32) {
    const auto* items = reinterpret_cast<const std::uint32_t*>(data);
    property.values.assign(items, items + length / 4);
  }
  return property;
}

std::optional<std::vector<unsigned long>> PropertyRead::takeValues() {
  auto property = take();
  if (!property || property->format != 32) return std::nullopt;
  return std::move(property->values);
}

std::optional<std::string> PropertyRead::takeText() {
  auto property = take();
  if (!property || property->format != 8) return std::nullopt;
  return std::move(property->bytes);
}

std::optional<std::vector<unsigned long>> readValues(Connection& connection, ::Window window,
                                                     Atom property, Atom type) {
  return PropertyRead(connection, window, property, type).takeValues();
}

std::optional<std::vector<::Window>> readWindows(Connection& connection, ::Window window,
                                                 Atom property) {
  return readValues(connection, window, property, XA_WINDOW);
}

std::optional<std::vector<Atom>> readAtoms(Connection& connection, ::Window window, Atom property) {
  return readValues(connection, window, property, XA_ATOM);
}

std::optional<std::string> readText(Connection& connection, ::Window window, Atom property,
                                    Atom type) {
  return PropertyRead(connection, window, property, type).takeText();
}

}  // namespace platform::xconn
