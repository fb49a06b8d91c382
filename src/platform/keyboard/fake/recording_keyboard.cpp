#include "platform/keyboard/fake/recording_keyboard.h"

#include <string>

namespace platform {

base::Status RecordingKeyboard::post(const Keystroke& keystroke) {
  if (unmappable_.count(keystroke.keyCode) != 0) {
    return base::Error("Wendrix.KeyboardError", 1,
                       "No key for key code " + std::to_string(keystroke.keyCode) + ".");
  }
  posted_.push_back(keystroke);
  if (listener_) listener_(keystroke);
  return {};
}

}  // namespace platform
