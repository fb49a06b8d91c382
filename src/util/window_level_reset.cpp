#include "util/window_level_reset.h"

namespace wendrix {

void raiseWindowLevel(platform::WindowOwner& owner) {
  if (platform::LevelWindow* window = owner.window()) {
    window->setLevel(platform::kStatusWindowLevel);
  }
}

void resetWindowLevelOnce(const std::weak_ptr<platform::WindowOwner>& owner, FlagBox& flag,
                          dispatch::Queue& mainQueue) {
  if (flag.value) return;
  mainQueue.after(kWindowLevelResetDelay, [owner] {
    const std::shared_ptr<platform::WindowOwner> alive = owner.lock();
    if (!alive) return;
    if (platform::LevelWindow* window = alive->window()) {
      window->setLevel(platform::kNormalWindowLevel);
    }
  });
  flag.value = true;
}

}  // namespace wendrix
