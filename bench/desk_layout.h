#pragma once

// The layout the layout benchmarks save by the thousand.

#include <string>

#include "storage/defaults_storage.h"

namespace wendrix::bench {

// A desk of four applications with three windows each.
inline Layout deskLayout(const std::string& name) {
  Layout layout{name, {}, false};
  for (int a = 0; a < 4; ++a) {
    IApp app;
    app.bundleId = "org.example.Application" + std::to_string(a);
    app.bundleURL = base::Url::fromFilePath("/usr/share/applications/org.example.Application" +
                                            std::to_string(a) + ".desktop");
    for (int w = 0; w < 3; ++w) {
      IWindow window;
      window.title = "Document " + std::to_string(w) + " - Application " + std::to_string(a);
      window.rect = Rect{a * 40.0 + w, w * 30.0, 1200, 800};
      window.index = w;
      app.windows.push_back(window);
    }
    app.mainWindow = app.windows.front();
    layout.apps.push_back(app);
  }
  return layout;
}

}  // namespace wendrix::bench
