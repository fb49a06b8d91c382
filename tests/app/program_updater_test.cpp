// The program's updater: a user's check tells where updates come from.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/composition.h"
#include "dispatch/manual_queue.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/defaults/user_defaults.h"
#include "toolkit/alert.h"
#include "toolkit/application.h"

namespace wendrix::testing {
namespace {

TEST(ProgramUpdaterTest, AUsersCheckShowsAnAlertOnceTheMenuHasClosed) {
  platform::UserDefaults::setSharedForTesting(std::make_shared<platform::MemoryUserDefaults>());
  dispatch::ManualQueue queue;
  toolkit::Application application(queue, {{{"CFBundleName", "Wendrix"}}, {}, nullptr});
  std::vector<std::string> shown;
  application.setModalRunner([&](toolkit::Alert& alert) {
    shown.push_back(alert.messageText());
    shown.push_back(alert.informativeText());
    for (const auto& button : alert.buttons())
      shown.push_back(button);
    return toolkit::kAlertFirstButtonReturn;
  });
  auto updater = makeProgramUpdater(application);
  updater->checkForUpdates();
  EXPECT_TRUE(shown.empty());
  queue.runUntilIdle();
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "Updates come from your package manager",
                       "Your system's package manager updates Wendrix, together with your other "
                       "software.",
                       "OK"}));
  // The choice of automatic checks is kept; they show nothing.
  updater->setAutomaticallyChecksForUpdates(true);
  EXPECT_TRUE(updater->automaticallyChecksForUpdates());
  queue.runUntilIdle();
  EXPECT_EQ(shown.size(), 3u);
  platform::UserDefaults::setSharedForTesting();
}

}  // namespace
}  // namespace wendrix::testing
