#include "storage/layout_transfer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "analytics/record_replacements.h"
#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "coding/codable.h"
#include "model/json_coders.h"
#include "storage/text_file.h"

namespace wendrix {
namespace {

constexpr std::size_t kImportedNameDigits = 8;

platform::FilePanelOptions panelOptions(std::string_view title) {
  return platform::FilePanelOptions{
      std::string(title), std::string(kTransferFileName), {std::string(kTransferFileType)}};
}

using PanelStarter = void (platform::FilePanels::*)(const platform::FilePanelOptions&,
                                                    platform::PanelParent*,
                                                    platform::PanelCompletion);

rx::Single<std::optional<base::Url>> showPanel(std::shared_ptr<platform::FilePanels> panels,
                                               PanelStarter start, std::string_view title,
                                               platform::PanelParent* window) {
  using Result = std::optional<base::Url>;
  return rx::Single<Result>::create([panels = std::move(panels), start,
                                     options = panelOptions(title),
                                     window](const rx::Single<Result>::SingleObserver& observer) {
    ((*panels).*start)(
        options, window,
        [observer](platform::PanelResponse response, std::optional<base::Url> url) {
          observer(response == platform::PanelResponse::ok ? std::move(url) : Result());
        });
    return rx::Disposables::create();
  });
}

}  // namespace

base::Error DataExportErrors::make(DataExportError code) {
  const auto number = static_cast<std::int64_t>(code);
  return base::Error(std::string(kDomain), number,
                     "The operation couldn\u2019t be completed. (" + std::string(kDomain) +
                         " error " + std::to_string(number) + ".)");
}

coding::Value ExportData::encode() const {
  coding::Dictionary d;
  coding::put(d, "layouts", layouts);
  return d;
}

base::Result<ExportData> ExportData::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  ExportData data;
  data.layouts = f.required<std::vector<Layout>>("layouts");
  return f.finish(std::move(data));
}

std::uint32_t systemUniformRandom(std::uint32_t bound) {
  return ::arc4random_uniform(bound);
}

std::string randomDigitString(std::size_t count, const UniformRandom& random) {
  static constexpr char kDigits[] = "0123456789";
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    // The modulo only guards against a source that breaks its bound.
    out.push_back(kDigits[random(10) % 10]);
  }
  return out;
}

std::optional<std::string> importedLayoutName(std::string_view name,
                                              const std::vector<Layout>& saved,
                                              const UniformRandom& random) {
  auto isFree = [&saved](const std::string& candidate) {
    for (const Layout& layout : saved) {
      if (layout.name == candidate) return false;
    }
    return true;
  };
  std::string first = std::string(name) + " (Imported)";
  if (isFree(first)) return first;
  std::string second =
      std::string(name) + " (Imported " + randomDigitString(kImportedNameDigits, random) + ")";
  if (isFree(second)) return second;
  return std::nullopt;
}

std::optional<std::vector<Layout>> decodeExportData(std::string_view text) {
  auto data = sharedJSONDecoder().decode<ExportData>(text);
  if (!data) return std::nullopt;
  return std::move(data).value().layouts;
}

LayoutTransfer::LayoutTransfer(std::shared_ptr<DefaultsStorage> storage,
                               std::shared_ptr<platform::FilePanels> panels,
                               std::shared_ptr<const platform::BundleProvider> bundles,
                               UniformRandom random)
    : context_(std::make_shared<const Context>(
          Context{std::move(storage), std::move(panels), std::move(bundles), std::move(random)})) {}

rx::Single<std::optional<base::Url>> LayoutTransfer::showLayoutsExportPanel(
    platform::PanelParent* window) const {
  return showPanel(context_->panels, &platform::FilePanels::beginSaveSheet, kExportPanelTitle,
                   window);
}

rx::Single<std::optional<base::Url>> LayoutTransfer::showLayoutsImportPanel(
    platform::PanelParent* window) const {
  return showPanel(context_->panels, &platform::FilePanels::beginOpenSheet, kImportPanelTitle,
                   window);
}

rx::Single<std::vector<Layout>> LayoutTransfer::savedLayouts(const Context& context) {
  return context.storage->layouts().valueStream().take(1).asSingle();
}

rx::Single<bool> LayoutTransfer::exportLayoutsToFile(const std::optional<base::Url>& url,
                                                     const Owner& owner) const {
  return rx::Single<bool>::deferred([context = context_, url, owner]() -> rx::Single<bool> {
    if (!url || owner.expired()) return rx::Single<bool>::just(false);
    return savedLayouts(*context).map([context, url = *url](const std::vector<Layout>& layouts) {
      return write(*context, layouts, url);
    });
  });
}

bool LayoutTransfer::writeLayouts(const std::vector<Layout>& layouts, const base::Url& url) const {
  return write(*context_, layouts, url);
}

bool LayoutTransfer::write(const Context& context, const std::vector<Layout>& layouts,
                           const base::Url& url) {
  base::Status written = [&]() -> base::Status {
    auto text = sharedJSONEncoder().encode(ExportData{layouts});
    if (!text) return text.error();
    const std::optional<std::string> path = url.filePath();
    if (!path) {
      return base::Error(
          std::string(FileError::kDomain), FileError::writeFailed,
          "The file couldn\u2019t be saved: " + url.absoluteString() + " is not a local file.");
    }
    return writeFileAtomically(*path, *text);
  }();
  if (written) return true;

  Track::errorWithLocation(written.error(), error_location::kPrefsExport001,
                           anonymizingReplacementsForLayouts(layouts, *context.bundles));
  return false;
}

rx::Single<bool> LayoutTransfer::importLayoutsFromFile(const std::optional<base::Url>& url,
                                                       const Owner& owner) const {
  return rx::Single<bool>::deferred([context = context_, url, owner]() -> rx::Single<bool> {
    if (!url || owner.expired()) return rx::Single<bool>::just(false);
    const std::optional<std::string> path = url->filePath();
    if (!path) {
      return rx::Single<bool>::error(base::Error(
          std::string(FileError::kDomain), FileError::readFailed,
          "The file couldn\u2019t be opened: " + url->absoluteString() + " is not a local file."));
    }
    auto text = readUtf8File(*path);
    if (!text) return rx::Single<bool>::error(text.error());
    auto imported = decodeExportData(*text);
    if (!imported) {
      return rx::Single<bool>::error(
          DataExportErrors::make(DataExportError::FailedToParseImportedFile));
    }
    return savedLayouts(*context).map(
        [context, owner, imported = std::move(*imported)](const std::vector<Layout>& saved) {
          return merge(*context, saved, owner, imported);
        });
  });
}

bool LayoutTransfer::mergeImportedLayouts(const std::vector<Layout>& saved, const Owner& owner,
                                          const std::vector<Layout>& imported) const {
  return merge(*context_, saved, owner, imported);
}

bool LayoutTransfer::merge(const Context& context, const std::vector<Layout>& saved,
                           const Owner& owner, const std::vector<Layout>& imported) {
  if (owner.expired()) return false;
  std::vector<Layout> accepted;
  for (const Layout& layout : imported) {
    // Names are compared with the layouts saved before the import only.
    if (!layoutNamed(saved, layout.name)) {
      accepted.push_back(layout);
      continue;
    }
    std::optional<std::string> name = importedLayoutName(layout.name, saved, context.random);
    if (!name) {
      Track::error(base::Error("Wendrix.LayoutImport", 1, std::string(kFailedToFindImportName)));
      continue;
    }
    Layout renamed = layout;
    renamed.name = std::move(*name);
    accepted.push_back(std::move(renamed));
  }
  if (accepted.empty()) return false;

  std::vector<Layout> merged = saved;
  merged.insert(merged.end(), std::make_move_iterator(accepted.begin()),
                std::make_move_iterator(accepted.end()));
  context.storage->layouts().setValue(merged);
  // A store that refused the write has already been reported; what it holds
  // now tells whether the layouts were stored.
  return sameNames(context.storage->loadLayouts(), merged);
}

}  // namespace wendrix
