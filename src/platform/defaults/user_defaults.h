#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "coding/value.h"

namespace platform {

// A property-list key/value store shared by the whole process (the program's
// settings and the telemetry SDK's prefixed keys). Thread-safe. A write that
// returns success has reached its backing store. Absent keys read as none
// (never as false or 0).
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  virtual std::optional<coding::Value> get(std::string_view key) const = 0;
  // Calls `visit` with the value under `key`, without copying it; false,
  // without calling it, when the key is absent. `visit` must not use the
  // store.
  virtual bool read(std::string_view key,
                    const std::function<void(const coding::Value&)>& visit) const;

  // Stamps the value under a key: a new one whenever the value changes or
  // is read again from the backing store, never given twice by one store.
  // Equal revisions of a key mean the same value, with no need to compare
  // it. 0: the store keeps none.
  using Revision = std::uint64_t;
  // `read`, also giving the value's revision.
  virtual bool readWithRevision(
      std::string_view key, const std::function<void(const coding::Value&, Revision)>& visit) const;
  // Replaces the data under `key`, whose revision must be `expected`, with
  // its first `keep` bytes followed by `tail`, without copying the kept
  // bytes; gives the new revision. Fails, with the store unchanged, when the
  // key holds no data of `keep` bytes or more of that revision (a store that
  // keeps no revisions always fails so), or the write fails.
  virtual base::Result<Revision> replaceDataTail(std::string_view key, Revision expected,
                                                 std::size_t keep,
                                                 std::span<const std::uint8_t> tail);
  // Stores the value; a null value removes the key. Fails when the value
  // cannot be stored (for example a null inside an array) or, for a store
  // kept in a file, when it cannot be written; the store is then unchanged.
  virtual base::Status set(std::string_view key, coding::Value value) = 0;
  // Removing an absent key succeeds.
  virtual base::Status remove(std::string_view key) = 0;
  virtual std::vector<std::string> keys() const = 0;
  // All entries; the stores here take them at one moment (the fallback
  // reads key by key).
  virtual coding::Dictionary snapshot() const;
  bool contains(std::string_view key) const { return get(key).has_value(); }

  // Typed reads: none when absent or of another type. Integers of either
  // signedness read as int64 when they fit; getDouble also takes integers.
  std::optional<bool> getBool(std::string_view key) const;
  std::optional<std::int64_t> getInt64(std::string_view key) const;
  std::optional<double> getDouble(std::string_view key) const;
  std::optional<std::string> getString(std::string_view key) const;
  std::optional<base::Bytes> getBytes(std::string_view key) const;
  std::optional<base::Time> getDate(std::string_view key) const;

  // The process-wide store: the one set with setSharedForTesting, else the file
  // store at FileUserDefaults::defaultPath() (an in-memory store, with a
  // line on standard error, when that file cannot be opened).
  static std::shared_ptr<UserDefaults> standard();
  // Replaces the process-wide store; none goes back to the default on the
  // next standard().
  static void setSharedForTesting(std::shared_ptr<UserDefaults> defaults = nullptr);
};

}  // namespace platform
