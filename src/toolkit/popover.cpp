#include "toolkit/popover.h"

#include "toolkit/application.h"

namespace toolkit {

Popover::~Popover() {
  if (shown_) application_.notePopoverClosed(this);
}

void Popover::show(Rect rect, View& view, RectEdge edge) {
  anchor_ = {rect, &view, edge};
  if (shown_) return;
  shown_ = true;
  application_.notePopoverShown(this);
  if (content_) content_->appear(application_);
  if (auto delegate = delegate_.lock()) delegate->popoverDidShow(*this);
}

void Popover::close() {
  if (!shown_) return;
  shown_ = false;
  application_.notePopoverClosed(this);
  if (content_) content_->disappear();
  if (auto delegate = delegate_.lock()) delegate->popoverDidClose(*this);
}

}  // namespace toolkit
