#pragma once

// Two small views: a row of an image beside a title and an optional
// subtitle, and the controller of a bare 1 x 1 view (the content of the
// invisible window a status-item popover is anchored to).

#include <memory>
#include <optional>
#include <string>

#include "toolkit/controls.h"
#include "toolkit/image.h"
#include "toolkit/view.h"

namespace wendrix {

// An image in a 48 x 48 box at the left, centred in it at `imageSize`, and
// the title over the subtitle to its right; the box and the text are centred
// vertically. Without a subtitle the title is alone (the subtitle field is
// emptied and hidden).
class ItemView final : public toolkit::View {
 public:
  static constexpr double kContainerSize = 48;
  static constexpr double kDefaultImageSize = 28;
  static constexpr double kTitleHeight = 20;
  static constexpr double kSubtitleHeight = 18;
  // A line's height for each point of the title's font size.
  static constexpr double kLineSpacing = 1.6;

  explicit ItemView(toolkit::Rect frame = {});

  const std::optional<toolkit::Image>& image() const { return image_; }
  void setImage(std::optional<toolkit::Image> image);
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const std::optional<std::string>& subtitle() const { return subtitle_; }
  void setSubtitle(std::optional<std::string> subtitle);
  double imageSize() const { return imageSize_; }
  // Resizes the image inside the unchanged box.
  void setImageSize(double size);

  toolkit::View& imageContainer() const { return *container_; }
  toolkit::ImageView& imageView() const { return *imageView_; }
  toolkit::TextField& titleView() const { return *titleView_; }
  toolkit::TextField& subtitleView() const { return *subtitleView_; }

  // Places the parts in the current frame (after the frame or the title's
  // font changed).
  void layOut();

 private:
  std::optional<toolkit::Image> image_;
  std::string title_;
  std::optional<std::string> subtitle_;
  double imageSize_ = kDefaultImageSize;
  std::shared_ptr<toolkit::View> container_;
  std::shared_ptr<toolkit::ImageView> imageView_;
  std::shared_ptr<toolkit::View> textColumn_;
  std::shared_ptr<toolkit::TextField> titleView_;
  std::shared_ptr<toolkit::TextField> subtitleView_;
};

// Its view is an empty 1 x 1 view.
class EmptyViewController final : public toolkit::ViewController {
 protected:
  void loadView() override;
};

}  // namespace wendrix
