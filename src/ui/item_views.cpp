#include "ui/item_views.h"

#include <algorithm>
#include <utility>

namespace wendrix {

ItemView::ItemView(toolkit::Rect frame)
    : View(frame),
      container_(std::make_shared<toolkit::View>()),
      imageView_(std::make_shared<toolkit::ImageView>()),
      textColumn_(std::make_shared<toolkit::View>()),
      titleView_(std::make_shared<toolkit::TextField>()),
      subtitleView_(std::make_shared<toolkit::TextField>()) {
  imageView_->setScaling(toolkit::ImageView::Scaling::proportionallyUpOrDown);
  for (auto* field : {titleView_.get(), subtitleView_.get()}) {
    field->setEditable(false);
    field->setBezeled(false);
    field->setDrawsBackground(false);
  }
  subtitleView_->setTextColor(toolkit::Color::secondaryLabel);
  subtitleView_->setHidden(true);
  container_->addSubview(imageView_);
  textColumn_->addSubview(titleView_);
  textColumn_->addSubview(subtitleView_);
  addSubview(container_);
  addSubview(textColumn_);
  layOut();
}

void ItemView::setImage(std::optional<toolkit::Image> image) {
  image_ = image;
  imageView_->setImage(std::move(image));
}

void ItemView::setTitle(std::string title) {
  title_ = title;
  titleView_->setStringValue(std::move(title));
}

void ItemView::setSubtitle(std::optional<std::string> subtitle) {
  subtitle_ = std::move(subtitle);
  // A stale subtitle would describe something else: none empties the field.
  subtitleView_->setStringValue(subtitle_.value_or(""));
  subtitleView_->setHidden(!subtitle_);
  layOut();
}

void ItemView::setImageSize(double size) {
  imageSize_ = size;
  layOut();
}

void ItemView::layOut() {
  const toolkit::Size size = frame().size;
  container_->setFrame({{0, (size.height - kContainerSize) / 2}, {kContainerSize, kContainerSize}});
  const double offset = (kContainerSize - imageSize_) / 2;
  imageView_->setFrame({{offset, offset}, {imageSize_, imageSize_}});

  const double width = size.width > kContainerSize ? size.width - kContainerSize : 0;
  // A title in a large font takes a taller line.
  const double titleHeight = std::max(kTitleHeight, titleView_->font().pointSize * kLineSpacing);
  const double height = titleHeight + (subtitle_ ? kSubtitleHeight : 0);
  textColumn_->setFrame({{kContainerSize, (size.height - height) / 2}, {width, height}});
  titleView_->setFrame({{0, 0}, {width, titleHeight}});
  subtitleView_->setFrame({{0, titleHeight}, {width, kSubtitleHeight}});
}

void EmptyViewController::loadView() {
  setView(std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {1, 1}}));
}

}  // namespace wendrix
