#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/close_behavior.h"
#include "model/layout.h"
#include "model/shortcut.h"
#include "platform/defaults/user_defaults.h"
#include "rx/observable.h"
#include "rx/subjects.h"
#include "storage/close_behavior_storage.h"
#include "storage/saved_layouts.h"
#include "storage/setting_storage.h"

namespace wendrix {

// The program's user-defaults keys.
namespace defaults_keys {
// Binary property list of the saved layouts.
inline constexpr std::string_view kSaved = "app.wendrix.saved";
// Where an earlier version kept the layouts (same format); read once by the
// migration, then removed.
inline constexpr std::string_view kLegacySaved = "me.ostrel.galvin.saved";
// Binary property list of the per-application settings by bundle id.
inline constexpr std::string_view kAppSettings = "app.wendrix.appsettings";
inline constexpr std::string_view kCloseBehavior = "app.wendrix.settings.closebehavior";
// The build number of the first version that ran.
inline constexpr std::string_view kUserSince = "app.wendrix.usersince";
inline constexpr std::string_view kFeatureEditLayout = "app.wendrix.feature.editlayout";
inline constexpr std::string_view kFeatureHideLayoutMenuItem =
    "app.wendrix.feature.hidelayoutmenuitem";
}  // namespace defaults_keys

// The ErrorDescription sent when the program's build number is not an integer.
inline constexpr std::string_view kFailedToGetBuildVersion = "Failed to get Build Version as Int";

// What the URL command handler needs of the layout store.
class LayoutStorage {
 public:
  virtual ~LayoutStorage() = default;
  // The saved layouts now and after every write.
  virtual rx::Observable<std::vector<Layout>> savedStream() = 0;
};

// The one store of the program's persistent state: saved layouts,
// per-application settings, the close behaviour, the build number of first
// use and two feature flags, all in the user-defaults store. Every change is
// written when it happens, and each piece of state is also a replaying
// stream. Reads never fail: anything absent or undecodable gives its
// default. Saved layouts or application settings that do not decode are
// kept under a backup key (and reported) before a write replaces them. Used
// on the main thread only; its storages and streams are made on first use and
// live as long as it.
class DefaultsStorage : public LayoutStorage {
 public:
  // `bundleVersion`: the program's own build number text (CFBundleVersion),
  // none when it has none.
  DefaultsStorage(std::shared_ptr<platform::UserDefaults> defaults,
                  std::optional<std::string> bundleVersion);
  ~DefaultsStorage() override;
  DefaultsStorage(const DefaultsStorage&) = delete;
  DefaultsStorage& operator=(const DefaultsStorage&) = delete;

  // The process-wide instance, made on first use from the collaborators given
  // to `configureShared`. Using it unconfigured is a wiring error and aborts.
  static std::shared_ptr<DefaultsStorage> shared();
  // Sets what the shared instance is made from (no store: the process-wide
  // standard one); drops an instance already made.
  static void configureShared(std::shared_ptr<platform::UserDefaults> defaults,
                              std::optional<std::string> bundleVersion);
  // Makes `instance` the shared one; none drops the shared instance and its
  // configuration.
  static void setSharedForTesting(std::shared_ptr<DefaultsStorage> instance = nullptr);

  // The saved layouts at subscription and as read back after every write,
  // also when the list did not change.
  rx::Observable<std::vector<Layout>> savedStream() override;
  // The same emissions as `savedStream`, each made once into one shared,
  // indexed list, so that many subscribers cost no copy of the list each;
  // shared with a replay of 1 while connected.
  rx::Observable<std::shared_ptr<const SavedLayouts>> savedLayoutsStream();
  // The saved layouts, passed on only when the sequence of names changed;
  // shared with a replay of 1 while connected.
  rx::Observable<std::vector<Layout>> layoutListStream();
  // The per-application settings, seeded with `loadAppSettings`.
  const rx::BehaviorSubject<AppSettingsMap>& appSettingsSubject();
  // `appSettingsSubject` shared with a replay of 1 while connected.
  rx::Observable<AppSettingsMap> appSettingsStream();

  EncoderValueStorage<std::vector<Layout>>& layouts();
  CloseBehaviorStorage& closeBehavior();
  RawSettingStorage<std::optional<std::int64_t>>& userSince();
  RawSettingStorage<bool>& featureEditWindow();
  RawSettingStorage<bool>& featureHideLayoutMenuItem();

  // The saved layouts. When the current key holds no bytes, moves layouts
  // kept under the legacy key over to it. The list decodes record by record:
  // a record that does not decode is left out (said once on standard error)
  // and its bytes are kept under the backup key before the next write.
  std::vector<Layout> loadLayouts();
  // Drops every layout named like `layout` and appends `layout`.
  void saveLayout(const Layout& layout) { (void)storeLayout(layout); }
  // `saveLayout`, failing with the reason unless the new list reached the
  // disk.
  base::Status storeLayout(const Layout& layout);
  // Replaces the first layout named `name` in place (the new one may carry
  // another name); writes the list even when none matched.
  void replaceLayout(std::string_view name, const Layout& layout);
  // Drops every layout named `name`.
  void deleteLayout(std::string_view name);

  // Called on the main thread with the store's error whenever it refuses to
  // write the layouts or the application settings.
  void setWriteFailureHandler(std::function<void(const base::Error&)> handler);

  // The stored per-application settings; empty when absent or undecodable.
  AppSettingsMap loadAppSettings();
  // Stores `settings` and emits them as read back. Settings that cannot be
  // encoded are reported and the stored ones kept.
  void saveAppSettings(const AppSettingsMap& settings);

  // The start-up step: marks the edit window as a new feature while there
  // are no layouts, and on the first run of a version that records it, sets
  // the close behaviour from old layouts and stores the build number.
  void applyFirstRunDefaults();

 private:
  class LayoutsStorage;
  // What the stored bytes of the layouts read as.
  struct DecodedLayouts {
    std::vector<Layout> layouts;
    // Records left out because they do not decode (1 for bytes that are no
    // list at all).
    std::size_t undecodable = 0;
    // The bytes' size, and the store's revision of them (0: unknown).
    std::size_t size = 0;
    platform::UserDefaults::Revision revision = 0;
    // For a list being written whole: its bytes, until they are read back.
    base::Bytes wholeBytes;
    // For a list being written by an edit: how many bytes of the stored
    // ones it keeps.
    std::size_t sharedPrefix = 0;
  };

  // How a list being written is made of the stored one, whose records are
  // the stored bytes' elements one for one.
  struct Edit {
    // Per layout of the new list: its index in the stored list, or none for
    // the next of `added`.
    std::vector<std::optional<std::size_t>> sources;
    // The new layouts' coded forms.
    std::vector<coding::Value> added;
    // How many stored layouts the new list keeps.
    std::size_t kept = 0;
  };
  // Stored bytes may grow by this much, plus their size when written whole,
  // before the list is written whole again.
  static constexpr std::size_t kEditSlackBytes = 64 * 1024;

  bool writeOrReport(std::string_view key, coding::Value value);
  // Writes `list`, whose layouts all are as the store reads them back, so
  // that the list read back after the write needs no decoding; by editing
  // the stored bytes when `edit` says how.
  base::Status storeReadBackList(std::vector<Layout> list, std::optional<Edit> edit = std::nullopt);
  // Called with every list the layouts' storage encoded and its bytes.
  void encodedLayouts(const std::vector<Layout>& list, const base::Bytes& bytes);
  // What follows the stored bytes' unchanged beginning in the bytes of
  // `list`, being written, made by editing the stored bytes; none when it is
  // to be encoded whole: no edit is known, the store keeps no revisions, or
  // what the stored bytes hold unreferenced after edits may outweigh the
  // list.
  std::optional<base::Bytes> editedLayouts(const std::vector<Layout>& list);
  // Writes what the layouts' storage encoded: an edit's tail in place of the
  // stored bytes' end, or else the whole list.
  base::Status writeLayouts(platform::UserDefaults& defaults, coding::Value value);
  // Whether `stored`, at `revision`, are the bytes of the list being
  // written.
  bool isBeingWritten(const base::Bytes& stored, platform::UserDefaults::Revision revision) const;
  // The layouts' overwrite check: stored bytes known to decode need none.
  bool keepUndecodableLayouts(platform::UserDefaults& defaults);
  // Decodes the stored `bytes` into `decoded_`: the layouts that decode;
  // says once on standard error that others did not.
  void decodeLayouts(std::span<const std::uint8_t> bytes,
                     platform::UserDefaults::Revision revision);
  // Whether the stored value at `revision` is the one decoded.
  bool isDecoded(platform::UserDefaults::Revision revision) const;
  void writeFailed(const base::Error& error);

  std::function<void(const base::Error&)> writeFailureHandler_;
  bool undecodableLayoutsReported_ = false;
  // The stored bytes last decoded, and the list being written when its
  // read-back form is known: the same bytes read back the same.
  std::optional<DecodedLayouts> decoded_;
  std::optional<DecodedLayouts> writing_;
  std::optional<Edit> editing_;
  // Whether the last loadLayouts gave the stored bytes' records one for one.
  bool decodedIsStored_ = false;
  // The stored bytes' size when last written or read whole, and how many
  // layouts edits have dropped from them since.
  std::size_t compactSize_ = 0;
  std::size_t staleElements_ = 0;

  std::shared_ptr<platform::UserDefaults> defaults_;
  std::optional<std::string> bundleVersion_;

  std::optional<rx::Observable<std::vector<Layout>>> layoutListStream_;
  std::optional<rx::Observable<std::shared_ptr<const SavedLayouts>>> savedLayoutsStream_;
  std::optional<rx::BehaviorSubject<AppSettingsMap>> appSettingsSubject_;
  std::optional<rx::Observable<AppSettingsMap>> appSettingsStream_;

  std::unique_ptr<LayoutsStorage> layouts_;
  std::unique_ptr<CloseBehaviorStorage> closeBehavior_;
  std::unique_ptr<RawSettingStorage<std::optional<std::int64_t>>> userSince_;
  std::unique_ptr<RawSettingStorage<bool>> featureEditWindow_;
  std::unique_ptr<RawSettingStorage<bool>> featureHideLayoutMenuItem_;
};

// The first layout of `layouts` named exactly `name`.
std::optional<Layout> layoutNamed(const std::vector<Layout>& layouts, std::string_view name);

// A build number as text: optional sign and decimal digits only, within
// 64 bits.
std::optional<std::int64_t> parseBuildNumber(std::string_view text);

// The store's boolean reading of a stored object: a boolean as itself, a
// number as non-zero, a string as "yes"/"true" (any case) or a non-zero
// integer; anything else, or nothing, is false.
bool storedBool(const std::optional<coding::Value>& stored);

}  // namespace wendrix
