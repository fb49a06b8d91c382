#pragma once

// A temporary folder tree for desktop-entry tests: a data home and two data
// folders, each with an applications folder, removed at the end.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace platform::testing {

class XdgTestDir {
 public:
  XdgTestDir() {
    for (const char* dir : {"home", "local", "system"}) {
      std::filesystem::create_directories(root_ + "/" + dir + "/applications");
    }
  }

  const std::string& root() const { return root_; }
  // The data folders, most important first: home, local, system.
  std::vector<std::string> dataDirs() const {
    return {root_ + "/home", root_ + "/local", root_ + "/system"};
  }

  // Writes `text` to `relative` below the root (folders made as needed) and
  // returns the absolute path.
  std::string write(const std::string& relative, const std::string& text,
                    mode_t mode = 0644) const {
    const std::string path = root_ + "/" + relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
    return path;
  }

  // A minimal application entry with the given extra lines.
  static std::string entry(const std::string& name, const std::string& exec,
                           const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
  }

 private:
  support::TempDir temp_{"wendrix-xdg"};
  std::string root_ = temp_.path().string();
};

}  // namespace platform::testing
