// A layouts file chosen for import: decoded as the import does, then merged
// into saved layouts whose names clash with common ones, so the renaming runs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "platform/bundle/fake/fake_bundle_provider.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/panels/fake/fake_file_panels.h"
#include "storage/layout_transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto imported = wendrix::decodeExportData(fuzz::asText(data, size));
  if (!imported) return 0;

  auto storage = std::make_shared<wendrix::DefaultsStorage>(
      std::make_shared<platform::MemoryUserDefaults>(), std::string("7"));
  for (const char* name : {"Work", "Work (Imported)", "Home"}) {
    wendrix::Layout layout;
    layout.name = name;
    storage->saveLayout(layout);
  }
  // Always the same "random" digits, so a name clash repeats.
  wendrix::LayoutTransfer transfer(storage, std::make_shared<platform::FakeFilePanels>(),
                                   std::make_shared<platform::FakeBundleProvider>(),
                                   [](std::uint32_t bound) { return bound / 2; });
  const auto owner = std::make_shared<int>(0);
  (void)transfer.mergeImportedLayouts(storage->loadLayouts(), owner, *imported);
  (void)storage->loadLayouts();
  return 0;
}
