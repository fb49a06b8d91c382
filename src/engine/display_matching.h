#pragma once

// Pairing live windows with the saved windows whose places they take: first
// by equal document, then the rest one by one in sorted order.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "model/saved_window.h"
#include "winsys/window_system.h"

namespace wendrix {

// A live window paired with the saved window it takes the place of.
template <class W>
struct MatchedWindow {
  W window;
  IWindow target;
};

// Running windows paired with saved ones.
using MatchedWindows = std::vector<MatchedWindow<winsys::WindowPtr>>;

class DisplayMatching {
 public:
  // A window's matching key; none when it has no document.
  using Key = std::optional<std::string>;

  // The key of a live window of the window system: its document.
  static Key documentKey(const winsys::WindowPtr& window);

  // The canonically composed (NFC) form of `text`, whose UTF-8 bytes order
  // like its Unicode scalar values. Invalid UTF-8 is replaced, never kept.
  static std::string normalized(std::string_view text);

  // Order of two keys: negative when `a` comes first, zero when they are the
  // same, positive when `b` comes first. Present keys compare by their NFC
  // forms, a proper prefix first; a missing key comes after every present one,
  // and two missing keys are the same.
  static int compareKeys(const Key& a, const Key& b);

  // Pairs `live` with `saved`. A live window and a saved one with the same
  // document are paired first, in the order of the live windows' sorted keys;
  // the live windows left are then paired by position with the saved ones
  // left, both in key order (missing keys last, ties in reverse input order),
  // up to the smaller count. The rest of either side stays unpaired. The
  // window type comes from `live`, so `key` may be any callable.
  template <class W>
  static std::vector<MatchedWindow<W>> match(
      const std::vector<IWindow>& saved, const std::vector<W>& live,
      const std::type_identity_t<std::function<Key(const W&)>>& key);

 private:
  // A key with its NFC form, so that sorting normalizes each key once.
  struct SortKey {
    std::optional<std::string> nfc;
  };
  static SortKey sortKey(const Key& key);
  static int compare(const SortKey& a, const SortKey& b);

  // Indexes 0..keys.size()-1 in key order; equal keys end in reverse input
  // order.
  static std::vector<std::size_t> sortedOrder(const std::vector<SortKey>& keys);
  // A position in `keys` (sorted) whose key is the same as `key`, if any.
  static std::optional<std::size_t> search(const std::vector<SortKey>& keys, const SortKey& key);
};

template <class W>
std::vector<MatchedWindow<W>> DisplayMatching::match(
    const std::vector<IWindow>& saved, const std::vector<W>& live,
    const std::type_identity_t<std::function<Key(const W&)>>& key) {
  // Live windows and their keys.
  std::vector<SortKey> liveKeys;
  liveKeys.reserve(live.size());
  for (const auto& window : live)
    liveKeys.push_back(sortKey(key(window)));

  // Without any document every key is missing: both sides keep reverse
  // input order, and the windows pair by position in it.
  const auto hasKey = [](const SortKey& k) { return k.nfc.has_value(); };
  const auto hasDoc = [](const IWindow& w) { return w.doc.has_value(); };
  if (std::none_of(liveKeys.begin(), liveKeys.end(), hasKey) &&
      std::none_of(saved.begin(), saved.end(), hasDoc)) {
    std::vector<MatchedWindow<W>> result;
    const std::size_t pairs = std::min(saved.size(), live.size());
    result.reserve(pairs);
    for (std::size_t p = 0; p < pairs; ++p)
      result.push_back({live[live.size() - 1 - p], saved[saved.size() - 1 - p]});
    return result;
  }

  // Saved windows and their keys, sorted.
  std::vector<SortKey> savedKeys;
  savedKeys.reserve(saved.size());
  for (const auto& window : saved)
    savedKeys.push_back(sortKey(window.doc));
  std::vector<IWindow> savedLeft;
  std::vector<SortKey> savedKeysLeft;
  savedLeft.reserve(saved.size());
  savedKeysLeft.reserve(saved.size());
  for (std::size_t i : sortedOrder(savedKeys)) {
    savedLeft.push_back(saved[i]);
    savedKeysLeft.push_back(std::move(savedKeys[i]));
  }

  // The live windows in key order.
  const std::vector<std::size_t> liveOrder = sortedOrder(liveKeys);

  std::vector<MatchedWindow<W>> result;
  result.reserve(std::min(saved.size(), live.size()));
  std::vector<bool> paired(liveOrder.size(), false);
  for (std::size_t position = 0; position < liveOrder.size(); ++position) {
    const SortKey& liveKey = liveKeys[liveOrder[position]];
    if (!liveKey.nfc) break;  // every later key is missing too
    const auto hit = search(savedKeysLeft, liveKey);
    if (!hit) continue;
    result.push_back({live[liveOrder[position]], std::move(savedLeft[*hit])});
    paired[position] = true;
    savedLeft.erase(savedLeft.begin() + static_cast<std::ptrdiff_t>(*hit));
    savedKeysLeft.erase(savedKeysLeft.begin() + static_cast<std::ptrdiff_t>(*hit));
  }

  std::size_t next = 0;
  for (std::size_t position = 0; position < liveOrder.size() && next < savedLeft.size();
       ++position) {
    if (paired[position]) continue;
    result.push_back({live[liveOrder[position]], std::move(savedLeft[next++])});
  }
  return result;
}

}  // namespace wendrix
