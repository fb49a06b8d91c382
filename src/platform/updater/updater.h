#pragma once

namespace platform {

// The program's software updater.
class Updater {
 public:
  virtual ~Updater() = default;

  // Looks for a newer version of the program and lets the user install it.
  // The outcome is shown to the user by the updater itself; nothing comes
  // back to the caller.
  virtual void checkForUpdates() = 0;

  // Whether the updater looks for updates by itself from time to time; the
  // choice is kept across runs.
  virtual bool automaticallyChecksForUpdates() const = 0;
  virtual void setAutomaticallyChecksForUpdates(bool check) = 0;
};

// An updater with nothing to check, for a program that chose none; the
// automatic-checks choice lasts as long as the object.
class NoUpdater final : public Updater {
 public:
  void checkForUpdates() override {}
  bool automaticallyChecksForUpdates() const override { return automatic_; }
  void setAutomaticallyChecksForUpdates(bool check) override { automatic_ = check; }

 private:
  bool automatic_ = false;
};

}  // namespace platform
