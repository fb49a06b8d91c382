#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/url.h"

namespace platform {

// How the user closed a panel.
enum class PanelResponse : int {
  cancel = 0,
  ok = 1,
};

struct FilePanelOptions {
  std::string title;
  // The text offered in the file-name field.
  std::string nameFieldValue;
  // File name extensions the panel accepts, without the dot (e.g. "json").
  std::vector<std::string> allowedFileTypes;

  friend bool operator==(const FilePanelOptions&, const FilePanelOptions&) = default;
};

// A window that a panel can be attached to as a sheet.
class PanelParent {
 public:
  virtual ~PanelParent() = default;
};

// Called once, on the main thread, when the panel closes: the response and
// the chosen file (none when the panel has no file).
using PanelCompletion = std::function<void(PanelResponse, std::optional<base::Url>)>;

// Save and open panels shown as sheets on a window. Both return at once; the
// completion runs when the user closes the panel.
class FilePanels {
 public:
  virtual ~FilePanels() = default;

  // Asks for a file to write (a save panel).
  virtual void beginSaveSheet(const FilePanelOptions& options, PanelParent* parent,
                              PanelCompletion completion) = 0;
  // Asks for an existing file to read (an open panel).
  virtual void beginOpenSheet(const FilePanelOptions& options, PanelParent* parent,
                              PanelCompletion completion) = 0;
};

}  // namespace platform
