#include "platform/secrets/fake/memory_secret_store.h"

namespace platform {

std::optional<SecretStatus> MemorySecretStore::injected(Call call) {
  ++calls_[call];
  const auto it = failures_.find(call);
  if (it == failures_.end() || it->second == kSecretSuccess) return std::nullopt;
  return it->second;
}

SecretStatus MemorySecretStore::add(std::string_view service, std::string_view account,
                                    const base::Bytes& value) {
  std::lock_guard lock(mutex_);
  if (auto status = injected(Call::add)) return *status;
  auto [it, inserted] = items_.try_emplace(Key(service, account), value);
  return inserted ? kSecretSuccess : kSecretDuplicateItem;
}

SecretStatus MemorySecretStore::copy(std::string_view service, std::string_view account,
                                     base::Bytes& value) {
  std::lock_guard lock(mutex_);
  if (auto status = injected(Call::copy)) return *status;
  const auto it = items_.find(Key(service, account));
  if (it == items_.end()) return kSecretItemNotFound;
  value = it->second;
  return kSecretSuccess;
}

SecretStatus MemorySecretStore::remove(std::string_view service, std::string_view account) {
  std::lock_guard lock(mutex_);
  if (auto status = injected(Call::remove)) return *status;
  return items_.erase(Key(service, account)) > 0 ? kSecretSuccess : kSecretItemNotFound;
}

SecretStatus MemorySecretStore::removeAll(std::string_view service) {
  std::lock_guard lock(mutex_);
  if (auto status = injected(Call::removeAll)) return *status;
  const auto erased =
      std::erase_if(items_, [&](const auto& entry) { return entry.first.first == service; });
  return erased > 0 ? kSecretSuccess : kSecretItemNotFound;
}

void MemorySecretStore::failCalls(Call call, SecretStatus status) {
  std::lock_guard lock(mutex_);
  failures_[call] = status;
}

std::optional<base::Bytes> MemorySecretStore::item(const std::string& service,
                                                   const std::string& account) const {
  std::lock_guard lock(mutex_);
  const auto it = items_.find(Key(service, account));
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

void MemorySecretStore::setItem(const std::string& service, const std::string& account,
                                base::Bytes value) {
  std::lock_guard lock(mutex_);
  items_[Key(service, account)] = std::move(value);
}

std::size_t MemorySecretStore::size() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

int MemorySecretStore::callCount(Call call) const {
  std::lock_guard lock(mutex_);
  const auto it = calls_.find(call);
  return it == calls_.end() ? 0 : it->second;
}

}  // namespace platform
