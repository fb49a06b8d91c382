#pragma once

#include <memory>
#include <string>

#include "platform/icons/bitmap_image.h"
#include "toolkit/geometry.h"

namespace toolkit {

// An image by reference: a named image of the program, a system symbol, an
// image file, or pixels the program made (an application's icon). Backends
// load it; the model compares references (pixels by identity).
struct Image {
  enum class Kind { named, symbol, file, pixels };

  Kind kind = Kind::named;
  // The image's name, symbol name or file path.
  std::string name;
  // The size it is drawn at; zero means its natural size.
  Size size;
  // The pixels of a `pixels` image.
  std::shared_ptr<const platform::Image> bitmap;

  static Image named(std::string name) { return {Kind::named, std::move(name), {}, nullptr}; }
  static Image symbol(std::string name) { return {Kind::symbol, std::move(name), {}, nullptr}; }
  static Image file(std::string path) { return {Kind::file, std::move(path), {}, nullptr}; }
  static Image fromPixels(platform::Image pixels) {
    Image image{Kind::pixels, {}, {}, nullptr};
    image.size = {static_cast<double>(pixels.width()), static_cast<double>(pixels.height())};
    image.bitmap = std::make_shared<const platform::Image>(std::move(pixels));
    return image;
  }
  Image withSize(Size s) const {
    Image copy = *this;
    copy.size = s;
    return copy;
  }

  friend bool operator==(const Image&, const Image&) = default;
};

}  // namespace toolkit
