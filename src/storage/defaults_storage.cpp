#include "storage/defaults_storage.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "base/shared_slot.h"
#include "coding/plist.h"
#include "coding/plist_array_edit.h"

namespace wendrix {

namespace {

// What the shared instance is made from.
struct SharedConfiguration {
  std::mutex mutex;
  bool configured = false;
  std::shared_ptr<platform::UserDefaults> defaults;
  std::optional<std::string> bundleVersion;
};

SharedConfiguration& sharedConfiguration() {
  static SharedConfiguration configuration;
  return configuration;
}

base::SharedSlot<DefaultsStorage>& sharedSlot() {
  static base::SharedSlot<DefaultsStorage> slot;
  return slot;
}

const base::Bytes* storedBytes(const std::optional<coding::Value>& stored) {
  return stored ? stored->getIf<base::Bytes>() : nullptr;
}

template <class T>
void reportEncodeFailure(const base::Error& error, const T& value) {
  Track::errorWithLocation(
      error, error_location::kStorageEncodeValue000,
      {{detail::describeValue(value), std::string(placeholders::kEncodedValue)}});
}

std::optional<std::int64_t> storedInteger(const std::optional<coding::Value>& stored) {
  if (!stored) return std::nullopt;
  if (const auto* i = stored->getIf<std::int64_t>()) return *i;
  if (const auto* u = stored->getIf<std::uint64_t>()) {
    if (*u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return static_cast<std::int64_t>(*u);
  }
  return std::nullopt;
}

}  // namespace

DefaultsStorage::DefaultsStorage(std::shared_ptr<platform::UserDefaults> defaults,
                                 std::optional<std::string> bundleVersion)
    : defaults_(std::move(defaults)), bundleVersion_(std::move(bundleVersion)) {}

DefaultsStorage::~DefaultsStorage() = default;

std::shared_ptr<DefaultsStorage> DefaultsStorage::shared() {
  return sharedSlot().getOrMake([] {
    auto& configuration = sharedConfiguration();
    std::lock_guard lock(configuration.mutex);
    if (!configuration.configured) {
      std::fputs("DefaultsStorage::shared() used before configureShared()\n", stderr);
      std::abort();
    }
    if (!configuration.defaults) configuration.defaults = platform::UserDefaults::standard();
    return std::make_shared<DefaultsStorage>(configuration.defaults, configuration.bundleVersion);
  });
}

void DefaultsStorage::configureShared(std::shared_ptr<platform::UserDefaults> defaults,
                                      std::optional<std::string> bundleVersion) {
  {
    auto& configuration = sharedConfiguration();
    std::lock_guard lock(configuration.mutex);
    configuration.configured = true;
    configuration.defaults = std::move(defaults);
    configuration.bundleVersion = std::move(bundleVersion);
  }
  sharedSlot().exchange(nullptr);
}

void DefaultsStorage::setSharedForTesting(std::shared_ptr<DefaultsStorage> instance) {
  if (!instance) {
    auto& configuration = sharedConfiguration();
    std::lock_guard lock(configuration.mutex);
    configuration.configured = false;
    configuration.defaults.reset();
    configuration.bundleVersion.reset();
  }
  sharedSlot().exchange(std::move(instance));
}

rx::Observable<std::vector<Layout>> DefaultsStorage::savedStream() {
  return layouts().valueStream();
}

rx::Observable<std::shared_ptr<const SavedLayouts>> DefaultsStorage::savedLayoutsStream() {
  if (!savedLayoutsStream_) {
    savedLayoutsStream_.emplace(layouts()
                                    .subject()
                                    .asObservable()
                                    .map([](const std::vector<Layout>& layouts) {
                                      return std::make_shared<const SavedLayouts>(layouts);
                                    })
                                    .share(1));
  }
  return *savedLayoutsStream_;
}

rx::Observable<std::vector<Layout>> DefaultsStorage::layoutListStream() {
  if (!layoutListStream_) {
    layoutListStream_.emplace(layouts().valueStream().distinctUntilChanged(sameNames).share(1));
  }
  return *layoutListStream_;
}

const rx::BehaviorSubject<AppSettingsMap>& DefaultsStorage::appSettingsSubject() {
  if (!appSettingsSubject_) appSettingsSubject_.emplace(loadAppSettings());
  return *appSettingsSubject_;
}

rx::Observable<AppSettingsMap> DefaultsStorage::appSettingsStream() {
  if (!appSettingsStream_) appSettingsStream_.emplace(appSettingsSubject().asObservable().share(1));
  return *appSettingsStream_;
}

// The storages' loaders capture `this`: the storages are owned by this
// object and never outlive it.

// The saved layouts' storage: tells its owner what it encodes, and asks it
// whether the stored bytes must be kept before they are replaced.
class DefaultsStorage::LayoutsStorage final : public EncoderValueStorage<std::vector<Layout>> {
 public:
  LayoutsStorage(DefaultsStorage& owner, std::shared_ptr<platform::UserDefaults> defaults)
      : EncoderValueStorage(std::move(defaults), std::string(defaults_keys::kSaved),
                            [&owner](std::string_view, const platform::UserDefaults&) {
                              return owner.loadLayouts();
                            }),
        owner_(owner) {}

  base::Result<std::optional<coding::Value>> encode(
      const std::vector<Layout>& value) const override {
    if (std::optional<base::Bytes> edited = owner_.editedLayouts(value))
      return std::optional<coding::Value>(coding::Value(std::move(*edited)));
    auto encoded = EncoderValueStorage::encode(value);
    if (encoded && *encoded) {
      if (const base::Bytes* bytes = (*encoded)->getIf<base::Bytes>())
        owner_.encodedLayouts(value, *bytes);
    }
    return encoded;
  }

 protected:
  bool prepareOverwrite(platform::UserDefaults& defaults) override {
    return owner_.keepUndecodableLayouts(defaults);
  }
  base::Status write(platform::UserDefaults& defaults, coding::Value value) override {
    return owner_.writeLayouts(defaults, std::move(value));
  }

 private:
  DefaultsStorage& owner_;
};

EncoderValueStorage<std::vector<Layout>>& DefaultsStorage::layouts() {
  if (!layouts_) {
    layouts_ = std::make_unique<LayoutsStorage>(*this, defaults_);
    layouts_->setWriteFailureHandler([this](const base::Error& error) { writeFailed(error); });
  }
  return *layouts_;
}

CloseBehaviorStorage& DefaultsStorage::closeBehavior() {
  if (!closeBehavior_) {
    closeBehavior_ = std::make_unique<CloseBehaviorStorage>(
        defaults_, std::string(defaults_keys::kCloseBehavior));
  }
  return *closeBehavior_;
}

RawSettingStorage<std::optional<std::int64_t>>& DefaultsStorage::userSince() {
  if (!userSince_) {
    userSince_ = std::make_unique<RawSettingStorage<std::optional<std::int64_t>>>(
        defaults_, std::string(defaults_keys::kUserSince),
        [](std::string_view key, const platform::UserDefaults& defaults) {
          return storedInteger(defaults.get(key));
        });
  }
  return *userSince_;
}

namespace {

std::unique_ptr<RawSettingStorage<bool>> makeFlag(std::shared_ptr<platform::UserDefaults> defaults,
                                                  std::string_view key) {
  return std::make_unique<RawSettingStorage<bool>>(
      std::move(defaults), std::string(key),
      [](std::string_view k, const platform::UserDefaults& d) { return storedBool(d.get(k)); });
}

}  // namespace

RawSettingStorage<bool>& DefaultsStorage::featureEditWindow() {
  if (!featureEditWindow_)
    featureEditWindow_ = makeFlag(defaults_, defaults_keys::kFeatureEditLayout);
  return *featureEditWindow_;
}

RawSettingStorage<bool>& DefaultsStorage::featureHideLayoutMenuItem() {
  if (!featureHideLayoutMenuItem_) {
    featureHideLayoutMenuItem_ = makeFlag(defaults_, defaults_keys::kFeatureHideLayoutMenuItem);
  }
  return *featureHideLayoutMenuItem_;
}

void DefaultsStorage::setWriteFailureHandler(std::function<void(const base::Error&)> handler) {
  writeFailureHandler_ = std::move(handler);
}

void DefaultsStorage::writeFailed(const base::Error& error) {
  if (writeFailureHandler_) writeFailureHandler_(error);
}

bool DefaultsStorage::writeOrReport(std::string_view key, coding::Value value) {
  const base::Status written = defaults_->set(key, std::move(value));
  if (!written) {
    Track::error(written.error());
    writeFailed(written.error());
  }
  return written.ok();
}

void DefaultsStorage::decodeLayouts(std::span<const std::uint8_t> bytes,
                                    platform::UserDefaults::Revision revision) {
  std::vector<Layout> layouts;
  std::size_t undecodable = 0;
  bool list = true;
  // Read in place when every record reads; the tree otherwise, which tells
  // the records that cannot be read from the others.
  if (auto stored = decodeStoredLayouts(bytes)) {
    layouts = std::move(*stored);
  } else {
    auto tree = coding::decodePropertyList(bytes);
    const coding::Array* records = tree ? tree->getIf<coding::Array>() : nullptr;
    list = records != nullptr;
    if (!records) {
      undecodable = 1;
    } else {
      for (const coding::Value& record : *records) {
        auto layout = coding::decode<Layout>(record, coding::Format::propertyList);
        if (layout) {
          layouts.push_back(std::move(layout).value());
        } else {
          ++undecodable;
        }
      }
    }
  }
  if (undecodable > 0 && !undecodableLayoutsReported_) {
    undecodableLayoutsReported_ = true;
    const std::string key(defaults_keys::kSaved);
    if (list) {
      std::fprintf(stderr,
                   "wendrix: %zu saved layout(s) under \"%s\" cannot be read; the other %zu "
                   "are kept, and the stored bytes go to \"%s.undecodable-backup\" before the "
                   "next change\n",
                   undecodable, key.c_str(), layouts.size(), key.c_str());
    } else {
      std::fprintf(stderr,
                   "wendrix: the saved layouts under \"%s\" cannot be read; the stored bytes go "
                   "to \"%s.undecodable-backup\" before the next change\n",
                   key.c_str(), key.c_str());
    }
  }
  decoded_ = DecodedLayouts{std::move(layouts), undecodable, bytes.size(), revision, {}};
  compactSize_ = bytes.size();
  staleElements_ = 0;
}

void DefaultsStorage::encodedLayouts(const std::vector<Layout>& list, const base::Bytes& bytes) {
  if (writing_ && &writing_->layouts == &list) {
    // Kept to know them when read back: a value set whole comes back with
    // no revision known beforehand.
    writing_->wholeBytes = bytes;
    writing_->size = bytes.size();
  }
  compactSize_ = bytes.size();
  staleElements_ = 0;
}

std::optional<base::Bytes> DefaultsStorage::editedLayouts(const std::vector<Layout>& list) {
  if (!writing_ || &writing_->layouts != &list || !editing_ || !decoded_ ||
      decoded_->revision == 0) {
    return std::nullopt;
  }
  Edit& edit = *editing_;
  const std::size_t dropped = decoded_->layouts.size() - edit.kept;
  // Written whole again once what the file holds unreferenced may outweigh
  // the list.
  if (staleElements_ + dropped > list.size() ||
      decoded_->size > 2 * compactSize_ + kEditSlackBytes) {
    return std::nullopt;
  }
  std::vector<coding::PlistArrayElement> elements;
  elements.reserve(edit.sources.size());
  std::size_t next = 0;
  for (const auto& source : edit.sources) {
    if (source) {
      elements.push_back({source, nullptr});
    } else {
      elements.push_back({std::nullopt, &edit.added[next++]});
    }
  }
  // The stored bytes are edited where the store keeps them, while they are
  // still the ones decoded.
  std::optional<coding::EditedPlist> edited;
  defaults_->readWithRevision(
      defaults_keys::kSaved,
      [&](const coding::Value& stored, platform::UserDefaults::Revision revision) {
        const base::Bytes* bytes = stored.getIf<base::Bytes>();
        if (!bytes || revision != decoded_->revision) return;
        if (auto made = coding::editBinaryPlistArray(*bytes, elements))
          edited = std::move(made).value();
      });
  if (!edited) return std::nullopt;
  staleElements_ += dropped;
  writing_->sharedPrefix = edited->unchangedPrefix;
  return std::move(edited->tail);
}

base::Status DefaultsStorage::writeLayouts(platform::UserDefaults& defaults, coding::Value value) {
  base::Bytes* tail = value.getIf<base::Bytes>();
  if (!writing_ || writing_->sharedPrefix == 0 || !tail)
    return defaults.set(defaults_keys::kSaved, std::move(value));
  // The stored bytes keep their beginning, in place; only the tail is new.
  auto revision = defaults.replaceDataTail(defaults_keys::kSaved, decoded_->revision,
                                           writing_->sharedPrefix, *tail);
  if (revision) {
    writing_->size = writing_->sharedPrefix + tail->size();
    writing_->revision = *revision;
    return {};
  }
  // Another process changed the stored bytes since they were read, or the
  // write failed: the whole list is written, over bytes that decode.
  writing_->sharedPrefix = 0;
  auto whole = coding::toPropertyList(writing_->layouts, coding::PlistFormat::binary);
  if (!whole) return whole.error();
  encodedLayouts(writing_->layouts, *whole);
  if (!keepUndecodableLayouts(defaults)) {
    return base::Error("Wendrix.SettingStorage", 3,
                       "the layouts stored meanwhile could not be kept; the save is not written");
  }
  return defaults.set(defaults_keys::kSaved, coding::Value(std::move(whole).value()));
}

bool DefaultsStorage::isDecoded(platform::UserDefaults::Revision revision) const {
  return decoded_ && revision != 0 && revision == decoded_->revision;
}

bool DefaultsStorage::isBeingWritten(const base::Bytes& stored,
                                     platform::UserDefaults::Revision revision) const {
  if (!writing_) return false;
  if (revision != 0 && revision == writing_->revision) return true;
  return !writing_->wholeBytes.empty() && writing_->wholeBytes == stored;
}

bool DefaultsStorage::keepUndecodableLayouts(platform::UserDefaults& defaults) {
  bool known = false;
  defaults.readWithRevision(defaults_keys::kSaved, [&](const coding::Value& stored,
                                                       platform::UserDefaults::Revision revision) {
    const base::Bytes* bytes = stored.getIf<base::Bytes>();
    known = bytes && decoded_ && decoded_->undecodable == 0 && isDecoded(revision);
  });
  if (known) return true;
  return keepUndecodableBeforeWrite<std::vector<Layout>>(defaults, defaults_keys::kSaved);
}

base::Status DefaultsStorage::storeReadBackList(std::vector<Layout> list,
                                                std::optional<Edit> edit) {
  // The list is written from where it is kept: the read back after the
  // write moves it on, once its bytes are found in the store (the write
  // does not look at it after that).
  writing_ = DecodedLayouts{std::move(list), 0, 0, 0, {}};
  editing_ = std::move(edit);
  base::Status status = layouts().store(writing_->layouts);
  writing_.reset();
  editing_.reset();
  return status;
}

namespace {

// `layout` as the store reads it back; none when it does not come back.
std::optional<Layout> readBackForm(const Layout& layout) {
  auto bytes = coding::toPropertyList(layout, coding::PlistFormat::binary);
  if (!bytes) return std::nullopt;
  auto decoded = coding::fromPropertyList<Layout>(*bytes);
  if (!decoded) return std::nullopt;
  return std::move(decoded).value();
}

}  // namespace

std::vector<Layout> DefaultsStorage::loadLayouts() {
  // Bytes already decoded, or just written, are not decoded again; others
  // are decoded where the store keeps them.
  enum class Stored { none, decoded, written, fresh } stored = Stored::none;
  platform::UserDefaults::Revision revision = 0;
  const auto look = [&](const coding::Value& value, platform::UserDefaults::Revision at) {
    const base::Bytes* bytes = value.getIf<base::Bytes>();
    if (!bytes) return;
    revision = at;
    if (isDecoded(at)) {
      stored = Stored::decoded;
    } else if (isBeingWritten(*bytes, at)) {
      stored = Stored::written;
    } else {
      // Undecodable bytes stay where they are; no migration over them.
      stored = Stored::fresh;
      decodeLayouts(*bytes, at);
    }
  };
  defaults_->readWithRevision(defaults_keys::kSaved, look);
  if (stored == Stored::written) {
    decoded_ = std::move(writing_);
    decoded_->wholeBytes = {};
    writing_.reset();
  }
  if (stored != Stored::none) decoded_->revision = revision;
  decodedIsStored_ = stored != Stored::none && decoded_->undecodable == 0;
  if (stored != Stored::none) return decoded_->layouts;

  const std::optional<coding::Value> legacy = defaults_->get(defaults_keys::kLegacySaved);
  const base::Bytes* legacyBytes = storedBytes(legacy);
  if (!legacyBytes) return {};

  auto decoded = coding::fromPropertyList<std::vector<Layout>>(*legacyBytes);
  if (!decoded) {
    (void)defaults_->remove(defaults_keys::kLegacySaved);
    return {};
  }
  // The legacy key goes only once the layouts are safely under the new key.
  auto encoded = coding::toPropertyList(*decoded, coding::PlistFormat::binary);
  if (!encoded) {
    reportEncodeFailure(encoded.error(), *decoded);
  } else if (keepUndecodableBeforeWrite<std::vector<Layout>>(*defaults_, defaults_keys::kSaved) &&
             writeOrReport(defaults_keys::kSaved, coding::Value(std::move(encoded).value()))) {
    const base::Status removed = defaults_->remove(defaults_keys::kLegacySaved);
    if (!removed) Track::error(removed.error());
  }
  return std::move(decoded).value();
}

// The list operations below change one layout of the list read back from
// the store. The others are as the store reads them back already (a layout
// read back reads back as itself), so only the changed one is decoded again,
// alone, and the list read back after the write is known without decoding
// it. A layout that does not come back so goes the general way: the whole
// list is read back.

// Each also says how the new list is made of the stored one, so that the
// stored bytes are edited rather than written whole (see editedLayouts).

base::Status DefaultsStorage::storeLayout(const Layout& layout) {
  std::vector<Layout> list = loadLayouts();
  const bool editable = decodedIsStored_;
  std::optional<Layout> readBack = readBackForm(layout);
  if (!readBack) {
    std::erase_if(list, [&](const Layout& l) { return l.name == layout.name; });
    list.push_back(layout);
    return layouts().store(list);
  }
  Edit edit;
  std::vector<Layout> next;
  next.reserve(list.size() + 1);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].name == layout.name) continue;
    edit.sources.emplace_back(i);
    next.push_back(std::move(list[i]));
  }
  edit.kept = next.size();
  edit.sources.emplace_back(std::nullopt);
  edit.added.push_back(coding::encode(*readBack));
  next.push_back(std::move(*readBack));
  return storeReadBackList(std::move(next),
                           editable ? std::optional(std::move(edit)) : std::nullopt);
}

void DefaultsStorage::replaceLayout(std::string_view name, const Layout& layout) {
  std::vector<Layout> list = loadLayouts();
  const bool editable = decodedIsStored_;
  auto it = std::find_if(list.begin(), list.end(), [&](const Layout& l) { return l.name == name; });
  Edit edit;
  for (std::size_t i = 0; i < list.size(); ++i)
    edit.sources.emplace_back(i);
  edit.kept = list.size();
  if (it == list.end()) {
    (void)storeReadBackList(std::move(list),
                            editable ? std::optional(std::move(edit)) : std::nullopt);
    return;
  }
  std::optional<Layout> readBack = readBackForm(layout);
  if (!readBack) {
    *it = layout;
    layouts().setValue(list);
    return;
  }
  const auto at = static_cast<std::size_t>(it - list.begin());
  edit.sources[at] = std::nullopt;
  edit.kept = list.size() - 1;
  edit.added.push_back(coding::encode(*readBack));
  *it = std::move(*readBack);
  (void)storeReadBackList(std::move(list),
                          editable ? std::optional(std::move(edit)) : std::nullopt);
}

void DefaultsStorage::deleteLayout(std::string_view name) {
  std::vector<Layout> list = loadLayouts();
  const bool editable = decodedIsStored_;
  Edit edit;
  std::vector<Layout> next;
  next.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].name == name) continue;
    edit.sources.emplace_back(i);
    next.push_back(std::move(list[i]));
  }
  edit.kept = next.size();
  (void)storeReadBackList(std::move(next),
                          editable ? std::optional(std::move(edit)) : std::nullopt);
}

AppSettingsMap DefaultsStorage::loadAppSettings() {
  const std::optional<coding::Value> stored = defaults_->get(defaults_keys::kAppSettings);
  const base::Bytes* bytes = storedBytes(stored);
  if (!bytes) return {};
  return coding::fromPropertyList<AppSettingsMap>(*bytes).valueOr(AppSettingsMap{});
}

void DefaultsStorage::saveAppSettings(const AppSettingsMap& settings) {
  auto encoded = coding::toPropertyList(settings, coding::PlistFormat::binary);
  if (!encoded) {
    reportEncodeFailure(encoded.error(), settings);
    return;
  }
  if (keepUndecodableBeforeWrite<AppSettingsMap>(*defaults_, defaults_keys::kAppSettings))
    writeOrReport(defaults_keys::kAppSettings, coding::Value(std::move(encoded).value()));
  appSettingsSubject().onNext(loadAppSettings());
}

void DefaultsStorage::applyFirstRunDefaults() {
  const std::vector<Layout> saved = layouts().value();
  if (saved.empty()) featureEditWindow().setValue(true);

  if (userSince().value()) return;

  if (!closeBehavior().hasStoredValue()) {
    auto it = std::find_if(saved.begin(), saved.end(),
                           [](const Layout& l) { return l.alwaysCloseOtherApps.value_or(false); });
    if (it != saved.end()) closeBehavior().setValue(CloseBehavior::quit);
  }

  if (bundleVersion_) {
    if (auto build = parseBuildNumber(*bundleVersion_)) {
      userSince().setValue(*build);
      return;
    }
  }
  Track::error(base::Error("Wendrix.DefaultsStorage", 1, std::string(kFailedToGetBuildVersion)));
}

std::optional<Layout> layoutNamed(const std::vector<Layout>& layouts, std::string_view name) {
  auto it =
      std::find_if(layouts.begin(), layouts.end(), [&](const Layout& l) { return l.name == name; });
  if (it == layouts.end()) return std::nullopt;
  return *it;
}

std::optional<std::int64_t> parseBuildNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool storedBool(const std::optional<coding::Value>& stored) {
  if (!stored) return false;
  if (const auto* b = stored->getIf<bool>()) return *b;
  if (const auto* i = stored->getIf<std::int64_t>()) return *i != 0;
  if (const auto* u = stored->getIf<std::uint64_t>()) return *u != 0;
  if (const auto* d = stored->getIf<double>()) return *d != 0;
  if (const auto* s = stored->getIf<std::string>()) {
    std::string lower;
    for (char c : *s)
      lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (lower == "yes" || lower == "true") return true;
    const auto n = parseBuildNumber(*s);
    return n && *n != 0;
  }
  return false;
}

}  // namespace wendrix
