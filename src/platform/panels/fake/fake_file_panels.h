#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "platform/panels/system_file_panels.h"

namespace platform {

// Panels that stay open until the test closes them with `close`, oldest
// first. Every panel shown is recorded.
class FakeFilePanels final : public FilePanels {
 public:
  enum class Kind { save, open };
  struct Shown {
    Kind kind;
    FilePanelOptions options;
    PanelParent* parent;
  };

  void beginSaveSheet(const FilePanelOptions& options, PanelParent* parent,
                      PanelCompletion completion) override {
    show(Kind::save, options, parent, std::move(completion));
  }
  void beginOpenSheet(const FilePanelOptions& options, PanelParent* parent,
                      PanelCompletion completion) override {
    show(Kind::open, options, parent, std::move(completion));
  }

  // Closes the oldest open panel; false when none is open.
  bool close(PanelResponse response, std::optional<base::Url> url = std::nullopt) {
    if (open_.empty()) return false;
    PanelCompletion completion = std::move(open_.front());
    open_.pop_front();
    completion(response, std::move(url));
    return true;
  }

  const std::vector<Shown>& shown() const { return shown_; }
  std::size_t openCount() const { return open_.size(); }

 private:
  void show(Kind kind, const FilePanelOptions& options, PanelParent* parent,
            PanelCompletion completion) {
    shown_.push_back({kind, options, parent});
    open_.push_back(std::move(completion));
  }

  std::vector<Shown> shown_;
  std::deque<PanelCompletion> open_;
};

}  // namespace platform
