#pragma once

// Reading the code editor's recent entries from its menu bar over the
// accessibility interface, and finding the entry a window title names. Every
// read that fails counts as a missing value; a missing list counts as empty.
// Nothing is cached: each call reads the tree afresh.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "winsys/ui_element.h"

namespace wendrix::vscode {

// `element` or its nearest ancestor whose role is "AXApplication".
winsys::UIElementPtr findApplicationElement(const winsys::UIElementPtr& element);

// The application element's first child whose role is "AXMenuBar".
winsys::UIElementPtr findMenuBar(const winsys::UIElementPtr& application);

// The submenu ("AXMenu") of the item nearest position 5 of the menu of
// `menuBarItem` (its first child). Items are walked from 0; an earlier
// submenu wins a tie; the walk ends at a submenu at position 5 or later, at a
// plain item farther from 5 than the best submenu so far, or with no submenu
// at a plain item at position 11 or later; items running out give none.
winsys::UIElementPtr findRecentSubmenu(const winsys::UIElementPtr& menuBarItem);

// The titled items between the first separator (an item with an empty or no
// title) and the last separator before the final one; empty with fewer than
// three separators.
std::vector<std::pair<winsys::UIElementPtr, std::string>> recentMenuItems(
    const winsys::UIElementPtr& submenu);

// The recent entries' titles, from the window's element up to its
// application's menu bar, third item, recent submenu.
std::vector<std::string> recentMenuTitles(const winsys::UIElementPtr& window);

// The first recent entry (in menu order) that ends with a segment of
// `title`: the segments after each em dash from the last to the first, then
// the whole title, each trimmed of white space. Empty segments are skipped
// (a title ending in an em dash names no entry by that part). None for an
// empty title or when nothing matches.
std::optional<std::string> recentEntryForTitle(std::string_view title,
                                               const winsys::UIElementPtr& window);

}  // namespace wendrix::vscode
