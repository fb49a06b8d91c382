#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/bytes.h"
#include "telemetry/core/date_text.h"

// Keyed archives: the private stored form of logs and other SDK records. An
// object is a CBOR map whose "$class" member holds its class name and whose
// other members are its coded fields. Dates are stored as exact integer
// nanoseconds. Decoding is typed: a member of the wrong type reads as absent,
// and bytes that are not an archive of the expected class give none.

namespace tlm {

class TLMKeyedArchiver;
class TLMKeyedUnarchiver;

// A record with a keyed archive form.
class TLMArchivable {
 public:
  virtual ~TLMArchivable() = default;
  // The class name written under "$class" (and used in log messages).
  virtual std::string_view className() const = 0;
  virtual void encodeWithCoder(TLMKeyedArchiver& coder) const = 0;
  // Called on a default-constructed object with the archived members.
  virtual void initWithCoder(const TLMKeyedUnarchiver& coder) = 0;
};

// The clear marker among archived values.
struct TLMArchiveNull {
  friend bool operator==(TLMArchiveNull, TLMArchiveNull) = default;
};

// A plain archived value (what a settings store would also hold).
using TLMArchiveValue =
    std::variant<TLMArchiveNull, bool, std::int64_t, double, std::string, Date, base::Bytes>;

class TLMKeyedArchiver {
 public:
  // Absent optionals write nothing, so they read back as absent.
  void encodeString(std::string_view key, const std::optional<std::string>& value);
  void encodeInt64(std::string_view key, std::int64_t value);
  void encodeInt64(std::string_view key, const std::optional<std::int64_t>& value);
  void encodeUInt64(std::string_view key, const std::optional<std::uint64_t>& value);
  void encodeDouble(std::string_view key, double value);
  void encodeBool(std::string_view key, bool value);
  void encodeDate(std::string_view key, const std::optional<Date>& value);
  void encodeBytes(std::string_view key, const std::optional<base::Bytes>& value);
  void encodeStringArray(std::string_view key,
                         const std::optional<std::vector<std::string>>& value);
  void encodeStringMap(std::string_view key,
                       const std::optional<std::map<std::string, std::string>>& value);
  void encodeValueMap(std::string_view key,
                      const std::optional<std::map<std::string, TLMArchiveValue>>& value);
  // A null object writes nothing.
  void encodeObject(std::string_view key, const TLMArchivable* object);
  void encodeObjectArray(std::string_view key,
                         const std::vector<std::shared_ptr<const TLMArchivable>>& objects);

  const nlohmann::json& tree() const { return tree_; }

 private:
  friend std::optional<base::Bytes> archiveKeyedData(const TLMArchivable* object);
  nlohmann::json tree_ = nlohmann::json::object();
};

class TLMKeyedUnarchiver {
 public:
  explicit TLMKeyedUnarchiver(const nlohmann::json& tree) : tree_(tree) {}

  bool containsValue(std::string_view key) const;
  std::optional<std::string> decodeString(std::string_view key) const;
  std::optional<std::int64_t> decodeInt64(std::string_view key) const;
  // Any non-negative integer.
  std::optional<std::uint64_t> decodeUInt64(std::string_view key) const;
  std::optional<double> decodeDouble(std::string_view key) const;
  std::optional<bool> decodeBool(std::string_view key) const;
  std::optional<Date> decodeDate(std::string_view key) const;
  std::optional<base::Bytes> decodeBytes(std::string_view key) const;
  // A container with any member of the wrong type reads as absent.
  std::optional<std::vector<std::string>> decodeStringArray(std::string_view key) const;
  std::optional<std::map<std::string, std::string>> decodeStringMap(std::string_view key) const;
  std::optional<std::map<std::string, TLMArchiveValue>> decodeValueMap(std::string_view key) const;

  std::shared_ptr<TLMArchivable> decodeObject(std::string_view key) const;
  template <class T>
  std::shared_ptr<T> decodeObjectOf(std::string_view key) const {
    return std::dynamic_pointer_cast<T>(decodeObject(key));
  }
  // Members that are not objects of class T are left out.
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> decodeObjectArrayOf(std::string_view key) const {
    auto all = decodeObjectArray(key);
    if (!all) return std::nullopt;
    std::vector<std::shared_ptr<T>> out;
    for (auto& object : *all) {
      if (auto typed = std::dynamic_pointer_cast<T>(object)) out.push_back(std::move(typed));
    }
    return out;
  }

 private:
  std::optional<std::vector<std::shared_ptr<TLMArchivable>>> decodeObjectArray(
      std::string_view key) const;
  const nlohmann::json* member(std::string_view key) const;

  const nlohmann::json& tree_;
};

using TLMArchiveFactory = std::function<std::shared_ptr<TLMArchivable>()>;

// Makes `className` decodable. Registering a name again replaces its factory.
void registerArchiveClass(std::string className, TLMArchiveFactory factory);

template <class T>
void registerArchiveClass(std::string className) {
  registerArchiveClass(std::move(className), [] { return std::make_shared<T>(); });
}

// Old archived class names and the class names to decode them as. Entries
// are added, never removed.
void addMigrationClasses(const std::map<std::string, std::string>& oldToNewClassNames);
void resetMigrationClassesForTesting();

// The archive of `object`; none for a null object.
std::optional<base::Bytes> archiveKeyedData(const TLMArchivable* object);
inline std::optional<base::Bytes> archiveKeyedData(const TLMArchivable& object) {
  return archiveKeyedData(&object);
}

// The object in `data`; none for none, or for bytes that are not an archive
// of a known class (logged at ERROR).
std::shared_ptr<TLMArchivable> unarchiveKeyedData(const std::optional<base::Bytes>& data);

// As above, also none when the object is not a T.
template <class T>
std::shared_ptr<T> unarchiveKeyedDataOf(const std::optional<base::Bytes>& data) {
  return std::dynamic_pointer_cast<T>(unarchiveKeyedData(data));
}

// Arrays of objects at the root (histories kept in the settings store).
std::optional<base::Bytes> archiveKeyedArray(
    const std::vector<std::shared_ptr<const TLMArchivable>>& objects);
std::optional<std::vector<std::shared_ptr<TLMArchivable>>> unarchiveKeyedArray(
    const std::optional<base::Bytes>& data);

}  // namespace tlm
