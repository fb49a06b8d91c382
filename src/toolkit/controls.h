#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/image.h"
#include "toolkit/style.h"
#include "toolkit/text_metrics.h"
#include "toolkit/view.h"

// The controls. Changes made by the program never call the callbacks marked
// "user only"; the `user…` members are what a backend (or a test driver)
// calls for the user's input.

namespace toolkit {

class TextField;

class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  // User only: editing ended (Return, or the field lost the focus) after the
  // user began editing.
  virtual void controlTextDidEndEditing(TextField& /*field*/) {}
};

// A label or an editable line of text.
class TextField : public View {
 public:
  using View::View;

  const std::string& stringValue() const { return text_; }
  void setStringValue(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string text);
  Color textColor() const { return textColor_; }
  void setTextColor(Color color);
  const Font& font() const { return font_; }
  void setFont(Font font);
  bool isEditable() const { return editable_; }
  void setEditable(bool editable);
  bool isBezeled() const { return bezeled_; }
  void setBezeled(bool bezeled);
  bool drawsBackground() const { return drawsBackground_; }
  void setDrawsBackground(bool draws);
  // The selected range of the text while editing: {location, length} in
  // UTF-16 code units; a field holding a suggestion selects all of it, so
  // that typing replaces it.
  std::pair<std::size_t, std::size_t> selectedRange() const { return selected_; }
  void setSelectedRange(std::size_t location, std::size_t length);
  // Resizes the field to its text as `metrics` measure it.
  void sizeToFit(const TextMetrics& metrics);

  std::weak_ptr<TextFieldDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<TextFieldDelegate> delegate) { delegate_ = std::move(delegate); }

  bool isEditing() const { return editing_; }
  // The user replaced the text (an editable field only); false otherwise.
  bool userType(std::string text);
  // The user pressed Return or moved the focus away.
  void userEndEditing();

 private:
  std::string text_;
  std::string placeholder_;
  Color textColor_ = Color::label;
  Font font_;
  bool editable_ = false;
  bool bezeled_ = false;
  bool drawsBackground_ = false;
  std::pair<std::size_t, std::size_t> selected_{0, 0};
  bool editing_ = false;
  std::weak_ptr<TextFieldDelegate> delegate_;
};

// A push button, a toggle or a check box.
class Button : public View {
 public:
  enum class Type { push, toggle, checkbox };
  enum class BezelStyle { rounded, regularSquare, inline_, recessed, texturedRounded, none };
  using Action = std::function<void(Button& sender)>;

  explicit Button(Type type = Type::push, Rect frame = {}) : View(frame), type_(type) {}

  Type type() const { return type_; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const std::optional<Image>& image() const { return image_; }
  void setImage(std::optional<Image> image);
  BezelStyle bezelStyle() const { return bezel_; }
  void setBezelStyle(BezelStyle style);
  ControlState state() const { return state_; }
  void setState(ControlState state);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  void setAction(Action action) { action_ = std::move(action); }

  // User only: toggles the state of a toggle or check box, then runs the
  // action. Nothing happens to a disabled button (returns false).
  bool userClick();

 private:
  Type type_;
  std::string title_;
  std::optional<Image> image_;
  BezelStyle bezel_ = BezelStyle::rounded;
  ControlState state_ = ControlState::off;
  bool enabled_ = true;
  Action action_;
};

// A row of segments, each enabled or not, at most one selected.
class SegmentedControl : public View {
 public:
  using Action = std::function<void(SegmentedControl& sender)>;
  using View::View;

  std::size_t segmentCount() const { return segments_.size(); }
  void setSegmentCount(std::size_t count);
  const std::string& label(std::size_t segment) const;
  void setLabel(std::string label, std::size_t segment);
  void setImage(std::optional<Image> image, std::size_t segment);
  const std::optional<Image>& image(std::size_t segment) const;
  bool isEnabled(std::size_t segment) const;
  void setEnabled(bool enabled, std::size_t segment);
  // -1 when none is selected.
  int selectedSegment() const { return selected_; }
  void setSelectedSegment(int segment);
  void setAction(Action action) { action_ = std::move(action); }

  // User only: a click on an enabled segment selects it and runs the action
  // (the sender's `selectedSegment` is that segment); false otherwise.
  bool userClickSegment(std::size_t segment);

 private:
  struct Segment {
    std::string label;
    std::optional<Image> image;
    bool enabled = true;
  };
  std::vector<Segment> segments_;
  int selected_ = -1;
  Action action_;
};

// A button that shows one item of a list and lets the user pick another.
class PopUpButton : public View {
 public:
  struct Item {
    std::string title;
    std::any representedObject;
  };
  using Action = std::function<void(PopUpButton& sender)>;
  using View::View;

  const std::vector<Item>& items() const { return items_; }
  void addItem(std::string title, std::any representedObject = {});
  void removeAllItems();
  // -1 when none is selected.
  int indexOfSelectedItem() const { return selected_; }
  const Item* selectedItem() const;
  // Selects the item (-1 or an index out of range: none). Never runs the action.
  void selectItem(int index);
  void setAction(Action action) { action_ = std::move(action); }

  // User only: the user picked an item; the action runs even when it was
  // already selected. False for an index out of range.
  bool userChoose(std::size_t index);

 private:
  std::vector<Item> items_;
  int selected_ = -1;
  Action action_;
};

// Lays its arranged subviews out in a row or a column, in order.
class StackView : public View {
 public:
  enum class Orientation { horizontal, vertical };
  enum class Alignment { leading, center, trailing, top, bottom, fill };
  using View::View;

  const std::vector<std::shared_ptr<View>>& arrangedSubviews() const { return arranged_; }
  void addArrangedSubview(std::shared_ptr<View> view);
  // The view stays a subview until removed from it too.
  void removeArrangedSubview(const View& view);
  Orientation orientation() const { return orientation_; }
  void setOrientation(Orientation orientation);
  double spacing() const { return spacing_; }
  void setSpacing(double spacing);
  Alignment alignment() const { return alignment_; }
  void setAlignment(Alignment alignment);

 private:
  std::vector<std::shared_ptr<View>> arranged_;
  Orientation orientation_ = Orientation::horizontal;
  double spacing_ = 8;
  Alignment alignment_ = Alignment::center;
};

class ImageView : public View {
 public:
  enum class Scaling { proportionallyDown, axesIndependently, none, proportionallyUpOrDown };
  using View::View;

  const std::optional<Image>& image() const { return image_; }
  void setImage(std::optional<Image> image);
  Scaling scaling() const { return scaling_; }
  void setScaling(Scaling scaling);

 private:
  std::optional<Image> image_;
  Scaling scaling_ = Scaling::proportionallyDown;
};

// Multi-line text.
class TextView : public View {
 public:
  using View::View;

  const std::string& string() const { return text_; }
  void setString(std::string text);
  const Font& font() const { return font_; }
  void setFont(Font font);
  bool isEditable() const { return editable_; }
  void setEditable(bool editable);
  bool drawsBackground() const { return drawsBackground_; }
  void setDrawsBackground(bool draws);
  // The height the text takes when laid out `width` wide.
  double usedHeight(const TextMetrics& metrics, double width) const;

 private:
  std::string text_;
  Font font_;
  bool editable_ = true;
  bool drawsBackground_ = true;
};

// One keyboard chord in the stored numbering: a virtual key code and a
// modifier-flags mask (see the k…KeyMask constants of menu.h).
struct KeyChord {
  std::uint16_t keyCode = 0;
  std::uint64_t modifierFlags = 0;
  friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

class ShortcutRecorder;

class ShortcutRecorderDelegate {
 public:
  virtual ~ShortcutRecorderDelegate() = default;
  // User only: recording ended, with a chord or cleared.
  virtual void recorderDidEndRecording(ShortcutRecorder& /*recorder*/) {}
};

// Records one keyboard chord.
class ShortcutRecorder : public View {
 public:
  using View::View;

  const std::optional<KeyChord>& objectValue() const { return value_; }
  // Never calls the delegate.
  void setObjectValue(std::optional<KeyChord> value);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);

  std::weak_ptr<ShortcutRecorderDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<ShortcutRecorderDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // User only: the user pressed `chord` while recording (or cleared the value
  // with Escape or the clear button when none); recording ends and the delegate
  // is told. False when the recorder is disabled.
  bool userRecord(std::optional<KeyChord> chord);

 private:
  std::optional<KeyChord> value_;
  bool enabled_ = true;
  std::weak_ptr<ShortcutRecorderDelegate> delegate_;
};

// A cell of an outline view: optional text and image, plus whatever
// subclasses add.
class TableCellView : public View {
 public:
  using View::View;

  TextField* textField() const { return textField_.get(); }
  ImageView* imageView() const { return imageView_.get(); }
  // Adds the view as a subview and remembers it as the cell's text or image.
  void setTextField(std::shared_ptr<TextField> field);
  void setImageView(std::shared_ptr<ImageView> view);

 private:
  std::shared_ptr<TextField> textField_;
  std::shared_ptr<ImageView> imageView_;
};

}  // namespace toolkit
