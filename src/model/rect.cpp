#include "model/rect.h"

#include <utility>

namespace wendrix {
namespace {

base::Result<std::pair<double, double>> decodePair(const coding::Reader& reader) {
  auto elements = reader.elements();
  if (!elements) return elements.error();
  if (elements->size() < 2) {
    return reader.error(coding::ErrorCode::valueNotFound, "expected two numbers");
  }
  auto first = (*elements)[0].number();
  if (!first) return first.error();
  auto second = (*elements)[1].number();
  if (!second) return second.error();
  return std::pair(*first, *second);
}

std::optional<std::pair<double, double>> storedPair(const coding::PlistObject& object) {
  if (object.size() < 2) return std::nullopt;
  const auto first = object[0].number();
  const auto second = object[1].number();
  if (!first || !second) return std::nullopt;
  return std::pair(*first, *second);
}

}  // namespace

coding::Value Rect::encode() const {
  return coding::arrayOf(coding::arrayOf(x, y), coding::arrayOf(width, height));
}

base::Result<Rect> Rect::decode(const coding::Reader& reader) {
  auto elements = reader.elements();
  if (!elements) return elements.error();
  if (elements->size() < 2) {
    return reader.error(coding::ErrorCode::valueNotFound, "expected origin and size");
  }
  auto origin = decodePair((*elements)[0]);
  if (!origin) return origin.error();
  auto size = decodePair((*elements)[1]);
  if (!size) return size.error();
  return Rect{origin->first, origin->second, size->first, size->second};
}

std::optional<Rect> Rect::decodeStored(const coding::PlistObject& object) {
  if (object.size() < 2) return std::nullopt;
  const auto origin = storedPair(object[0]);
  const auto size = storedPair(object[1]);
  if (!origin || !size) return std::nullopt;
  return Rect{origin->first, origin->second, size->first, size->second};
}

}  // namespace wendrix
