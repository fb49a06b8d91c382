#pragma once

// The composition root of the agent on X11: the X connection, the window
// system and accessibility trust over it, the desktop's applications and
// workspace, the user-defaults store and the shared `DefaultsStorage` and
// `WindowsProvider`, then the application delegate, which makes `Actions`,
// the URL handler and the status item. Built once, torn down in reverse.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "dispatch/main_loop.h"
#include "platform/bundle/linux/desktop_bundle_provider.h"
#include "platform/updater/updater.h"
#include "toolkit/application.h"

namespace wendrix {

class AppDelegate;
class BundleIdAliases;

// The program's updater: a user's check shows an alert saying that the
// system's package manager updates Wendrix; the automatic-checks choice is
// kept in the standard user defaults. The application must outlive it.
std::shared_ptr<platform::Updater> makeProgramUpdater(toolkit::Application& application);

// The alias table for this desktop: the fixed aliases and the user's file
// manager, found through the mimeapps.list files of the environment.
BundleIdAliases desktopAliases(const platform::DesktopEntryDirectories& directories);

struct AgentOptions {
  // The X display ("" for $DISPLAY).
  std::string display;
  // The program's identity (bundle id, names, versions).
  platform::AppIdentity identity;
  // The telemetry SDK's application secret.
  std::string appSecret;
  // Where the telemetry SDK sends its logs ("": nowhere, they are kept
  // locally).
  std::string logUrl;
};

class Agent {
 public:
  // Builds everything; fails when the X display cannot be opened. The loop
  // and the application must outlive the agent.
  static base::Result<std::unique_ptr<Agent>> make(dispatch::MainLoop& loop,
                                                   toolkit::Application& application,
                                                   AgentOptions options);
  ~Agent();
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // Tells the application that launching has finished, then opens the URLs
  // that came before.
  void finishLaunching();
  // Opens the URLs now, or once launching has finished; `done`, when given,
  // is told once they are carried out (see URLHandler::handleURLs).
  void openURLs(std::vector<std::string> urls, std::function<void(const base::Status&)> done = {});

  const std::shared_ptr<AppDelegate>& delegate() const;

 private:
  struct Parts;
  explicit Agent(std::unique_ptr<Parts> parts);

  std::unique_ptr<Parts> parts_;
};

}  // namespace wendrix
