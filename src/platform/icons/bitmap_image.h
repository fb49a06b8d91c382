#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// A bitmap of premultiplied 32-bit ARGB pixels (alpha in the top byte), rows
// from top to bottom, no padding between rows: the layout of a cairo ARGB32
// image surface. One point is one pixel. A default image is empty (0 by 0).
class Image {
 public:
  Image() = default;
  // A fully transparent image; a negative size counts as 0.
  Image(int width, int height);
  // An image of one colour.
  static Image filled(int width, int height, std::uint32_t argb);

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0 || height_ == 0; }

  // The pixel at column `x`, row `y` (0, 0 is the top left); 0 outside.
  std::uint32_t pixel(int x, int y) const;
  void setPixel(int x, int y, std::uint32_t argb);

  std::uint32_t* data() { return pixels_.data(); }
  const std::uint32_t* data() const { return pixels_.data(); }
  int strideBytes() const { return width_ * 4; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> pixels_;
};

}  // namespace platform
