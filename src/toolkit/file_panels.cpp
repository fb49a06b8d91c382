#include "toolkit/file_panels.h"

namespace toolkit {
namespace {

void complete(const platform::PanelCompletion& completion, const FilePanel& panel,
              ModalResponse response) {
  if (!completion) return;
  if (response == kModalResponseOK) {
    completion(platform::PanelResponse::ok, panel.url());
  } else {
    completion(platform::PanelResponse::cancel, std::nullopt);
  }
}

}  // namespace

void WindowFilePanels::beginSaveSheet(const platform::FilePanelOptions& options,
                                      platform::PanelParent* parent,
                                      platform::PanelCompletion completion) {
  begin(FilePanel::Kind::save, options, parent, std::move(completion));
}

void WindowFilePanels::beginOpenSheet(const platform::FilePanelOptions& options,
                                      platform::PanelParent* parent,
                                      platform::PanelCompletion completion) {
  begin(FilePanel::Kind::open, options, parent, std::move(completion));
}

void WindowFilePanels::begin(FilePanel::Kind kind, const platform::FilePanelOptions& options,
                             platform::PanelParent* parent, platform::PanelCompletion completion) {
  auto panel = std::make_shared<FilePanel>(kind, options);
  if (auto* window = dynamic_cast<Window*>(parent)) {
    window->beginSheet(panel, [panel, completion = std::move(completion)](ModalResponse response) {
      complete(completion, *panel, response);
    });
    return;
  }
  floating_.push_back({std::move(panel), std::move(completion)});
}

bool WindowFilePanels::answer(Window& window, platform::PanelResponse response,
                              std::optional<base::Url> url) {
  auto* panel = dynamic_cast<FilePanel*>(window.attachedSheet());
  if (!panel) return false;
  panel->setURL(response == platform::PanelResponse::ok ? std::move(url) : std::nullopt);
  return window.endSheet(static_cast<ModalResponse>(response));
}

bool WindowFilePanels::answerFloating(platform::PanelResponse response,
                                      std::optional<base::Url> url) {
  if (floating_.empty()) return false;
  Floating next = std::move(floating_.front());
  floating_.pop_front();
  next.panel->setURL(response == platform::PanelResponse::ok ? std::move(url) : std::nullopt);
  complete(next.completion, *next.panel, static_cast<ModalResponse>(response));
  return true;
}

}  // namespace toolkit
