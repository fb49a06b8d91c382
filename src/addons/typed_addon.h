#pragma once

// The base of every addon, over the addon's own state type. States are stored
// as binary property lists of the state's coded form.
//
// `State` is a value type with equality that codes as a record
// (coding/codable.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addons/addon.h"
#include "analytics/track.h"
#include "base/bytes.h"
#include "base/result.h"
#include "coding/plist.h"
#include "engine/capture.h"
#include "rx/single.h"
#include "winsys/window_system.h"

namespace wendrix {

template <class State>
class TypedAddon : public Addon {
 public:
  // The window's state as a binary property list; none when the window has
  // no state. A state that cannot be encoded is reported ("Error" at
  // "typedAddon.findState_000", with the window's title and document
  // replaced by placeholders) and gives none.
  std::optional<base::Bytes> encodedState(const winsys::Window& window) const final {
    std::optional<State> s = state(window);
    if (!s) return std::nullopt;
    auto bytes = encodeState(*s);
    if (bytes) return std::move(bytes).value();
    Track::errorWithLocation(bytes.error(), "typedAddon.findState_000",
                             {{window.title(), "WINDOW_TITLE"}, {window.document(), "WINDOW_DOC"}});
    return std::nullopt;
  }

  // The window's state; none by default.
  virtual std::optional<State> state(const winsys::Window&) const { return std::nullopt; }

  // The generic capture: the windows that are not minimized, indexed among
  // themselves, each with its encoded state.
  std::vector<IWindow> captureWindows(
      const std::vector<winsys::WindowPtr>& windows) const override {
    return iwindow::fromWindows(windows, this);
  }

  // The display of a stored state; none when `display` gives none. A state
  // that cannot be decoded is reported ("Error" at
  // "typedAddon.stateDisplay_000") and gives none.
  std::optional<AddonDisplay> decodeDisplay(const base::Bytes& data) const {
    auto decoded = decodeState(data);
    if (!decoded) {
      Track::errorWithLocation(decoded.error(), "typedAddon.stateDisplay_000");
      return std::nullopt;
    }
    return display(*decoded);
  }

  // One display per saved window that has a state with a display, in window
  // order; repeats are kept.
  std::vector<AddonDisplay> displays(const IApp& app) const override {
    std::vector<AddonDisplay> out;
    for (const IWindow& window : app.windows) {
      if (!window.addonState) continue;
      if (auto shown = decodeDisplay(*window.addonState)) out.push_back(std::move(*shown));
    }
    return out;
  }

  // What to show for `state`; none by default.
  virtual std::optional<AddonDisplay> display(const State&) const { return std::nullopt; }

  // Reopens nothing and pairs nothing: succeeds at once with no pairs.
  rx::Single<std::vector<MatchedWindow<winsys::WindowPtr>>> restore(
      const IApp&, const std::shared_ptr<AppLauncher>&) const override {
    return rx::Single<std::vector<MatchedWindow<winsys::WindowPtr>>>::just({});
  }

  // The addon's property-list coder: binary property lists of the state's
  // coded form.
  static base::Result<base::Bytes> encodeState(const State& state) {
    return coding::toPropertyList(state, coding::PlistFormat::binary);
  }
  static base::Result<State> decodeState(const base::Bytes& data) {
    return coding::fromPropertyList<State>(data);
  }

 protected:
  // This addon as a shared pointer to `Derived`: owning when a shared pointer
  // owns the addon, else a plain view that must outlive its users.
  template <class Derived>
  std::shared_ptr<const Derived> sharedAs() const {
    const auto* self = static_cast<const Derived*>(this);
    if (auto owner = this->weak_from_this().lock()) return {owner, self};
    return {std::shared_ptr<const Derived>(), self};
  }

  // The windows that are not minimized and have a state that `keep` accepts,
  // each indexed by its position in the whole list (so indices may have
  // gaps). A state that cannot be encoded drops its window without a report.
  template <class Keep>
  std::vector<IWindow> captureWindowsWithState(const std::vector<winsys::WindowPtr>& windows,
                                               Keep keep) const {
    std::vector<IWindow> records;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const auto& window = windows[i];
      if (!window || window->isMinimized()) continue;
      const std::optional<State> s = state(*window);
      if (!s || !keep(*s)) continue;
      auto bytes = encodeState(*s);
      if (!bytes) continue;
      IWindow record;
      record.title = window->title();
      record.rect = toRecordRect(window->frame());
      record.index = static_cast<std::int64_t>(i);
      record.doc = window->document();
      record.addonState = std::move(bytes).value();
      records.push_back(std::move(record));
    }
    return records;
  }
};

}  // namespace wendrix
