#include "toolkit/controls.h"

#include <algorithm>

#include "base/utf8.h"

namespace toolkit {

// Setters of plain properties: store, then tell the backend.
#define TOOLKIT_SETTER(Class, name, member, Type) \
  void Class::name(Type value) {                  \
    member = std::move(value);                    \
    changed.emit();                               \
  }

TOOLKIT_SETTER(TextField, setPlaceholder, placeholder_, std::string)
TOOLKIT_SETTER(TextField, setTextColor, textColor_, Color)
TOOLKIT_SETTER(TextField, setFont, font_, Font)
TOOLKIT_SETTER(TextField, setEditable, editable_, bool)
TOOLKIT_SETTER(TextField, setBezeled, bezeled_, bool)
TOOLKIT_SETTER(TextField, setDrawsBackground, drawsBackground_, bool)
TOOLKIT_SETTER(Button, setTitle, title_, std::string)
TOOLKIT_SETTER(Button, setImage, image_, std::optional<Image>)
TOOLKIT_SETTER(Button, setBezelStyle, bezel_, BezelStyle)
TOOLKIT_SETTER(Button, setState, state_, ControlState)
TOOLKIT_SETTER(Button, setEnabled, enabled_, bool)
TOOLKIT_SETTER(StackView, setOrientation, orientation_, Orientation)
TOOLKIT_SETTER(StackView, setSpacing, spacing_, double)
TOOLKIT_SETTER(StackView, setAlignment, alignment_, Alignment)
TOOLKIT_SETTER(ImageView, setImage, image_, std::optional<Image>)
TOOLKIT_SETTER(ImageView, setScaling, scaling_, Scaling)
TOOLKIT_SETTER(TextView, setString, text_, std::string)
TOOLKIT_SETTER(TextView, setFont, font_, Font)
TOOLKIT_SETTER(TextView, setEditable, editable_, bool)
TOOLKIT_SETTER(TextView, setDrawsBackground, drawsBackground_, bool)
TOOLKIT_SETTER(ShortcutRecorder, setObjectValue, value_, std::optional<KeyChord>)
TOOLKIT_SETTER(ShortcutRecorder, setEnabled, enabled_, bool)

#undef TOOLKIT_SETTER

void TextField::setStringValue(std::string text) {
  text_ = std::move(text);
  selected_ = {std::min(selected_.first, base::utf16Length(text_)), 0};
  changed.emit();
}

void TextField::setSelectedRange(std::size_t location, std::size_t length) {
  const std::size_t units = base::utf16Length(text_);
  location = std::min(location, units);
  selected_ = {location, std::min(length, units - location)};
  changed.emit();
}

void TextField::sizeToFit(const TextMetrics& metrics) {
  Size size = metrics.measure(text_.empty() ? placeholder_ : text_, font_, 0);
  setFrame({frame().origin, size});
}

bool TextField::userType(std::string text) {
  if (!editable_ || isHidden()) return false;
  editing_ = true;
  text_ = std::move(text);
  selected_ = {base::utf16Length(text_), 0};
  changed.emit();
  return true;
}

void TextField::userEndEditing() {
  if (!editing_) return;
  editing_ = false;
  changed.emit();
  if (auto delegate = delegate_.lock()) delegate->controlTextDidEndEditing(*this);
}

bool Button::userClick() {
  if (!enabled_ || isHidden()) return false;
  if (type_ != Type::push) {
    state_ = state_ == ControlState::on ? ControlState::off : ControlState::on;
    changed.emit();
  }
  // A copy: the action may replace itself.
  if (auto action = action_) action(*this);
  return true;
}

void SegmentedControl::setSegmentCount(std::size_t count) {
  segments_.resize(count);
  if (selected_ >= static_cast<int>(count)) selected_ = -1;
  changed.emit();
}

namespace {
const std::string kNoLabel;
const std::optional<Image> kNoImage;
}  // namespace

const std::string& SegmentedControl::label(std::size_t segment) const {
  return segment < segments_.size() ? segments_[segment].label : kNoLabel;
}

void SegmentedControl::setLabel(std::string label, std::size_t segment) {
  if (segment >= segments_.size()) return;
  segments_[segment].label = std::move(label);
  changed.emit();
}

const std::optional<Image>& SegmentedControl::image(std::size_t segment) const {
  return segment < segments_.size() ? segments_[segment].image : kNoImage;
}

void SegmentedControl::setImage(std::optional<Image> image, std::size_t segment) {
  if (segment >= segments_.size()) return;
  segments_[segment].image = std::move(image);
  changed.emit();
}

bool SegmentedControl::isEnabled(std::size_t segment) const {
  return segment < segments_.size() && segments_[segment].enabled;
}

void SegmentedControl::setEnabled(bool enabled, std::size_t segment) {
  if (segment >= segments_.size()) return;
  segments_[segment].enabled = enabled;
  changed.emit();
}

void SegmentedControl::setSelectedSegment(int segment) {
  selected_ = segment >= 0 && segment < static_cast<int>(segments_.size()) ? segment : -1;
  changed.emit();
}

bool SegmentedControl::userClickSegment(std::size_t segment) {
  if (!isEnabled(segment) || isHidden()) return false;
  selected_ = static_cast<int>(segment);
  changed.emit();
  if (auto action = action_) action(*this);
  return true;
}

void PopUpButton::addItem(std::string title, std::any representedObject) {
  items_.push_back({std::move(title), std::move(representedObject)});
  if (selected_ < 0) selected_ = 0;
  changed.emit();
}

void PopUpButton::removeAllItems() {
  items_.clear();
  selected_ = -1;
  changed.emit();
}

const PopUpButton::Item* PopUpButton::selectedItem() const {
  return selected_ >= 0 ? &items_[static_cast<std::size_t>(selected_)] : nullptr;
}

void PopUpButton::selectItem(int index) {
  selected_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1;
  changed.emit();
}

bool PopUpButton::userChoose(std::size_t index) {
  if (index >= items_.size() || isHidden()) return false;
  selected_ = static_cast<int>(index);
  changed.emit();
  if (auto action = action_) action(*this);
  return true;
}

void StackView::addArrangedSubview(std::shared_ptr<View> view) {
  if (!view) return;
  arranged_.push_back(view);
  addSubview(std::move(view));
}

void StackView::removeArrangedSubview(const View& view) {
  std::erase_if(arranged_, [&](const auto& v) { return v.get() == &view; });
  changed.emit();
}

double TextView::usedHeight(const TextMetrics& metrics, double width) const {
  return metrics.measure(text_, font_, width).height;
}

bool ShortcutRecorder::userRecord(std::optional<KeyChord> chord) {
  if (!enabled_ || isHidden()) return false;
  value_ = chord;
  changed.emit();
  if (auto delegate = delegate_.lock()) delegate->recorderDidEndRecording(*this);
  return true;
}

void TableCellView::setTextField(std::shared_ptr<TextField> field) {
  if (textField_) textField_->removeFromSuperview();
  textField_ = std::move(field);
  if (textField_) addSubview(textField_);
}

void TableCellView::setImageView(std::shared_ptr<ImageView> view) {
  if (imageView_) imageView_->removeFromSuperview();
  imageView_ = std::move(view);
  if (imageView_) addSubview(imageView_);
}

}  // namespace toolkit
