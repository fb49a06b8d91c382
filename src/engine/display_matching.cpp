#include "engine/display_matching.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <numeric>

namespace wendrix {

DisplayMatching::Key DisplayMatching::documentKey(const winsys::WindowPtr& window) {
  if (!window) return std::nullopt;
  return window->document();
}

std::string DisplayMatching::normalized(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  // Decoding replaces invalid UTF-8 with U+FFFD, so the result is valid.
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  icu::UnicodeString composed;
  if (U_SUCCESS(status)) composed = nfc->normalize(source, status);
  if (U_FAILURE(status)) composed = source;
  std::string result;
  composed.toUTF8String(result);
  return result;
}

DisplayMatching::SortKey DisplayMatching::sortKey(const Key& key) {
  if (!key) return SortKey{};
  return SortKey{normalized(*key)};
}

int DisplayMatching::compare(const SortKey& a, const SortKey& b) {
  if (!a.nfc || !b.nfc) return (a.nfc ? 0 : 1) - (b.nfc ? 0 : 1);
  // std::string compares its bytes as unsigned, which for valid UTF-8 is the
  // order of the scalar values, a proper prefix first.
  const int c = a.nfc->compare(*b.nfc);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int DisplayMatching::compareKeys(const Key& a, const Key& b) {
  return compare(sortKey(a), sortKey(b));
}

std::vector<std::size_t> DisplayMatching::sortedOrder(const std::vector<SortKey>& keys) {
  // Reversed input sorted stably: ties end in reverse input order.
  std::vector<std::size_t> order(keys.size());
  std::iota(order.rbegin(), order.rend(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&keys](std::size_t x, std::size_t y) { return compare(keys[x], keys[y]) < 0; });
  return order;
}

std::optional<std::size_t> DisplayMatching::search(const std::vector<SortKey>& keys,
                                                   const SortKey& key) {
  std::size_t low = 0;
  std::size_t high = keys.size();
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    const int c = compare(key, keys[mid]);
    if (c == 0) return mid;
    if (c < 0) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return std::nullopt;
}

}  // namespace wendrix
