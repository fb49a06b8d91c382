#include "toolkit/popover.h"

#include "toolkit/application.h"
#include "toolkit/window.h"

namespace toolkit {

Popover::~Popover() {
  if (shown_) application_.notePopoverClosed(this);
}

void Popover::show(Rect rect, View& view, RectEdge edge) {
  anchor_ = {rect, &view, edge};
  if (shown_) return;
  shown_ = true;
  if (content_) {
    const auto& contentView = content_->view();
    const Size size = contentSize_.width > 0 && contentSize_.height > 0 ? contentSize_
                                                                        : contentView->frame().size;
    window_ = std::make_shared<Window>(application_, Rect{{0, 0}, size}, WindowStyle::popover);
    window_->setContentView(contentView);
    window_->orderFront();
  }
  application_.notePopoverShown(this);
  if (content_) content_->appear(application_);
  if (auto delegate = delegate_.lock()) delegate->popoverDidShow(*this);
}

void Popover::close() {
  if (!shown_) return;
  shown_ = false;
  application_.notePopoverClosed(this);
  if (content_) content_->disappear();
  // The content leaves the window, which goes.
  if (auto window = std::move(window_)) {
    window->close();
    window->setContentView(nullptr);
  }
  if (auto delegate = delegate_.lock()) delegate->popoverDidClose(*this);
}

}  // namespace toolkit
