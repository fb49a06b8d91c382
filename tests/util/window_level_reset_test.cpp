#include "util/window_level_reset.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "dispatch/manual_queue.h"
#include "platform/window_level/fake/fake_window_owner.h"

namespace wendrix {
namespace {

using namespace std::chrono_literals;
using Levels = std::vector<int>;

class WindowLevelTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::FakeLevelWindow> window_ =
      std::make_shared<platform::FakeLevelWindow>();
  std::shared_ptr<platform::FakeWindowOwner> owner_ =
      std::make_shared<platform::FakeWindowOwner>(window_);
  dispatch::ManualQueue queue_;
};

TEST_F(WindowLevelTest, RaiseFloatsTheWindowAndIgnoresAMissingOne) {
  raiseWindowLevel(*owner_);
  EXPECT_EQ(window_->levels(), Levels{25});

  platform::FakeWindowOwner windowless;
  raiseWindowLevel(windowless);  // nothing to raise, nothing fails
}

TEST_F(WindowLevelTest, ResetRunsOnceAfterTheDelay) {
  FlagBox flag;
  resetWindowLevelOnce(owner_, flag, queue_);
  EXPECT_TRUE(flag.value);  // set at once
  resetWindowLevelOnce(owner_, flag, queue_);

  queue_.advance(109ms);
  EXPECT_TRUE(window_->levels().empty());
  queue_.advance(1ms);
  EXPECT_EQ(window_->levels(), Levels{0});
  queue_.advance(1s);
  EXPECT_EQ(window_->levels(), Levels{0});

  // A new box schedules again.
  FlagBox other;
  resetWindowLevelOnce(owner_, other, queue_);
  queue_.advance(110ms);
  EXPECT_EQ(window_->levels(), (Levels{0, 0}));
}

TEST_F(WindowLevelTest, ResetDoesNothingWhenOwnerOrWindowIsGone) {
  FlagBox first;
  resetWindowLevelOnce(owner_, first, queue_);
  owner_->setWindow(nullptr);
  queue_.advance(110ms);
  EXPECT_TRUE(window_->levels().empty());

  owner_->setWindow(window_);
  FlagBox second;
  resetWindowLevelOnce(owner_, second, queue_);
  owner_.reset();
  queue_.advance(110ms);
  EXPECT_TRUE(window_->levels().empty());
}

}  // namespace
}  // namespace wendrix
