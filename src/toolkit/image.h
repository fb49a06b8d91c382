#pragma once

#include <string>

#include "toolkit/geometry.h"

namespace toolkit {

// An image by reference: a named image of the program, a system symbol, or an
// image file. Backends load it; the model compares references.
struct Image {
  enum class Kind { named, symbol, file };

  Kind kind = Kind::named;
  // The image's name, symbol name or file path.
  std::string name;
  // The size it is drawn at; zero means its natural size.
  Size size;

  static Image named(std::string name) { return {Kind::named, std::move(name), {}}; }
  static Image symbol(std::string name) { return {Kind::symbol, std::move(name), {}}; }
  static Image file(std::string path) { return {Kind::file, std::move(path), {}}; }
  Image withSize(Size s) const {
    Image copy = *this;
    copy.size = s;
    return copy;
  }

  friend bool operator==(const Image&, const Image&) = default;
};

}  // namespace toolkit
