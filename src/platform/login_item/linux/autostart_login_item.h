#pragma once

#include <filesystem>
#include <string>

#include "platform/login_item/login_item.h"

namespace platform {

// Starting at login through an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<bundle id>.desktop, that runs the program. The
// state is read back from that file: it is on while the file is a desktop
// entry that is neither hidden nor switched off, whoever wrote it. Switching
// off removes the file.
class AutostartLoginItem final : public LoginItem {
 public:
  // `program` is the path of the executable the entry runs.
  AutostartLoginItem(std::string bundleIdentifier, std::string name, std::filesystem::path program);

  // The entry's path, under the autostart folder of the current environment.
  std::filesystem::path entryPath() const;

  bool isEnabled() const override;
  base::Status setEnabled(bool enabled) override;

  // The text of the entry written for `program`.
  static std::string entryText(const std::string& name, const std::filesystem::path& program);

 private:
  std::string bundleIdentifier_;
  std::string name_;
  std::filesystem::path program_;
};

}  // namespace platform
