#include "platform/icons/bitmap_image.h"

#include <algorithm>
#include <cstddef>

namespace platform {

Image::Image(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0u) {
  if (pixels_.empty()) width_ = height_ = 0;
}

Image Image::filled(int width, int height, std::uint32_t argb) {
  Image image(width, height);
  std::fill(image.pixels_.begin(), image.pixels_.end(), argb);
  return image;
}

std::uint32_t Image::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                 static_cast<std::size_t>(x)];
}

void Image::setPixel(int x, int y, std::uint32_t argb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
          static_cast<std::size_t>(x)] = argb;
}

}  // namespace platform
