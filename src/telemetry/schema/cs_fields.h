#pragma once

// Member tables of the common-schema records (see telemetry/model/field_table.h)
// and the coders of their member types.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "telemetry/core/archive.h"
#include "telemetry/core/date_text.h"
#include "telemetry/model/field_table.h"
#include "telemetry/schema/cs_record.h"

namespace tlm {
namespace cs_detail {

using fields::coded;
using fields::compared;
using fields::defaultTraits;
using fields::Field;
using fields::inJson;
using fields::required;

// How one member type takes part in the four forms.
template <class T>
struct Codec;

template <>
struct Codec<std::optional<std::string>> {
  using T = std::optional<std::string>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v) out[std::string(key)] = *v;
  }
  static bool isSet(const T& v) { return v.has_value(); }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeString(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeString(key);
  }
};

// A UUID held as its text: JSON always in the canonical upper-case form.
struct UuidText : Codec<std::optional<std::string>> {
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (!v) return;
    std::string upper = *v;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    out[std::string(key)] = std::move(upper);
  }
};

template <>
struct Codec<std::optional<std::vector<std::string>>> {
  using T = std::optional<std::vector<std::string>>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v) out[std::string(key)] = *v;
  }
  static bool isSet(const T& v) { return v.has_value(); }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeStringArray(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeStringArray(key);
  }
};

// A plain integer: 0 stands for "not set" in JSON.
template <>
struct Codec<std::int64_t> {
  using T = std::int64_t;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v != 0) out[std::string(key)] = v;
  }
  static bool isSet(const T& v) { return v != 0; }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeInt64(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeInt64(key).value_or(0);
  }
};

template <>
struct Codec<double> {
  using T = double;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    out[std::string(key)] = v;
  }
  static bool isSet(const T&) { return true; }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeDouble(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeDouble(key).value_or(0);
  }
};

template <>
struct Codec<std::optional<Date>> {
  using T = std::optional<Date>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (v) out[std::string(key)] = dateToISO8601(*v);
  }
  static bool isSet(const T& v) { return v.has_value(); }
  static bool isValid(const T&) { return true; }
  static bool equal(const T& a, const T& b) { return a == b; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeDate(key, v);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeDate(key);
  }
};

// A nested record: written when it has a JSON object, valid when absent or
// valid itself.
template <class X>
requires std::is_base_of_v<TLMCSModel, X>
struct Codec<std::shared_ptr<X>> {
  using T = std::shared_ptr<X>;
  static void toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
    if (!v) return;
    if (auto dict = v->serializeToDictionary()) out[std::string(key)] = std::move(*dict);
  }
  static bool isSet(const T& v) { return v != nullptr; }
  static bool isValid(const T& v) { return !v || v->isValid(); }
  static bool equal(const T& a, const T& b) { return (!a && !b) || (a && b && a->isEqual(*b)); }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& c) {
    c.encodeObject(key, v.get());
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& c) {
    v = c.decodeObjectOf<X>(key);
  }
};

template <class R, auto M>
using MemberType = std::remove_cvref_t<decltype(std::declval<const R&>().*M)>;

// The entry for member M of record R (M may be a member of a base of R).
template <class R, auto M, class C = Codec<MemberType<R, M>>>
Field field(std::string_view property, std::string_view key, unsigned traits = defaultTraits) {
  return fields::makeField<R, M, C>(property, key, traits);
}

// Property name and key are the same.
template <class R, auto M, class C = Codec<MemberType<R, M>>>
Field field(std::string_view name, unsigned traits = defaultTraits) {
  return field<R, M, C>(name, name, traits);
}

// Equality of JSON dictionaries by content: member order does not count.
bool sameContent(const std::optional<nlohmann::ordered_json>& a,
                 const std::optional<nlohmann::ordered_json>& b);

// The value of JSON text; none for text that is not JSON or is nested more
// than 64 levels deep.
std::optional<nlohmann::ordered_json> parseJsonWithinDepth(std::string_view text);

// A JSON object archived as its text under one key; anything that is not
// the text of an object reads back as none.
void encodeJsonObject(TLMKeyedArchiver& coder, std::string_view key,
                      const std::optional<nlohmann::ordered_json>& value);
std::optional<nlohmann::ordered_json> decodeJsonObject(const TLMKeyedUnarchiver& coder,
                                                       std::string_view key);

}  // namespace cs_detail

struct TLMCSFieldTable {
  std::vector<cs_detail::Field> fields;
};

}  // namespace tlm
