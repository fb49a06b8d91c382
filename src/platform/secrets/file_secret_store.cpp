#include "platform/secrets/file_secret_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/file_io.h"
#include "base/utf8.h"

namespace platform {
namespace {

constexpr const char* kFileSuffix = ".secrets";
constexpr int kFormatVersion = 1;

bool isPlainNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

std::string encodeName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    // A leading dot is encoded too, so no name is ".", ".." or hidden.
    if (isPlainNameChar(c) && !(i == 0 && c == '.')) {
      out += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string toHex(const base::Bytes& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (auto b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::optional<base::Bytes> fromHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  base::Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = nibble(text[i]);
    const int lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

bool validNames(std::string_view service, std::string_view account) {
  return !service.empty() && base::isValidUtf8(service) && base::isValidUtf8(account);
}

}  // namespace

// Holds an exclusive advisory lock on the store's folder, creating the folder
// (mode 0700) first when needed.
class FileSecretStore::FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& directory) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) return;
    // Tighten a folder that exists with wider permissions.
    ::chmod(directory.c_str(), 0700);
    fd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

FileSecretStore::FileSecretStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {
  // A temporary left by a writer that died mid-write may hold items removed
  // from the store since.
  base::removeStaleTemporaries(directory_,
                               [](std::string_view name) { return name.ends_with(kFileSuffix); });
}

std::filesystem::path FileSecretStore::fileForService(std::string_view service) const {
  return directory_ / (encodeName(service) + kFileSuffix);
}

SecretStatus FileSecretStore::load(std::string_view service, Items& items) const {
  items.clear();
  const auto path = fileForService(service);
  const auto bytes = base::readRegularFile(path);
  if (!bytes && bytes.error().code == ENOENT) return kSecretSuccess;
  // A file that cannot be read is damaged like one that does not parse.
  const auto json = bytes
                        ? nlohmann::json::parse(bytes.value().begin(), bytes.value().end(), nullptr,
                                                /*allow_exceptions=*/false)
                        : nlohmann::json();
  bool valid = json.is_object() && json.contains("items") && json["items"].is_object();
  if (valid) {
    for (const auto& [account, value] : json["items"].items()) {
      const auto decoded = value.is_string() ? fromHex(value.get<std::string>()) : std::nullopt;
      if (!decoded) {
        valid = false;
        break;
      }
      items.emplace(account, *decoded);
    }
  }
  if (!valid) {
    items.clear();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    // A free name: an earlier copy from the same second stays.
    const auto aside = base::moveAside(path, ".corrupt-" + std::to_string(seconds));
    if (!aside) return kSecretIO;
    std::fprintf(stderr, "Secret store file %s could not be read; moved it to %s.\n", path.c_str(),
                 aside->c_str());
  }
  return kSecretSuccess;
}

SecretStatus FileSecretStore::save(std::string_view service, const Items& items) const {
  const auto path = fileForService(service);
  if (items.empty()) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return ec ? kSecretIO : kSecretSuccess;
  }
  nlohmann::json json;
  json["version"] = kFormatVersion;
  json["items"] = nlohmann::json::object();
  for (const auto& [account, value] : items)
    json["items"][account] = toHex(value);
  const std::string text = json.dump(2) + "\n";

  return base::writeFileAtomically(path, text, 0600) ? kSecretSuccess : kSecretIO;
}

SecretStatus FileSecretStore::withItems(std::string_view service, bool write,
                                        const std::function<SecretStatus(Items&)>& body) {
  std::lock_guard guard(mutex_);
  FolderLock lock(directory_);
  if (!lock.ok()) return kSecretIO;
  Items items;
  if (auto status = load(service, items); status != kSecretSuccess) return status;
  if (auto status = body(items); status != kSecretSuccess || !write) return status;
  auto status = save(service, items);
  if (status == kSecretSuccess) ::fsync(lock.fd());  // make the rename durable
  return status;
}

SecretStatus FileSecretStore::add(std::string_view service, std::string_view account,
                                  const base::Bytes& value) {
  if (!validNames(service, account)) return kSecretParam;
  return withItems(service, true, [&](Items& items) {
    if (items.find(account) != items.end()) return kSecretDuplicateItem;
    items.emplace(std::string(account), value);
    return kSecretSuccess;
  });
}

SecretStatus FileSecretStore::copy(std::string_view service, std::string_view account,
                                   base::Bytes& value) {
  if (!validNames(service, account)) return kSecretParam;
  return withItems(service, false, [&](Items& items) {
    const auto it = items.find(account);
    if (it == items.end()) return kSecretItemNotFound;
    value = it->second;
    return kSecretSuccess;
  });
}

SecretStatus FileSecretStore::remove(std::string_view service, std::string_view account) {
  if (!validNames(service, account)) return kSecretParam;
  return withItems(service, true, [&](Items& items) {
    const auto it = items.find(account);
    if (it == items.end()) return kSecretItemNotFound;
    items.erase(it);
    return kSecretSuccess;
  });
}

SecretStatus FileSecretStore::removeAll(std::string_view service) {
  if (!validNames(service, {})) return kSecretParam;
  return withItems(service, true, [](Items& items) {
    if (items.empty()) return kSecretItemNotFound;
    items.clear();
    return kSecretSuccess;
  });
}

}  // namespace platform
