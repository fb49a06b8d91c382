#pragma once

// Export of the saved layouts to a JSON file and import of such a file,
// merged into the saved layouts.
//
// The file is UTF-8 JSON: one object whose only member "layouts" holds the
// layouts as their JSON coding gives them. Exports are written atomically, so
// a failed export never leaves a partial file. An import appends the file's
// layouts after the saved ones; a layout whose name is taken is renamed
// "NAME (Imported)" or, when that is taken too, "NAME (Imported DDDDDDDD)"
// with eight random digits, and is skipped (with an "Error" event) when both
// are taken.
//
// The operations belong to the engine's actions object, which holds the
// storage; they are written against the storage and a weakly held owner (the
// actions object): once the owner is gone they do nothing and yield false.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/url.h"
#include "coding/reader.h"
#include "coding/value.h"
#include "model/layout.h"
#include "platform/bundle/bundle.h"
#include "platform/panels/system_file_panels.h"
#include "rx/single.h"
#include "storage/defaults_storage.h"

namespace wendrix {

enum class DataExportError : std::int64_t {
  Unknown = 0,  // never raised
  FailedToGenerateFileContents = 1,
  FailedToParseImportedFile = 2,
};

struct DataExportErrors {
  static constexpr std::string_view kDomain = "Wendrix.DataExportError";
  static base::Error make(DataExportError code);
  static bool is(const base::Error& error, DataExportError code) {
    return error.is(kDomain, static_cast<std::int64_t>(code));
  }
};

// The ErrorDescription sent when an imported layout cannot be given a free name.
inline constexpr std::string_view kFailedToFindImportName =
    "Failed to find valid name to import layout";

// Texts of the export and import panels.
inline constexpr std::string_view kExportPanelTitle = "Export your layouts!";
inline constexpr std::string_view kImportPanelTitle = "Import your layouts!";
inline constexpr std::string_view kTransferFileName = "WendrixData";
inline constexpr std::string_view kTransferFileType = "json";

// The root of an export file.
struct ExportData {
  std::vector<Layout> layouts;

  coding::Value encode() const;
  // Fails without "layouts"; other members are ignored.
  static base::Result<ExportData> decode(const coding::Reader& reader);
};

// A uniformly distributed integer below `bound` (which is at least 1).
using UniformRandom = std::function<std::uint32_t(std::uint32_t bound)>;

// The system's generator (arc4random_uniform).
std::uint32_t systemUniformRandom(std::uint32_t bound);

// `count` decimal digits drawn uniformly, leading zeros kept.
std::string randomDigitString(std::size_t count, const UniformRandom& random = systemUniformRandom);

// A name for an imported layout called `name` that no layout of `saved` has:
// "NAME (Imported)", else "NAME (Imported DDDDDDDD)" with eight random digits;
// none when both are taken (there is no third try).
std::optional<std::string> importedLayoutName(std::string_view name,
                                              const std::vector<Layout>& saved,
                                              const UniformRandom& random = systemUniformRandom);

// The layouts of an export file's text; none when it does not decode.
std::optional<std::vector<Layout>> decodeExportData(std::string_view text);

class LayoutTransfer {
 public:
  // The operations' owner (the actions object), held weakly.
  using Owner = std::weak_ptr<const void>;

  LayoutTransfer(std::shared_ptr<DefaultsStorage> storage,
                 std::shared_ptr<platform::FilePanels> panels,
                 std::shared_ptr<const platform::BundleProvider> bundles,
                 UniformRandom random = systemUniformRandom);

  // A save panel for the export file, as a sheet on `window`: the chosen file
  // when the user confirms, none otherwise. Disposing the subscription leaves
  // the panel alone.
  rx::Single<std::optional<base::Url>> showLayoutsExportPanel(platform::PanelParent* window) const;
  // An open panel for a file to import, shown the same way.
  rx::Single<std::optional<base::Url>> showLayoutsImportPanel(platform::PanelParent* window) const;

  // Writes the saved layouts to `url`: false without a URL, once the owner is
  // gone, or when the write fails.
  rx::Single<bool> exportLayoutsToFile(const std::optional<base::Url>& url,
                                       const Owner& owner) const;
  // Writes `layouts` to the file `url` atomically; a failure is reported at
  // "prefs.export_001" (anonymized by the layouts) and gives false.
  bool writeLayouts(const std::vector<Layout>& layouts, const base::Url& url) const;

  // Reads `url` and merges its layouts into the saved ones: true when some
  // were stored; false without a URL or once the owner is gone. Fails with
  // the read error, or with FailedToParseImportedFile when the text does not
  // decode; the saved layouts are then untouched.
  rx::Single<bool> importLayoutsFromFile(const std::optional<base::Url>& url,
                                         const Owner& owner) const;
  // Stores `saved` followed by the accepted `imported` layouts (renamed where
  // their name clashes with a saved one); false, storing nothing, when none
  // was accepted or the owner is gone.
  bool mergeImportedLayouts(const std::vector<Layout>& saved, const Owner& owner,
                            const std::vector<Layout>& imported) const;

 private:
  struct Context {
    std::shared_ptr<DefaultsStorage> storage;
    std::shared_ptr<platform::FilePanels> panels;
    std::shared_ptr<const platform::BundleProvider> bundles;
    UniformRandom random;
  };

  static bool write(const Context& context, const std::vector<Layout>& layouts,
                    const base::Url& url);
  static bool merge(const Context& context, const std::vector<Layout>& saved, const Owner& owner,
                    const std::vector<Layout>& imported);
  static rx::Single<std::vector<Layout>> savedLayouts(const Context& context);

  std::shared_ptr<const Context> context_;
};

}  // namespace wendrix
