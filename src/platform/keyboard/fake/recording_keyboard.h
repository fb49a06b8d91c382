#pragma once

#include <functional>
#include <set>
#include <vector>

#include "platform/keyboard/keyboard.h"

namespace platform {

// Records every posted keystroke and tells an optional listener about it.
// Key codes marked unmappable fail as a real poster would for a key it
// cannot make.
class RecordingKeyboard final : public Keyboard {
 public:
  base::Status post(const Keystroke& keystroke) override;

  void setListener(std::function<void(const Keystroke&)> listener) {
    listener_ = std::move(listener);
  }
  void markUnmappable(std::uint16_t keyCode) { unmappable_.insert(keyCode); }
  const std::vector<Keystroke>& posted() const { return posted_; }

 private:
  std::function<void(const Keystroke&)> listener_;
  std::set<std::uint16_t> unmappable_;
  std::vector<Keystroke> posted_;
};

}  // namespace platform
