#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/window.h"

namespace toolkit {

class Application;

// A message with buttons; the first button answers kAlertFirstButtonReturn,
// the next one more, and so on. Shown as a sheet on a window or run modally.
class Alert : public Sheet, public std::enable_shared_from_this<Alert> {
 public:
  enum class Style { warning, informational, critical };

  const std::string& messageText() const { return messageText_; }
  void setMessageText(std::string text) { messageText_ = std::move(text); }
  const std::string& informativeText() const { return informativeText_; }
  void setInformativeText(std::string text) { informativeText_ = std::move(text); }
  Style style() const { return style_; }
  void setStyle(Style style) { style_ = style; }
  // Adds a button after the others.
  void addButton(std::string title) { buttons_.push_back(std::move(title)); }
  const std::vector<std::string>& buttons() const { return buttons_; }
  // The answer of the button at `index`.
  static ModalResponse responseOfButton(std::size_t index) {
    return kAlertFirstButtonReturn + static_cast<ModalResponse>(index);
  }
  // A view shown under the message (a text field to fill in, say), or null.
  const std::shared_ptr<View>& accessoryView() const { return accessory_; }
  void setAccessoryView(std::shared_ptr<View> view) { accessory_ = std::move(view); }

  // Attaches the alert to `window`; `completion` gets the answer.
  void beginSheetModal(Window& window, std::function<void(ModalResponse)> completion);
  // Shows the alert and waits for the answer (see Application::runModal).
  ModalResponse runModal(Application& application);

 private:
  std::string messageText_;
  std::string informativeText_;
  Style style_ = Style::warning;
  std::vector<std::string> buttons_;
  std::shared_ptr<View> accessory_;
};

}  // namespace toolkit
