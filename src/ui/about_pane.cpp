#include "ui/about_pane.h"

#include "toolkit/alert.h"
#include "toolkit/application.h"
#include "toolkit/window.h"
#include "ui/customization_context.h"
#include "ui/item_views.h"

namespace wendrix {
namespace {

constexpr double kLeft = 40;
constexpr double kRowHeight = 20;
constexpr double kLibraryWidth = 220;
constexpr double kLicenceWidth = 340;

}  // namespace

const std::vector<Acknowledgement>& acknowledgements() {
  // What the program's executable links (its NEEDED entries) and the header
  // libraries compiled into it. A library joins the program: add it here.
  static const std::vector<Acknowledgement> list{
      {"Qt 6 (Core, GUI, Widgets)", "GNU LGPL 3"},
      {"SQLite", "Public domain"},
      {"OpenSSL", "Apache License 2.0"},
      {"curl", "curl License"},
      {"zlib", "zlib License"},
      {"ICU", "Unicode License"},
      {"libplist", "GNU LGPL 2.1 or later"},
      {"uriparser", "BSD 3-Clause License"},
      {"libuuid", "BSD 3-Clause License"},
      {"cairo", "GNU LGPL 2.1 or Mozilla Public License 1.1"},
      {"Xlib, XTest and XCB", "MIT/X11 License"},
      {"JSON for Modern C++", "MIT License"},
      {"GNU C++ Library", "GNU GPL 3 with the GCC Runtime Library Exception"},
  };
  return list;
}

std::shared_ptr<toolkit::View> makeAcknowledgementsView() {
  const auto& list = acknowledgements();
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{
      {0, 0}, {kLibraryWidth + kLicenceWidth, kRowHeight * static_cast<double>(list.size())}});
  view->setIdentifier("acknowledgements");
  double y = 0;
  for (const auto& entry : list) {
    auto library =
        std::make_shared<toolkit::TextField>(toolkit::Rect{{0, y}, {kLibraryWidth, kRowHeight}});
    library->setStringValue(entry.library);
    library->setFont({0, true});
    auto licence = std::make_shared<toolkit::TextField>(
        toolkit::Rect{{kLibraryWidth, y}, {kLicenceWidth, kRowHeight}});
    licence->setStringValue(entry.licence);
    licence->setTextColor(toolkit::Color::secondaryLabel);
    view->addSubview(library);
    view->addSubview(licence);
    y += kRowHeight;
  }
  return view;
}

void AboutViewController::loadView() {
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {kPaneWidth, kPaneHeight}});
  const std::string name = application_.bundleInfo("CFBundleName").value_or("Wendrix");

  auto item = std::make_shared<ItemView>(toolkit::Rect{{kLeft, 56}, {kPaneWidth - 2 * kLeft, 64}});
  item->setIdentifier("about");
  item->setImageSize(40);
  item->setImage(application_.imageNamed("AppIcon"));
  item->setTitle(name);
  item->titleView().setFont({16, true});
  item->layOut();
  item->setSubtitle("Saves the windows of your applications as layouts and restores them.");
  view->addSubview(item);

  const double textLeft = kLeft + ItemView::kContainerSize;
  versionText_ = std::make_shared<toolkit::TextField>(
      toolkit::Rect{{textLeft, 132}, {kPaneWidth - textLeft - kLeft, 20}});
  versionText_->setIdentifier("version");
  versionText_->setTextColor(toolkit::Color::secondaryLabel);
  view->addSubview(versionText_);

  std::weak_ptr<AboutViewController> weak =
      std::static_pointer_cast<AboutViewController>(shared_from_this());
  auto button = std::make_shared<toolkit::Button>(toolkit::Button::Type::push,
                                                  toolkit::Rect{{textLeft, 172}, {200, 28}});
  button->setIdentifier("acknowledgementsButton");
  button->setTitle("Acknowledgements...");
  button->setAction([weak](toolkit::Button&) {
    if (auto self = weak.lock()) self->showAcknowledgements();
  });
  view->addSubview(button);
  setView(view);
}

void AboutViewController::viewDidLoad() {
  if (auto version = application_.bundleInfo("CFBundleShortVersionString"))
    versionText_->setStringValue("Version " + *version);
}

void AboutViewController::showAcknowledgements() {
  toolkit::Window* window = isViewLoaded() ? view()->window() : nullptr;
  if (!window) return;
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText(kAcknowledgementsTitle);
  alert->setAccessoryView(makeAcknowledgementsView());
  alert->addButton("Close");
  alert->beginSheetModal(*window, nullptr);
}

}  // namespace wendrix
