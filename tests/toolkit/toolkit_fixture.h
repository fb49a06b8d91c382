#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dispatch/manual_queue.h"
#include "toolkit/application.h"
#include "toolkit/headless/driver.h"

namespace toolkit::testing {

// A headless application on virtual time and the driver that plays its user.
struct ToolkitTest : ::testing::Test {
  dispatch::ManualQueue queue;
  Application app{queue,
                  {{{"CFBundleName", "Wendrix"}, {"CFBundleShortVersionString", "1.2"}},
                   {{"Menu Icon", "/images/menu-icon.png"}},
                   nullptr}};
  headless::Driver driver{app};
};

// Records the callbacks it gets, in order, as text.
struct Journal {
  std::vector<std::string> entries;
  void add(std::string entry) { entries.push_back(std::move(entry)); }
};

}  // namespace toolkit::testing
