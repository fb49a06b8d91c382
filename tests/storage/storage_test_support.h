#pragma once

// Fixtures shared by the storage tests: a store that can refuse writes,
// small layout records and a view of the "Error" events sent.

#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/layout.h"
#include "platform/defaults/memory_user_defaults.h"
#include "support/recorded_events.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace wendrix::testing {

// An in-memory store whose writes to chosen keys fail, leaving it unchanged
// (as a store whose file cannot be written does).
class RefusingUserDefaults final : public platform::UserDefaults {
 public:
  std::optional<coding::Value> get(std::string_view key) const override { return inner_.get(key); }
  base::Status set(std::string_view key, coding::Value value) override {
    if (refused_.contains(std::string(key))) return refusal(key);
    return inner_.set(key, std::move(value));
  }
  base::Status remove(std::string_view key) override {
    if (refused_.contains(std::string(key))) return refusal(key);
    return inner_.remove(key);
  }
  std::vector<std::string> keys() const override { return inner_.keys(); }
  coding::Dictionary snapshot() const override { return inner_.snapshot(); }

  void refuseWritesTo(std::string key) { refused_.insert(std::move(key)); }
  void acceptAllWrites() { refused_.clear(); }

 private:
  static base::Error refusal(std::string_view key) {
    return base::Error("test.defaults", 28, "No space left writing " + std::string(key));
  }

  platform::MemoryUserDefaults inner_;
  std::set<std::string, std::less<>> refused_;
};

inline IWindow window(std::string title, std::int64_t index = 0) {
  IWindow w;
  w.title = std::move(title);
  w.rect = Rect{10, 20, 640, 480};
  w.index = index;
  return w;
}

inline IApp app(std::string bundleId, std::vector<IWindow> windows = {window("Main")}) {
  IApp a;
  a.bundleId = std::move(bundleId);
  a.windows = std::move(windows);
  return a;
}

inline Layout layout(std::string name, std::vector<IApp> apps = {app("org.example.edit")},
                     std::optional<bool> alwaysCloseOtherApps = std::nullopt) {
  return Layout{std::move(name), std::move(apps), alwaysCloseOtherApps};
}

inline std::vector<std::string> names(const std::vector<Layout>& layouts) {
  std::vector<std::string> out;
  for (const auto& l : layouts)
    out.push_back(l.name);
  return out;
}

}  // namespace wendrix::testing
