#pragma once

// The About pane of the customization window: the program's name, what it
// does and its version, and a button that shows the acknowledgements of the
// libraries the program is built with.

#include <memory>
#include <string>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/view.h"

namespace toolkit {
class Application;
}  // namespace toolkit

namespace wendrix {

// A library the program links, with the name of its licence.
struct Acknowledgement {
  std::string library;
  std::string licence;
};

// The libraries the program links, in the order shown.
const std::vector<Acknowledgement>& acknowledgements();

// The acknowledgements as a view: one row per library, its licence beside it.
std::shared_ptr<toolkit::View> makeAcknowledgementsView();

class AboutViewController final : public toolkit::ViewController {
 public:
  static constexpr const char* kAcknowledgementsTitle = "Third-party software acknowledgements";

  // The application (its bundle information and images) must outlive the
  // controller.
  explicit AboutViewController(toolkit::Application& application) : application_(application) {}

  // The version line (made with the view).
  toolkit::TextField* versionText() const { return versionText_.get(); }

  // Shows the acknowledgements in a sheet on the pane's window, with one
  // button, "Close"; nothing happens while the pane is in no window.
  void showAcknowledgements();

 protected:
  void loadView() override;
  // Shows "Version " and the bundle's short version when it has one.
  void viewDidLoad() override;

 private:
  toolkit::Application& application_;
  std::shared_ptr<toolkit::TextField> versionText_;
};

}  // namespace wendrix
