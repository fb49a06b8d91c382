#include "toolkit/qt/qt_views.h"

#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>
#include <algorithm>

#include "platform/keyboard/linux/key_table.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "toolkit/qt/qt_images.h"
#include "toolkit/qt/qt_keys.h"

namespace toolkit::qt {
namespace {

QString text(const std::string& s) {
  return QString::fromStdString(s);
}

QRect rectOf(const Rect& r) {
  return QRect(static_cast<int>(r.origin.x), static_cast<int>(r.origin.y),
               static_cast<int>(r.size.width), static_cast<int>(r.size.height));
}

// The stored modifier numbering of a Qt event's modifiers.
std::uint64_t modifierFlags(Qt::KeyboardModifiers mods) {
  std::uint64_t flags = 0;
  if (mods & Qt::ControlModifier) flags |= kCommandKeyMask;
  if (mods & Qt::ShiftModifier) flags |= kShiftKeyMask;
  if (mods & Qt::AltModifier) flags |= kOptionKeyMask;
  return flags;
}

// A list whose selection only the model changes: a click asks the model,
// which selects (or, on empty space, deselects) and tells the mirror.
class ListWidget final : public QListWidget {
 public:
  ListWidget(OutlineView& view, QWidget* parent) : QListWidget(parent), view_(view) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Cells are as wide as the list.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::DefaultContextMenu);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const int row = indexAt(event->position().toPoint()).row();
    if (row < 0) {
      view_.userClickEmpty();
    } else {
      view_.userClickRow(static_cast<std::size_t>(row),
                         event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
    }
  }
  void mouseMoveEvent(QMouseEvent*) override {}
  // Qt makes the first row current when the list takes the focus, which
  // draws it as chosen; only the model's selection shows.
  void focusInEvent(QFocusEvent* event) override {
    QListWidget::focusInEvent(event);
    showSelectedAsCurrent();
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }
  void contextMenuEvent(QContextMenuEvent* event) override {
    const QPoint pos = viewport()->mapTo(this, event->pos());
    view_.userRightClick({static_cast<double>(pos.x()), static_cast<double>(pos.y())});
  }
  void keyPressEvent(QKeyEvent* event) override {
    const QString typed = event->text().toLower();
    if (!typed.isEmpty() &&
        view_.userKeyDown(typed.toStdString(), modifierFlags(event->modifiers())))
      return;
    // Up and down move the selection as clicks would.
    const int row = view_.selectedRow();
    if (event->key() == Qt::Key_Up && row > 0) {
      view_.userClickRow(static_cast<std::size_t>(row - 1));
    } else if (event->key() == Qt::Key_Down &&
               static_cast<std::size_t>(row + 1) < view_.numberOfRows()) {
      view_.userClickRow(static_cast<std::size_t>(row + 1));
    }
  }

 public:
  // The selected row is the current one; none when nothing is selected.
  void showSelectedAsCurrent() {
    const int row = view_.selectedRow();
    if (row >= 0 && row < count()) {
      selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
    } else {
      selectionModel()->clearCurrentIndex();
    }
  }

 private:
  OutlineView& view_;
};

// A field that records one chord: the next key press with a key the table
// knows ends recording with that chord; Escape or Backspace clears.
class RecorderWidget final : public QLineEdit {
 public:
  RecorderWidget(ShortcutRecorder& recorder, QWidget* parent)
      : QLineEdit(parent), recorder_(recorder) {
    setReadOnly(true);
    setPlaceholderText("Record Shortcut");
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Backspace) {
      recorder_.userRecord(std::nullopt);
      return;
    }
    if (auto chord = chordForKeyEvent(*event)) recorder_.userRecord(chord);
  }

 private:
  ShortcutRecorder& recorder_;
};

QString chordText(const std::optional<KeyChord>& chord) {
  if (!chord) return {};
  QString out;
  if (chord->modifierFlags & (kCommandKeyMask | kControlKeyMask)) out += "Ctrl+";
  if (chord->modifierFlags & kOptionKeyMask) out += "Alt+";
  if (chord->modifierFlags & kShiftKeyMask) out += "Shift+";
  const auto keysym = platform::keys::keysymForKeyCode(chord->keyCode);
  // Printable keys by their character; others by their key code.
  if (keysym && *keysym >= 0x21 && *keysym <= 0x7e)
    return out + QChar(static_cast<char>(*keysym)).toUpper();
  return out + QString("#%1").arg(chord->keyCode);
}

// The palette's shade of a colour by meaning.
QColor colorOf(Color color, const QPalette& palette) {
  auto faded = [](QColor c, double alpha) {
    c.setAlphaF(static_cast<float>(alpha));
    return c;
  };
  switch (color) {
    case Color::clear:
      return Qt::transparent;
    case Color::label:
      return palette.color(QPalette::WindowText);
    case Color::secondaryLabel:
      return faded(palette.color(QPalette::WindowText), 0.55);
    case Color::tertiaryLabel:
      return faded(palette.color(QPalette::WindowText), 0.3);
    case Color::separator:
      return palette.color(QPalette::Mid);
    case Color::disabledControlText:
      return palette.color(QPalette::Disabled, QPalette::WindowText);
    case Color::windowBackground:
      return palette.color(QPalette::Window);
  }
  return Qt::transparent;
}

// A plain view: draws its layer (background, border, rounded corners).
class LayerWidget final : public QWidget {
 public:
  LayerWidget(const View& view, QWidget* parent) : QWidget(parent), view_(view) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    const LayerStyle& layer = view_.layer();
    if (layer.backgroundColor == Color::clear &&
        (layer.borderWidth <= 0 || layer.borderColor == Color::clear))
      return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inset = layer.borderWidth / 2;
    const QRectF rect = QRectF(this->rect()).adjusted(inset, inset, -inset, -inset);
    painter.setBrush(colorOf(layer.backgroundColor, palette()));
    if (layer.borderWidth > 0 && layer.borderColor != Color::clear) {
      painter.setPen(QPen(colorOf(layer.borderColor, palette()), layer.borderWidth));
    } else {
      painter.setPen(Qt::NoPen);
    }
    const double radius = std::min({layer.cornerRadius, rect.width() / 2, rect.height() / 2});
    painter.drawRoundedRect(rect, radius, radius);
  }

 private:
  const View& view_;
};

}  // namespace

// How one kind of view is shown.
class MirrorImpl {
 public:
  virtual ~MirrorImpl() = default;
  // Model to widget.
  virtual void sync() = 0;
};

namespace {

class PlainImpl final : public MirrorImpl {
 public:
  explicit PlainImpl(QWidget& widget) : widget_(widget) {}
  void sync() override { widget_.update(); }

 private:
  QWidget& widget_;
};

// The application's font at the model font's size and weight.
QFont fontOf(const Font& font) {
  QFont qfont = QApplication::font();
  if (font.pointSize > 0) qfont.setPointSizeF(font.pointSize);
  qfont.setBold(font.bold);
  return qfont;
}

class LabelImpl final : public MirrorImpl {
 public:
  LabelImpl(TextField& model, QLabel& label) : model_(model), label_(label) {}
  void sync() override {
    label_.setText(text(model_.stringValue()));
    label_.setFont(fontOf(model_.font()));
    QPalette palette = label_.palette();
    palette.setColor(QPalette::WindowText, colorOf(model_.textColor(), QApplication::palette()));
    label_.setPalette(palette);
  }

 private:
  TextField& model_;
  QLabel& label_;
};

class LineEditImpl final : public MirrorImpl {
 public:
  LineEditImpl(TextField& model, QLineEdit& edit) : model_(model), edit_(edit) {
    // textEdited and editingFinished come from the user only.
    QObject::connect(&edit_, &QLineEdit::textEdited,
                     [this](const QString& t) { model_.userType(t.toStdString()); });
    QObject::connect(&edit_, &QLineEdit::editingFinished, [this] { model_.userEndEditing(); });
  }
  void sync() override {
    QSignalBlocker block(&edit_);
    if (edit_.text().toStdString() != model_.stringValue())
      edit_.setText(text(model_.stringValue()));
    edit_.setPlaceholderText(text(model_.placeholder()));
    edit_.setFrame(model_.isBezeled());
    // The program's selection, when it set another one (QString counts
    // UTF-16 units, as the model does).
    if (model_.selectedRange() != shownSelection_) {
      shownSelection_ = model_.selectedRange();
      edit_.setSelection(static_cast<int>(shownSelection_.first),
                         static_cast<int>(shownSelection_.second));
    }
  }

 private:
  TextField& model_;
  QLineEdit& edit_;
  std::pair<std::size_t, std::size_t> shownSelection_{0, 0};
};

class ButtonImpl final : public MirrorImpl {
 public:
  ButtonImpl(Application& app, Button& model, QAbstractButton& button)
      : app_(app), model_(model), button_(button) {
    // `clicked` comes from the user (or click()), never from setChecked.
    QObject::connect(&button_, &QAbstractButton::clicked, [this] {
      model_.userClick();
      sync();
    });
  }
  void sync() override {
    QSignalBlocker block(&button_);
    button_.setText(text(model_.title()));
    button_.setEnabled(model_.isEnabled());
    button_.setIcon(model_.image() ? iconFor(app_, *model_.image()) : QIcon());
    if (button_.isCheckable()) button_.setChecked(model_.state() == ControlState::on);
  }

 private:
  Application& app_;
  Button& model_;
  QAbstractButton& button_;
};

class SegmentsImpl final : public MirrorImpl {
 public:
  SegmentsImpl(Application& app, SegmentedControl& model, QWidget& row)
      : app_(app), model_(model), row_(row), layout_(new QHBoxLayout(&row)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
  }
  void sync() override {
    while (buttons_.size() < model_.segmentCount()) {
      auto* button = new QToolButton(&row_);
      button->setCheckable(true);
      const std::size_t index = buttons_.size();
      QObject::connect(button, &QToolButton::clicked, [this, index] {
        model_.userClickSegment(index);
        sync();
      });
      layout_->addWidget(button);
      buttons_.push_back(button);
    }
    while (buttons_.size() > model_.segmentCount()) {
      delete buttons_.back();
      buttons_.pop_back();
    }
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
      QSignalBlocker block(buttons_[i]);
      buttons_[i]->setText(text(model_.label(i)));
      buttons_[i]->setIcon(model_.image(i) ? iconFor(app_, *model_.image(i)) : QIcon());
      buttons_[i]->setEnabled(model_.isEnabled(i));
      buttons_[i]->setChecked(model_.selectedSegment() == static_cast<int>(i));
    }
  }

 private:
  Application& app_;
  SegmentedControl& model_;
  QWidget& row_;
  QHBoxLayout* layout_;
  std::vector<QToolButton*> buttons_;
};

class ComboImpl final : public MirrorImpl {
 public:
  ComboImpl(PopUpButton& model, QComboBox& combo) : model_(model), combo_(combo) {
    // `activated` comes from the user only, even for the item already shown.
    QObject::connect(&combo_, &QComboBox::activated,
                     [this](int index) { model_.userChoose(static_cast<std::size_t>(index)); });
  }
  void sync() override {
    QSignalBlocker block(&combo_);
    combo_.clear();
    for (const auto& item : model_.items())
      combo_.addItem(text(item.title));
    combo_.setCurrentIndex(model_.indexOfSelectedItem());
  }

 private:
  PopUpButton& model_;
  QComboBox& combo_;
};

class ImageImpl final : public MirrorImpl {
 public:
  ImageImpl(Application& app, ImageView& model, QLabel& label)
      : app_(app), model_(model), label_(label) {}
  void sync() override {
    const auto size = label_.size().isEmpty() ? QSize(16, 16) : label_.size();
    label_.setPixmap(model_.image() ? pixmapFor(app_, *model_.image(), size) : QPixmap());
  }

 private:
  Application& app_;
  ImageView& model_;
  QLabel& label_;
};

class TextViewImpl final : public MirrorImpl {
 public:
  TextViewImpl(TextView& model, QTextEdit& edit) : model_(model), edit_(edit) {}
  void sync() override {
    QSignalBlocker block(&edit_);
    // Laid out as the text metrics measure it: no margin, the model's font,
    // and no scroll bar taking width from text that is read only.
    edit_.document()->setDocumentMargin(0);
    edit_.setFont(fontOf(model_.font()));
    if (edit_.toPlainText().toStdString() != model_.string())
      edit_.setPlainText(text(model_.string()));
    edit_.setReadOnly(!model_.isEditable());
    edit_.setVerticalScrollBarPolicy(model_.isEditable() ? Qt::ScrollBarAsNeeded
                                                         : Qt::ScrollBarAlwaysOff);
    edit_.setFrameShape(QFrame::NoFrame);
    edit_.viewport()->setAutoFillBackground(model_.drawsBackground());
    QPalette palette = edit_.palette();
    palette.setColor(QPalette::Base, model_.drawsBackground()
                                         ? QApplication::palette().color(QPalette::Base)
                                         : QColor(Qt::transparent));
    edit_.setPalette(palette);
  }

 private:
  TextView& model_;
  QTextEdit& edit_;
};

class RecorderImpl final : public MirrorImpl {
 public:
  RecorderImpl(ShortcutRecorder& model, RecorderWidget& widget) : model_(model), widget_(widget) {}
  void sync() override {
    widget_.setText(chordText(model_.objectValue()));
    widget_.setEnabled(model_.isEnabled());
  }

 private:
  ShortcutRecorder& model_;
  RecorderWidget& widget_;
};

class StackImpl final : public MirrorImpl {
 public:
  StackImpl(StackView& model, QWidget& widget) : model_(model), widget_(widget) {}
  void sync() override {
    const auto direction = model_.orientation() == StackView::Orientation::horizontal
                               ? QBoxLayout::LeftToRight
                               : QBoxLayout::TopToBottom;
    if (!layout_) {
      layout_ = new QBoxLayout(direction, &widget_);
      layout_->setContentsMargins(0, 0, 0, 0);
    }
    layout_->setDirection(direction);
    layout_->setSpacing(static_cast<int>(model_.spacing()));
  }
  // Puts the arranged subviews' widgets into the layout, in order.
  void arrange(const std::vector<QWidget*>& widgets) {
    sync();
    while (layout_->count() > 0)
      delete layout_->takeAt(0);
    for (QWidget* w : widgets)
      layout_->addWidget(w);
  }
  StackView& model() const { return model_; }

 private:
  StackView& model_;
  QWidget& widget_;
  QBoxLayout* layout_ = nullptr;
};

class ListImpl final : public MirrorImpl {
 public:
  ListImpl(Application& app, WidgetRegistry& registry, OutlineView& model, ListWidget& list)
      : app_(app), registry_(registry), model_(model), list_(list) {}
  void sync() override {
    std::vector<View*> cells;
    for (std::size_t row = 0; row < model_.numberOfRows(); ++row)
      cells.push_back(model_.viewAtRow(static_cast<int>(row)));
    if (cells != shownCells_) rebuild(cells);
    QSignalBlocker block(&list_);
    for (int row = 0; row < list_.count(); ++row)
      list_.item(row)->setSelected(
          model_.selectedRowIndexes().contains(static_cast<std::size_t>(row)));
    list_.showSelectedAsCurrent();
  }

 private:
  void rebuild(const std::vector<View*>& cells) {
    QSignalBlocker block(&list_);
    rows_.clear();
    list_.clear();
    shownCells_ = cells;
    for (std::size_t row = 0; row < cells.size(); ++row) {
      auto* item = new QListWidgetItem(&list_);
      const Rect rect = model_.rectOfRow(static_cast<int>(row));
      item->setSizeHint(
          QSize(static_cast<int>(rect.size.width), static_cast<int>(rect.size.height)));
      if (!cells[row]) continue;
      auto mirror =
          std::make_unique<ViewMirror>(app_, registry_, cells[row]->shared_from_this(), nullptr);
      list_.setItemWidget(item, mirror->widget());
      rows_.push_back(std::move(mirror));
    }
  }

  Application& app_;
  WidgetRegistry& registry_;
  OutlineView& model_;
  ListWidget& list_;
  std::vector<View*> shownCells_;
  std::vector<std::unique_ptr<ViewMirror>> rows_;
};

}  // namespace

ViewMirror::ViewMirror(Application& application, WidgetRegistry& registry,
                       std::shared_ptr<View> view, QWidget* parent)
    : application_(application), registry_(registry), view_(std::move(view)) {
  View& v = *view_;
  if (auto* list = dynamic_cast<OutlineView*>(&v)) {
    auto* w = new ListWidget(*list, parent);
    widget_.reset(w);
    impl_ = std::make_unique<ListImpl>(application_, registry_, *list, *w);
  } else if (auto* field = dynamic_cast<TextField*>(&v)) {
    if (field->isEditable()) {
      auto* w = new QLineEdit(parent);
      widget_.reset(w);
      impl_ = std::make_unique<LineEditImpl>(*field, *w);
    } else {
      auto* w = new QLabel(parent);
      widget_.reset(w);
      impl_ = std::make_unique<LabelImpl>(*field, *w);
    }
  } else if (auto* button = dynamic_cast<Button*>(&v)) {
    QAbstractButton* w = nullptr;
    if (button->type() == Button::Type::checkbox) {
      w = new QCheckBox(parent);
    } else {
      w = new QPushButton(parent);
      w->setCheckable(button->type() == Button::Type::toggle);
    }
    widget_.reset(w);
    impl_ = std::make_unique<ButtonImpl>(application_, *button, *w);
  } else if (auto* segments = dynamic_cast<SegmentedControl*>(&v)) {
    widget_ = std::make_unique<QWidget>(parent);
    impl_ = std::make_unique<SegmentsImpl>(application_, *segments, *widget_);
  } else if (auto* popUp = dynamic_cast<PopUpButton*>(&v)) {
    auto* w = new QComboBox(parent);
    widget_.reset(w);
    impl_ = std::make_unique<ComboImpl>(*popUp, *w);
  } else if (auto* image = dynamic_cast<ImageView*>(&v)) {
    auto* w = new QLabel(parent);
    widget_.reset(w);
    impl_ = std::make_unique<ImageImpl>(application_, *image, *w);
  } else if (auto* textView = dynamic_cast<TextView*>(&v)) {
    auto* w = new QTextEdit(parent);
    widget_.reset(w);
    impl_ = std::make_unique<TextViewImpl>(*textView, *w);
  } else if (auto* recorder = dynamic_cast<ShortcutRecorder*>(&v)) {
    auto* w = new RecorderWidget(*recorder, parent);
    widget_.reset(w);
    impl_ = std::make_unique<RecorderImpl>(*recorder, *w);
  } else if (auto* stack = dynamic_cast<StackView*>(&v)) {
    widget_ = std::make_unique<QWidget>(parent);
    impl_ = std::make_unique<StackImpl>(*stack, *widget_);
  } else {
    widget_ = std::make_unique<LayerWidget>(v, parent);
    impl_ = std::make_unique<PlainImpl>(*widget_);
  }
  registry_.add(view_.get(), widget_.get());
  connection_ = view_->changed.connect([this] { sync(); });
  sync();
}

ViewMirror::~ViewMirror() {
  view_->changed.disconnect(connection_);
  registry_.remove(view_.get());
  // Children first: their widgets are children of this one.
  children_.clear();
  impl_.reset();
}

void ViewMirror::sync() {
  const Rect& frame = view_->frame();
  if (frame.size.width > 0 && frame.size.height > 0) {
    widget_->setGeometry(rectOf(frame));
  } else {
    widget_->move(static_cast<int>(frame.origin.x), static_cast<int>(frame.origin.y));
    widget_->adjustSize();
  }
  widget_->setVisible(!view_->isHidden());
  widget_->setWindowOpacity(view_->alpha());
  impl_->sync();
  syncChildren();
}

void ViewMirror::syncChildren() {
  if (dynamic_cast<OutlineView*>(view_.get())) return;  // its rows are the list's items
  // Keep the mirrors of subviews still there, in the model's order.
  std::vector<std::unique_ptr<ViewMirror>> next;
  for (const auto& sub : view_->subviews()) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const auto& m) { return m && m->view_ == sub; });
    if (it != children_.end()) {
      next.push_back(std::move(*it));
    } else {
      next.push_back(std::make_unique<ViewMirror>(application_, registry_, sub, widget_.get()));
    }
  }
  children_ = std::move(next);
  if (auto* stack = dynamic_cast<StackImpl*>(impl_.get())) {
    std::vector<QWidget*> arranged;
    for (const auto& view : stack->model().arrangedSubviews())
      if (QWidget* w = registry_.widgetFor(view.get())) arranged.push_back(w);
    stack->arrange(arranged);
  }
}

}  // namespace toolkit::qt
