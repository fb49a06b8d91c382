// A per-application settings file (JSON, bundle id to settings): decoded as
// the import does, stored as the program stores settings, read back, and
// written out as JSON again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "model/json_coders.h"
#include "platform/defaults/memory_user_defaults.h"
#include "storage/defaults_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto settings = wendrix::decodeAppSettingsJSON(fuzz::asText(data, size));
  if (!settings) return 0;
  wendrix::DefaultsStorage storage(std::make_shared<platform::MemoryUserDefaults>(),
                                   std::string("7"));
  storage.saveAppSettings(*settings);
  const auto stored = storage.loadAppSettings();
  (void)wendrix::sharedJSONEncoder().encode(stored);
  return 0;
}
