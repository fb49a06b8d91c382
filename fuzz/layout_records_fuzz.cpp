// The stored blobs of the program's records: the input is the binary
// property list kept under the saved-layouts key (and, in a second store,
// under the legacy key the migration reads, and under the per-application
// settings key). Read through the storage as the program does, then one
// layout saved and the settings stored back, which writes over the blob.
// The saved list read in place must be the one decoded from the tree.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "coding/codable.h"
#include "coding/plist.h"
#include "model/layout.h"
#include "platform/defaults/memory_user_defaults.h"
#include "storage/defaults_storage.h"

namespace {

void readAndWrite(std::string_view key, const base::Bytes& blob) {
  auto defaults = std::make_shared<platform::MemoryUserDefaults>();
  (void)defaults->set(key, coding::Value(blob));
  wendrix::DefaultsStorage storage(defaults, std::string("7"));
  const auto layouts = storage.loadLayouts();
  const auto settings = storage.loadAppSettings();
  wendrix::Layout layout;
  layout.name = layouts.empty() ? std::string("Fuzz") : layouts.front().name;
  storage.saveLayout(layout);
  storage.saveAppSettings(settings);
  (void)storage.loadLayouts();
}

// Binary lists whose records all decode from the tree read in place, to the
// same layouts; the others do not.
void checkReadInPlace(const base::Bytes& blob) {
  const auto inPlace = wendrix::decodeStoredLayouts(blob);
  const auto fromTree = coding::fromPropertyList<std::vector<wendrix::Layout>>(blob);
  const bool binary = blob.size() >= 8 &&
                      std::string_view(reinterpret_cast<const char*>(blob.data()), 8) == "bplist00";
  if (inPlace.has_value() != (binary && fromTree.ok())) __builtin_trap();
  if (inPlace && coding::encode(*inPlace) != coding::encode(*fromTree)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const base::Bytes blob(data, data + size);
  checkReadInPlace(blob);
  readAndWrite(wendrix::defaults_keys::kSaved, blob);
  readAndWrite(wendrix::defaults_keys::kLegacySaved, blob);
  readAndWrite(wendrix::defaults_keys::kAppSettings, blob);
  return 0;
}
