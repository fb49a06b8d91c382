#include "addons/vscode_menu_reader.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdlib>

namespace wendrix::vscode {

using winsys::UIAttribute;
using winsys::UIElementPtr;

namespace {

// The position the recent submenu is looked for around, and the position
// after which a walk without a submenu gives up.
constexpr std::size_t kRecentPosition = 5;
constexpr std::size_t kLastPlainPosition = 11;

constexpr std::string_view kEmDash = "\u2014";

std::vector<UIElementPtr> childrenOf(const UIElementPtr& element) {
  if (!element) return {};
  return element->children().value_or(std::vector<UIElementPtr>{});
}

bool hasRole(const UIElementPtr& element, std::string_view role) {
  return element && element->attribute(UIAttribute::role) == role;
}

std::size_t distance(std::size_t a, std::size_t b) {
  return a > b ? a - b : b - a;
}

// `text` without white space and line breaks (the Unicode White_Space
// characters) at either end.
std::string_view trimmed(std::string_view text) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c;
    U8_NEXT(s, next, length, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U8_PREV(s, begin, previous, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

}  // namespace

UIElementPtr findApplicationElement(const UIElementPtr& element) {
  for (UIElementPtr current = element; current; current = current->parent()) {
    if (hasRole(current, "AXApplication")) return current;
  }
  return nullptr;
}

UIElementPtr findMenuBar(const UIElementPtr& application) {
  for (const auto& child : childrenOf(application)) {
    if (hasRole(child, "AXMenuBar")) return child;
  }
  return nullptr;
}

UIElementPtr findRecentSubmenu(const UIElementPtr& menuBarItem) {
  const auto menus = childrenOf(menuBarItem);
  if (menus.empty()) return nullptr;
  const auto items = childrenOf(menus.front());
  UIElementPtr best;
  std::size_t bestDistance = 0;
  for (std::size_t position = 0; position < items.size(); ++position) {
    const std::size_t d = distance(position, kRecentPosition);
    const auto itemChildren = childrenOf(items[position]);
    if (!itemChildren.empty() && hasRole(itemChildren.front(), "AXMenu")) {
      if (!best || d < bestDistance) {
        best = itemChildren.front();
        bestDistance = d;
      }
      if (position >= kRecentPosition) return best;
    } else {
      if (best && bestDistance < d) return best;
      if (position >= kLastPlainPosition) return nullptr;
    }
  }
  return nullptr;
}

std::vector<std::pair<UIElementPtr, std::string>> recentMenuItems(const UIElementPtr& submenu) {
  std::vector<std::pair<UIElementPtr, std::string>> items;
  for (const auto& child : childrenOf(submenu)) {
    std::string title = child ? child->attribute(UIAttribute::title).value_or("") : "";
    items.emplace_back(child, std::move(title));
  }
  std::vector<std::size_t> separators;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].second.empty()) separators.push_back(i);
  }
  // F: the first separator; P: the last one before the last (L).
  if (separators.size() < 3) return {};
  const std::size_t first = separators.front();
  const std::size_t beforeLast = separators[separators.size() - 2];
  std::vector<std::pair<UIElementPtr, std::string>> out;
  for (std::size_t i = first + 1; i < beforeLast; ++i) {
    if (!items[i].second.empty()) out.push_back(std::move(items[i]));
  }
  return out;
}

std::vector<std::string> recentMenuTitles(const UIElementPtr& window) {
  const auto menuBar = findMenuBar(findApplicationElement(window));
  const auto menuBarItems = childrenOf(menuBar);
  if (menuBarItems.size() < 3) return {};
  std::vector<std::string> titles;
  for (auto& [item, title] : recentMenuItems(findRecentSubmenu(menuBarItems[2]))) {
    titles.push_back(std::move(title));
  }
  return titles;
}

std::optional<std::string> recentEntryForTitle(std::string_view title, const UIElementPtr& window) {
  if (title.empty()) return std::nullopt;
  // The segments after each em dash, from the last dash to the first, then
  // the whole title.
  std::vector<std::string_view> candidates;
  for (std::size_t dash = title.rfind(kEmDash); dash != std::string_view::npos;
       dash = dash == 0 ? std::string_view::npos : title.rfind(kEmDash, dash - 1)) {
    candidates.push_back(title.substr(dash + kEmDash.size()));
  }
  candidates.push_back(title);
  for (std::string_view candidate : candidates) {
    const std::string_view segment = trimmed(candidate);
    // An empty segment would match every entry, and so name the first recent
    // folder whatever the window shows.
    if (segment.empty()) continue;
    for (const std::string& entry : recentMenuTitles(window)) {
      if (entry.ends_with(segment)) return entry;
    }
  }
  return std::nullopt;
}

}  // namespace wendrix::vscode
