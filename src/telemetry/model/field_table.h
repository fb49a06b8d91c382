#pragma once

// Records declared by one table of their members. Each entry names a member,
// its key, which forms it takes part in (JSON, archive, equality, validity)
// and its coder, the type that knows how such a member is written, read,
// compared and checked. A record's JSON object, validity check, equality and
// archive form all walk the same table, so a member is added in one place.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/bytes.h"
#include "telemetry/core/archive.h"
#include "telemetry/core/date_text.h"

namespace tlm::fields {

enum Trait : unsigned {
  inJson = 1u << 0,    // written to the JSON object
  coded = 1u << 1,     // written to and read from the archive
  compared = 1u << 2,  // part of equality
  required = 1u << 3,  // must be set for the record to be valid
  defaultTraits = inJson | coded | compared,
  requiredTraits = defaultTraits | required,
};

struct Field {
  std::string_view property;  // name in validity messages
  std::string_view key;       // JSON key and archive key
  unsigned traits;
  // Fields are checked by ascending rank, in table order within one rank.
  int checkRank = 0;
  void (*toJson)(const TLMArchivable& record, std::string_view key, nlohmann::ordered_json& out);
  bool (*isSet)(const TLMArchivable& record);
  bool (*isValid)(const TLMArchivable& record);
  bool (*equal)(const TLMArchivable& a, const TLMArchivable& b);
  void (*encode)(const TLMArchivable& record, std::string_view key, TLMKeyedArchiver& coder);
  void (*decode)(TLMArchivable& record, std::string_view key, const TLMKeyedUnarchiver& coder);

  // This field checked at `rank` instead of in table order.
  Field checkedAt(int rank) const {
    Field f = *this;
    f.checkRank = rank;
    return f;
  }
};

using Table = std::vector<Field>;

// The entry for member M of record R (M may be a member of a base of R),
// written and read by coder C.
template <class R, auto M, class C>
Field makeField(std::string_view property, std::string_view key, unsigned traits) {
  return Field{
      property,
      key,
      traits,
      0,
      [](const TLMArchivable& r, std::string_view k, nlohmann::ordered_json& out) {
        C::toJson(static_cast<const R&>(r).*M, k, out);
      },
      [](const TLMArchivable& r) { return C::isSet(static_cast<const R&>(r).*M); },
      [](const TLMArchivable& r) { return C::isValid(static_cast<const R&>(r).*M); },
      [](const TLMArchivable& a, const TLMArchivable& b) {
        return C::equal(static_cast<const R&>(a).*M, static_cast<const R&>(b).*M);
      },
      [](const TLMArchivable& r, std::string_view k, TLMKeyedArchiver& c) {
        C::encode(static_cast<const R&>(r).*M, k, c);
      },
      [](TLMArchivable& r, std::string_view k, const TLMKeyedUnarchiver& c) {
        C::decode(static_cast<R&>(r).*M, k, c);
      },
  };
}

// The set members in table order, added to `out`.
void addToJson(const TLMArchivable& record, const Table& fields, nlohmann::ordered_json& out);
// The same as a new object.
nlohmann::ordered_json toJson(const TLMArchivable& record, const Table& fields);
// Checks required members and nested records; the first failure is logged
// at VERBOSE with `className` and the member's property name.
bool areValid(const TLMArchivable& record, const Table& fields, std::string_view className);
bool areEqual(const TLMArchivable& a, const TLMArchivable& b, const Table& fields);
void encode(const TLMArchivable& record, const Table& fields, TLMKeyedArchiver& coder);
void decode(TLMArchivable& record, const Table& fields, const TLMKeyedUnarchiver& coder);

// ---- coders of the log model ----

// What most coders share: an optional value, set when present, compared by
// value, nothing nested to check.
template <class V>
struct OptionalValue {
  using T = std::optional<V>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v) out[std::string(key)] = *v;
  }
  static bool isSet(const T& v) { return v.has_value(); }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
};

struct Text : OptionalValue<std::string> {
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeString(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeString(key);
  }
};

struct Int : OptionalValue<std::int64_t> {
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeInt64(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeInt64(key);
  }
};

struct UInt : OptionalValue<std::uint64_t> {
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeUInt64(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeUInt64(key);
  }
};

// ISO 8601 text in JSON.
struct Time : OptionalValue<Date> {
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v) out[std::string(key)] = dateToISO8601(*v);
  }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeDate(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeDate(key);
  }
};

// A plain flag: always written; false when the archive lacks it.
struct Flag {
  using T = bool;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    out[std::string(key)] = v;
  }
  static bool isSet(const T&) { return true; }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeBool(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeBool(key).value_or(false);
  }
};

struct TextList : OptionalValue<std::vector<std::string>> {
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeStringArray(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeStringArray(key);
  }
};

// Text to text, a JSON object with the keys in order.
struct TextMap : OptionalValue<std::map<std::string, std::string>> {
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeStringMap(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeStringMap(key);
  }
};

// As TextMap, left out of JSON when empty.
struct NonEmptyTextMap : TextMap {
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v && !v->empty()) out[std::string(key)] = *v;
  }
};

// Base64 text in JSON, raw bytes in the archive; empty counts as set.
struct Data : OptionalValue<base::Bytes> {
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out);
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeBytes(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeBytes(key);
  }
};

// A nested record, written as its own object; its validity is not looked into.
template <class X>
struct Record {
  using T = std::shared_ptr<X>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v) out[std::string(key)] = v->serializeToDictionary();
  }
  static bool isSet(const T& v) { return v != nullptr; }
  static bool isValid(const T&) { return true; }
  // Both absent, or both set and equal.
  static bool equal(const T& a, const T& b) {
    if (!a || !b) return !a && !b;
    return a->isEqual(*b);
  }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeObject(key, v.get());
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeObjectOf<X>(key);
  }
};

// As Record, and when present it must be valid itself.
template <class X>
struct ValidRecord : Record<X> {
  static bool isValid(const std::shared_ptr<X>& v) { return !v || v->isValid(); }
};

// An array of nested records, in order; set when it holds at least one.
template <class X>
struct Records {
  using T = std::optional<std::vector<std::shared_ptr<X>>>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (!v) return;
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto& record : *v) {
      if (record) array.push_back(record->serializeToDictionary());
    }
    out[std::string(key)] = std::move(array);
  }
  static bool isSet(const T& v) { return v && !v->empty(); }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i) {
      if (!Record<X>::equal((*a)[i], (*b)[i])) return false;
    }
    return true;
  }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    if (!v) return;
    c.encodeObjectArray(key,
                        std::vector<std::shared_ptr<const TLMArchivable>>(v->begin(), v->end()));
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeObjectArrayOf<X>(key);
  }
};

// A member only compared, by identity (never written or read).
template <class X>
struct SameObject {
  using T = std::shared_ptr<X>;
  static void toJson(const T&, std::string_view, nlohmann::ordered_json&) {}
  static bool isSet(const T& v) { return v != nullptr; }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T&, std::string_view, TLMKeyedArchiver&) {}
  static void decode(T&, std::string_view, const TLMKeyedUnarchiver&) {}
};

// The entry for member M of record R with coder C; the property name in
// validity messages is the key unless given.
template <class R, auto M, class C>
Field field(std::string_view key, unsigned traits = defaultTraits) {
  return makeField<R, M, C>(key, key, traits);
}
template <class R, auto M, class C>
Field field(std::string_view property, std::string_view key, unsigned traits) {
  return makeField<R, M, C>(property, key, traits);
}

}  // namespace tlm::fields
