#include "storage/setting_storage.h"

namespace wendrix::detail {

namespace {

constexpr int kMaxBackups = 100;

std::string backupKey(std::string_view key, int n) {
  std::string name = std::string(key) + ".undecodable-backup";
  return n == 1 ? name : name + "-" + std::to_string(n);
}

void report(std::string description) {
  Track::errorWithLocation(base::Error("Wendrix.SettingStorage", 2, std::move(description)),
                           error_location::kStorageBackupValue000);
}

}  // namespace

bool keepUndecodableValue(platform::UserDefaults& defaults, std::string_view key,
                          const coding::Value& stored, const base::Error& why) {
  const std::string what = "The stored value of \"" + std::string(key) +
                           "\" could not be decoded (" + why.description + ")";
  for (int n = 1; n <= kMaxBackups; ++n) {
    const std::string backup = backupKey(key, n);
    if (defaults.get(backup)) continue;
    const base::Status kept = defaults.set(backup, stored);
    if (!kept) {
      report(what + " nor kept under \"" + backup + "\" (" + kept.error().description +
             "); it was not overwritten");
      return false;
    }
    report(what + "; kept it under \"" + backup + "\" before overwriting it");
    return true;
  }
  report(what + " and every backup key is taken; it was not overwritten");
  return false;
}

}  // namespace wendrix::detail
