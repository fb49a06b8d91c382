#pragma once

// Accessibility trees for the addon tests: windows with attributes and
// children, and an editor application whose menu bar holds a recent-items
// submenu.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winsys/fake/fake_ui_element.h"

namespace wendrix::testing {

using winsys::UIAttribute;
using winsys::fake::FakeUIElement;
using Element = std::shared_ptr<FakeUIElement>;

inline Element element(std::map<UIAttribute, std::string> attributes = {}) {
  return FakeUIElement::make(std::move(attributes));
}

inline Element withChildren(Element parent, const std::vector<Element>& children) {
  for (const auto& child : children)
    parent->addChild(child);
  return parent;
}

// A submenu of items titled `titles`; "" is a separator (an item without a
// title).
inline Element submenu(const std::vector<std::string>& titles) {
  auto menu = element({{UIAttribute::role, "AXMenu"}});
  for (const auto& title : titles) {
    auto item = element({{UIAttribute::role, "AXMenuItem"}});
    if (!title.empty()) item->set(UIAttribute::title, title);
    menu->addChild(item);
  }
  return menu;
}

// The editor's recent submenu as it usually looks: entries between the first
// and the third of four separators.
inline std::vector<std::string> recentMenu(const std::vector<std::string>& entries) {
  std::vector<std::string> titles{"Reopen Closed Editor", ""};
  titles.insert(titles.end(), entries.begin(), entries.end());
  titles.insert(titles.end(), {"", "More...", "", "Clear Recently Opened..."});
  return titles;
}

// An application element with a menu bar of three items whose third item's
// menu holds `recent` as a submenu at position 5, and one window element.
struct EditorTree {
  Element application;
  Element window;
};

inline EditorTree editorTree(const std::vector<std::string>& recentTitles) {
  auto fileMenu = element({{UIAttribute::role, "AXMenu"}});
  for (int position = 0; position < 12; ++position) {
    auto item = element({{UIAttribute::role, "AXMenuItem"}});
    if (position == 5) item->addChild(submenu(recentTitles));
    fileMenu->addChild(item);
  }
  auto menuBar = withChildren(
      element({{UIAttribute::role, "AXMenuBar"}}),
      {element({{UIAttribute::title, "Apple"}}), element({{UIAttribute::title, "Code"}}),
       withChildren(element({{UIAttribute::title, "File"}}), {fileMenu})});
  auto application = withChildren(element({{UIAttribute::role, "AXApplication"}}),
                                  {element({{UIAttribute::role, "AXWindow"}}), menuBar});
  auto window = application->addChild(element({{UIAttribute::role, "AXWindow"}}));
  return EditorTree{application, window};
}

}  // namespace wendrix::testing
