// The user-defaults file as the program meets it at start: the input is the
// store file. The store is opened, every key read, one key changed (which
// writes the file), and the program's state read from it as the start-up
// does: layouts, per-application settings, the first-run step.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "platform/defaults/file_user_defaults.h"
#include "storage/defaults_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path folder = fuzz::scratchFolder();
  const std::filesystem::path file = folder / "defaults.plist";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  if (auto store = platform::FileUserDefaults::open(file)) {
    for (const std::string& key : (*store)->keys())
      (void)(*store)->get(key);
    (void)(*store)->snapshot();
    (void)(*store)->set("fuzz.changed", coding::Value(std::int64_t{1}));

    wendrix::DefaultsStorage storage(*store, std::string("7"));
    (void)storage.loadLayouts();
    (void)storage.loadAppSettings();
    (void)storage.closeBehavior().value();
    (void)storage.userSince().value();
    storage.applyFirstRunDefaults();
  }
  // Moved-aside copies, the lock file and temporaries go, so every input
  // starts alike.
  fuzz::emptyFolder(folder);
  return 0;
}
