#pragma once

#include <deque>
#include <memory>
#include <optional>

#include "base/url.h"
#include "platform/panels/system_file_panels.h"
#include "toolkit/window.h"

namespace toolkit {

// A save or open panel: attached to a window as its sheet, or floating when
// it has no window. The chosen file is set just before it ends.
class FilePanel : public Sheet {
 public:
  enum class Kind { save, open };
  FilePanel(Kind kind, platform::FilePanelOptions options)
      : kind_(kind), options_(std::move(options)) {}

  Kind kind() const { return kind_; }
  const platform::FilePanelOptions& options() const { return options_; }
  const std::optional<base::Url>& url() const { return url_; }
  void setURL(std::optional<base::Url> url) { url_ = std::move(url); }

 private:
  Kind kind_;
  platform::FilePanelOptions options_;
  std::optional<base::Url> url_;
};

// The file panels of the toolkit: a panel whose parent is a toolkit window
// becomes that window's sheet; any other waits in `floatingPanels` until it
// is answered. Either way the answer comes from the user through the backend
// (or the test driver): `answer` on the window or here.
class WindowFilePanels final : public platform::FilePanels {
 public:
  void beginSaveSheet(const platform::FilePanelOptions& options, platform::PanelParent* parent,
                      platform::PanelCompletion completion) override;
  void beginOpenSheet(const platform::FilePanelOptions& options, platform::PanelParent* parent,
                      platform::PanelCompletion completion) override;

  // Answers the panel attached to `window`; false when its sheet is no panel.
  static bool answer(Window& window, platform::PanelResponse response,
                     std::optional<base::Url> url = std::nullopt);
  // Answers the oldest floating panel; false when there is none.
  bool answerFloating(platform::PanelResponse response,
                      std::optional<base::Url> url = std::nullopt);
  std::size_t floatingPanels() const { return floating_.size(); }

 private:
  void begin(FilePanel::Kind kind, const platform::FilePanelOptions& options,
             platform::PanelParent* parent, platform::PanelCompletion completion);

  struct Floating {
    std::shared_ptr<FilePanel> panel;
    platform::PanelCompletion completion;
  };
  std::deque<Floating> floating_;
};

}  // namespace toolkit
