#pragma once

// One user-defaults entry seen as a typed, observable value.
//
// RawSettingStorage<T> binds a key of the store to a value type: it reads
// through a loader (which never fails: an absent or foreign value gives the
// setting's default), writes through an overridable encoding step, and
// publishes every stored value, as read back from the store, on a replaying
// stream. Used on the main thread only.

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "base/result.h"
#include "coding/codable.h"
#include "coding/json.h"
#include "coding/plist.h"
#include "coding/value.h"
#include "platform/defaults/user_defaults.h"
#include "rx/observable.h"
#include "rx/subjects.h"

namespace wendrix {

// Reads a setting from the store; gives the setting's default for anything
// it cannot use.
template <class T>
using SettingLoader =
    std::function<T(std::string_view key, const platform::UserDefaults& defaults)>;

namespace detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// The value as a property-list object: none for an absent optional.
template <class T>
std::optional<coding::Value> plainStoredForm(const T& value) {
  if constexpr (IsOptional<T>::value) {
    if (!value) return std::nullopt;
    return coding::encode(*value);
  } else {
    return coding::encode(value);
  }
}

// The text that stands for a value in error reports: its coded form as
// compact JSON.
template <class T>
std::string describeValue(const T& value) {
  const std::optional<coding::Value> tree = plainStoredForm(value);
  if (!tree) return "nil";
  auto text = coding::encodeJson(*tree);
  return text ? std::move(text).value() : std::string("<unprintable value>");
}

// Copies `stored`, the value under `key` that did not decode (`why`), to the
// first free key of "<key>.undecodable-backup", "<key>.undecodable-backup-2",
// ... (an earlier backup is never replaced), and reports that at
// "storage.backupValue_000". False, also reported there, when it could not be
// kept.
bool keepUndecodableValue(platform::UserDefaults& defaults, std::string_view key,
                          const coding::Value& stored, const base::Error& why);

}  // namespace detail

// To call before `key` is overwritten with a T: when the store holds a value
// there that is not a property list of a T, keeps it under a backup key so
// that a later version or the user can still recover it. True when the write
// may go ahead: nothing was there, it decodes, or it was kept.
template <class T>
bool keepUndecodableBeforeWrite(platform::UserDefaults& defaults, std::string_view key) {
  const std::optional<coding::Value> stored = defaults.get(key);
  if (!stored) return true;
  const base::Bytes* bytes = stored->getIf<base::Bytes>();
  if (!bytes) {
    return detail::keepUndecodableValue(
        defaults, key, *stored, base::Error("Wendrix.SettingStorage", 1, "not property-list data"));
  }
  auto decoded = coding::fromPropertyList<T>(*bytes);
  return decoded || detail::keepUndecodableValue(defaults, key, *stored, decoded.error());
}

template <class T>
class RawSettingStorage {
 public:
  RawSettingStorage(std::shared_ptr<platform::UserDefaults> defaults, std::string key,
                    SettingLoader<T> loader)
      : defaults_(std::move(defaults)), key_(std::move(key)), loader_(std::move(loader)) {}
  virtual ~RawSettingStorage() = default;
  RawSettingStorage(const RawSettingStorage&) = delete;
  RawSettingStorage& operator=(const RawSettingStorage&) = delete;

  const std::string& key() const { return key_; }

  // The current-value subject, made on first use with the loaded value.
  const rx::BehaviorSubject<T>& subject() {
    if (!subject_) subject_.emplace(load());
    return *subject_;
  }

  // The shared change stream: the current value at subscription, then every
  // stored value as read back. One subscription of the subject is shared by
  // all subscribers (replaying the last value) while any is connected.
  rx::Observable<T> valueStream() {
    if (!valueStream_) valueStream_.emplace(subject().asObservable().share(1));
    return *valueStream_;
  }

  // The subject's value while someone observes it; otherwise a fresh read,
  // so a value written behind the storage's back is seen while nobody
  // observes.
  T value() {
    const auto& s = subject();
    if (s.hasObservers()) {
      auto current = s.value();
      if (current) return std::move(current).value();
    }
    return load();
  }

  // Encodes and stores `value` (an encoding of none removes the key), then
  // emits the value as read back from the store. A value that cannot be
  // encoded is reported and leaves the store and the stream untouched; a
  // store that refuses the write, or a stored value that `prepareOverwrite`
  // keeps from being replaced, is reported, and the stream gets what the
  // store still holds.
  void setValue(const T& value) { (void)store(value); }

  // `setValue`, failing with the reason unless the value was stored.
  base::Status store(const T& value) {
    auto encoded = encode(value);
    if (!encoded) {
      Track::errorWithLocation(
          encoded.error(), error_location::kStorageEncodeValue000,
          {{detail::describeValue(value), std::string(placeholders::kEncodedValue)}});
      return encoded.error();
    }
    base::Status written = base::Error("Wendrix.SettingStorage", 3,
                                       "the value stored under \"" + key_ + "\" could not be kept");
    if (prepareOverwrite(*defaults_)) {
      written = *encoded ? write(*defaults_, std::move(**encoded)) : defaults_->remove(key_);
      if (!written) {
        Track::error(written.error());
        if (writeFailed_) writeFailed_(written.error());
      }
    }
    subject().onNext(load());
    return written;
  }

  // Called with the store's error whenever it refuses a write.
  void setWriteFailureHandler(std::function<void(const base::Error&)> handler) {
    writeFailed_ = std::move(handler);
  }

  // Whether the store has any object under the key (a stored false counts).
  bool hasStoredValue() const { return defaults_->get(key_).has_value(); }

  // The object to store for `value`, none to remove the key, or the error
  // that stops the write. Here: the value itself as a property-list object.
  virtual base::Result<std::optional<coding::Value>> encode(const T& value) const {
    return detail::plainStoredForm(value);
  }

 protected:
  const platform::UserDefaults& defaults() const { return *defaults_; }

  // Runs before a write replaces the key; false (after reporting why) stops
  // the write. Here: nothing to keep.
  virtual bool prepareOverwrite(platform::UserDefaults&) { return true; }
  // Stores `value`, as `encode` gave it, under the key. Here: sets it.
  virtual base::Status write(platform::UserDefaults& defaults, coding::Value value) {
    return defaults.set(key_, std::move(value));
  }

 private:
  T load() const { return loader_(key_, *defaults_); }

  std::shared_ptr<platform::UserDefaults> defaults_;
  std::string key_;
  SettingLoader<T> loader_;
  std::function<void(const base::Error&)> writeFailed_;
  std::optional<rx::BehaviorSubject<T>> subject_;
  std::optional<rx::Observable<T>> valueStream_;
};

// A setting stored as a binary property list of its value. A stored value
// that does not decode is kept under a backup key before a write replaces it.
template <class T>
class EncoderValueStorage : public RawSettingStorage<T> {
 public:
  using RawSettingStorage<T>::RawSettingStorage;

  // A value that cannot be written as a property list fails, so the stored
  // value is kept rather than removed.
  base::Result<std::optional<coding::Value>> encode(const T& value) const override {
    auto bytes = coding::toPropertyList(value, coding::PlistFormat::binary);
    if (!bytes) return bytes.error();
    return std::optional<coding::Value>(coding::Value(std::move(bytes).value()));
  }

 protected:
  bool prepareOverwrite(platform::UserDefaults& defaults) override {
    return keepUndecodableBeforeWrite<T>(defaults, this->key());
  }
};

// The loader of a property-list setting: the custom loader's result when one
// is given; otherwise the bytes under the key decoded as T, or
// `defaultValue` when there are no bytes (silently) or they do not decode
// (reported at "storage.decodeValue_000").
template <class T>
SettingLoader<T> decodedValueLoader(T defaultValue, SettingLoader<T> customLoader = nullptr) {
  if (customLoader) return customLoader;
  return [defaultValue = std::move(defaultValue)](std::string_view key,
                                                  const platform::UserDefaults& defaults) -> T {
    const std::optional<coding::Value> stored = defaults.get(key);
    const base::Bytes* bytes = stored ? stored->getIf<base::Bytes>() : nullptr;
    if (!bytes) return defaultValue;
    auto decoded = coding::fromPropertyList<T>(*bytes);
    if (decoded) return std::move(decoded).value();
    Track::errorWithLocation(decoded.error(), error_location::kStorageDecodeValue000);
    return defaultValue;
  };
}

}  // namespace wendrix
