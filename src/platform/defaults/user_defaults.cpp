#include "platform/defaults/user_defaults.h"

#include <cstdio>
#include <limits>

#include "base/shared_slot.h"
#include "platform/defaults/file_user_defaults.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/defaults/revisions.h"

namespace platform {
namespace {

base::SharedSlot<UserDefaults>& standardSlot() {
  static base::SharedSlot<UserDefaults> slot;
  return slot;
}

}  // namespace

bool UserDefaults::read(std::string_view key,
                        const std::function<void(const coding::Value&)>& visit) const {
  const std::optional<coding::Value> value = get(key);
  if (!value) return false;
  visit(*value);
  return true;
}

bool UserDefaults::readWithRevision(
    std::string_view key, const std::function<void(const coding::Value&, Revision)>& visit) const {
  return read(key, [&](const coding::Value& value) { visit(value, 0); });
}

base::Result<UserDefaults::Revision> UserDefaults::replaceDataTail(std::string_view key, Revision,
                                                                   std::size_t,
                                                                   std::span<const std::uint8_t>) {
  return base::Error("platform.defaults", 2,
                     "the store keeps no revisions; \"" + std::string(key) + "\" is unchanged");
}

namespace detail {

base::Result<base::Bytes*> dataToReplace(coding::Dictionary& values, const Revisions& revisions,
                                         std::string_view key, UserDefaults::Revision expected,
                                         std::size_t keep) {
  coding::Value* value = values.find(key);
  base::Bytes* data = value ? value->getIf<base::Bytes>() : nullptr;
  if (!data || revisions.of(key) != expected || data->size() < keep) {
    return base::Error("platform.defaults", 3,
                       "\"" + std::string(key) + "\" no longer holds the data to edit");
  }
  return data;
}

base::Bytes replaceTail(base::Bytes& data, std::size_t keep, std::span<const std::uint8_t> tail) {
  base::Bytes previous(data.begin() + static_cast<std::ptrdiff_t>(keep), data.end());
  data.resize(keep);
  data.insert(data.end(), tail.begin(), tail.end());
  return previous;
}

}  // namespace detail

coding::Dictionary UserDefaults::snapshot() const {
  coding::Dictionary out;
  for (const auto& key : keys()) {
    if (auto value = get(key)) out.set(key, std::move(*value));
  }
  return out;
}

namespace {
std::vector<std::string> keysOf(const coding::Dictionary& values) {
  std::vector<std::string> out;
  for (const auto& entry : values)
    out.push_back(entry.first);
  return out;
}
}  // namespace

std::optional<bool> UserDefaults::getBool(std::string_view key) const {
  auto value = get(key);
  if (!value) return std::nullopt;
  if (const auto* b = value->getIf<bool>()) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::getInt64(std::string_view key) const {
  auto value = get(key);
  if (!value) return std::nullopt;
  if (const auto* i = value->getIf<std::int64_t>()) return *i;
  if (const auto* u = value->getIf<std::uint64_t>()) {
    if (*u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(*u);
    }
  }
  return std::nullopt;
}

std::optional<double> UserDefaults::getDouble(std::string_view key) const {
  auto value = get(key);
  if (!value) return std::nullopt;
  if (const auto* d = value->getIf<double>()) return *d;
  if (const auto* i = value->getIf<std::int64_t>()) return static_cast<double>(*i);
  if (const auto* u = value->getIf<std::uint64_t>()) return static_cast<double>(*u);
  return std::nullopt;
}

std::optional<std::string> UserDefaults::getString(std::string_view key) const {
  auto value = get(key);
  if (!value) return std::nullopt;
  if (const auto* s = value->getIf<std::string>()) return *s;
  return std::nullopt;
}

std::optional<base::Bytes> UserDefaults::getBytes(std::string_view key) const {
  auto value = get(key);
  if (!value) return std::nullopt;
  if (const auto* b = value->getIf<base::Bytes>()) return *b;
  return std::nullopt;
}

std::optional<base::Time> UserDefaults::getDate(std::string_view key) const {
  auto value = get(key);
  if (!value) return std::nullopt;
  if (const auto* t = value->getIf<base::Time>()) return *t;
  return std::nullopt;
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  return standardSlot().getOrMake([]() -> std::shared_ptr<UserDefaults> {
    auto file = FileUserDefaults::open(FileUserDefaults::defaultPath());
    if (file) return std::move(*file);
    std::fprintf(stderr, "wendrix: user defaults kept in memory only: %s\n",
                 file.error().description.c_str());
    return std::make_shared<MemoryUserDefaults>();
  });
}

void UserDefaults::setSharedForTesting(std::shared_ptr<UserDefaults> defaults) {
  standardSlot().exchange(std::move(defaults));
}

// ---- memory ----

std::optional<coding::Value> MemoryUserDefaults::get(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const coding::Value* value = values_.find(key);
  return value ? std::optional<coding::Value>(*value) : std::nullopt;
}

bool MemoryUserDefaults::readWithRevision(
    std::string_view key, const std::function<void(const coding::Value&, Revision)>& visit) const {
  std::lock_guard lock(mutex_);
  const coding::Value* value = values_.find(key);
  if (!value) return false;
  visit(*value, revisions_.of(key));
  return true;
}

base::Status MemoryUserDefaults::set(std::string_view key, coding::Value value) {
  std::lock_guard lock(mutex_);
  if (value.isNull()) {
    values_.erase(key);
  } else {
    values_.set(std::string(key), std::move(value));
  }
  revisions_.changed(key);
  return {};
}

base::Status MemoryUserDefaults::remove(std::string_view key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  revisions_.changed(key);
  return {};
}

base::Result<UserDefaults::Revision> MemoryUserDefaults::replaceDataTail(
    std::string_view key, Revision expected, std::size_t keep, std::span<const std::uint8_t> tail) {
  std::lock_guard lock(mutex_);
  auto data = detail::dataToReplace(values_, revisions_, key, expected, keep);
  if (!data) return data.error();
  (void)detail::replaceTail(**data, keep, tail);
  revisions_.changed(key);
  return revisions_.of(key);
}

std::vector<std::string> MemoryUserDefaults::keys() const {
  return keysOf(snapshot());
}

coding::Dictionary MemoryUserDefaults::snapshot() const {
  std::lock_guard lock(mutex_);
  return values_;
}

}  // namespace platform
