#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/secrets/secret_store.h"

namespace platform {

// Secrets on disk: one file per service (mode 0600) in one folder (mode 0700).
// Each change rewrites the service's file atomically (temporary file, fsync,
// rename), under an advisory lock on the folder so that two processes never
// interleave their read-modify-write. A file that cannot be parsed is renamed
// aside to a free "<file>.corrupt-<seconds>[-n]" rather than overwritten.
class FileSecretStore final : public SecretStore {
 public:
  // Removes the temporary files of writers that died mid-write.
  explicit FileSecretStore(std::filesystem::path directory);

  SecretStatus add(std::string_view service, std::string_view account,
                   const base::Bytes& value) override;
  SecretStatus copy(std::string_view service, std::string_view account,
                    base::Bytes& value) override;
  SecretStatus remove(std::string_view service, std::string_view account) override;
  SecretStatus removeAll(std::string_view service) override;

  const std::filesystem::path& directory() const { return directory_; }
  // The file holding a service's items; names are percent-encoded so that no
  // service name can reach outside the folder.
  std::filesystem::path fileForService(std::string_view service) const;

 private:
  using Items = std::map<std::string, base::Bytes, std::less<>>;
  class FolderLock;

  SecretStatus load(std::string_view service, Items& items) const;
  SecretStatus save(std::string_view service, const Items& items) const;
  // Loads the service's items under both locks and runs `body` on them; when
  // it succeeds and `write` is set, stores them back durably.
  SecretStatus withItems(std::string_view service, bool write,
                         const std::function<SecretStatus(Items&)>& body);

  std::filesystem::path directory_;
  std::mutex mutex_;
};

}  // namespace platform
