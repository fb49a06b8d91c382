#pragma once

// Encoding C++ values to Value and decoding them back, strictly.
//
// Built in: bool, every integer type (range-checked), double, std::string,
// base::Bytes, base::Time, base::Url, std::vector<T>, std::map<std::string, T>.
// A record type R takes part by declaring
//     coding::Value encode() const;
//     static base::Result<R> decode(const coding::Reader& reader);
// Inside `decode`, `Fields` reads the members of a dictionary and keeps the
// first error, so a record reads as a straight list of fields:
//     coding::Fields f(reader);
//     IShortcut s;
//     s.key = f.required<std::uint16_t>("key");
//     s.flagsValue = f.required<std::uint64_t>("flagsValue");
//     return f.finish(std::move(s));

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/result.h"
#include "coding/reader.h"
#include "coding/value.h"

namespace coding {

template <class T>
struct Codec;

template <class T>
concept Record = requires(const T& t, const Reader& r) {
  { t.encode() } -> std::convertible_to<Value>;
  { T::decode(r) } -> std::same_as<base::Result<T>>;
};

template <class T>
Value encode(const T& value) {
  return Codec<T>::encode(value);
}

template <class T>
base::Result<T> decode(const Reader& reader) {
  return Codec<T>::decode(reader);
}

// Decodes a whole tree as T.
template <class T>
base::Result<T> decode(const Value& value, Format format) {
  return Codec<T>::decode(Reader(value, format));
}

template <>
struct Codec<bool> {
  static Value encode(bool b) { return Value(b); }
  static base::Result<bool> decode(const Reader& r) { return r.boolean(); }
};

template <class T>
requires(std::integral<T> && !std::is_same_v<T, bool>) struct Codec<T> {
  static Value encode(T i) { return Value(i); }
  static base::Result<T> decode(const Reader& r) { return r.integer<T>(); }
};

template <>
struct Codec<double> {
  static Value encode(double d) { return Value(d); }
  static base::Result<double> decode(const Reader& r) { return r.number(); }
};

template <>
struct Codec<std::string> {
  static Value encode(const std::string& s) { return Value(s); }
  static base::Result<std::string> decode(const Reader& r) { return r.string(); }
};

template <>
struct Codec<base::Bytes> {
  static Value encode(const base::Bytes& b) { return Value(b); }
  static base::Result<base::Bytes> decode(const Reader& r) { return r.bytes(); }
};

template <>
struct Codec<base::Time> {
  static Value encode(base::Time t) { return Value(t); }
  static base::Result<base::Time> decode(const Reader& r) { return r.date(); }
};

template <>
struct Codec<base::Url> {
  static Value encode(const base::Url& u) { return Value(u); }
  static base::Result<base::Url> decode(const Reader& r) { return r.url(); }
};

template <Record T>
struct Codec<T> {
  static Value encode(const T& t) { return t.encode(); }
  static base::Result<T> decode(const Reader& r) { return T::decode(r); }
};

template <class T>
struct Codec<std::vector<T>> {
  static Value encode(const std::vector<T>& v) {
    Array array;
    array.reserve(v.size());
    for (const auto& e : v)
      array.push_back(Codec<T>::encode(e));
    return Value(std::move(array));
  }
  static base::Result<std::vector<T>> decode(const Reader& r) {
    auto elements = r.elements();
    if (!elements) return elements.error();
    std::vector<T> out;
    out.reserve(elements->size());
    for (const Reader& e : *elements) {
      auto item = Codec<T>::decode(e);
      if (!item) return item.error();
      out.push_back(std::move(item).value());
    }
    return out;
  }
};

// A map codes as one dictionary whose member names are the map's keys.
template <class T>
struct Codec<std::map<std::string, T>> {
  static Value encode(const std::map<std::string, T>& m) {
    Dictionary dict;
    for (const auto& [key, value] : m)
      dict.set(key, Codec<T>::encode(value));
    return Value(std::move(dict));
  }
  static base::Result<std::map<std::string, T>> decode(const Reader& r) {
    auto members = r.members();
    if (!members) return members.error();
    std::map<std::string, T> out;
    for (const auto& [key, member] : *members) {
      auto item = Codec<T>::decode(member);
      if (!item) return item.error();
      out.insert_or_assign(key, std::move(item).value());
    }
    return out;
  }
};

// Writes `value` under `key`.
template <class T>
void put(Dictionary& dict, std::string key, const T& value) {
  dict.set(std::move(key), Codec<T>::encode(value));
}

// Writes `value` under `key` only when it holds a value: absent optionals are
// never written as null.
template <class T>
void put(Dictionary& dict, std::string key, const std::optional<T>& value) {
  if (value) dict.set(std::move(key), Codec<T>::encode(*value));
}

// Reads the members of a dictionary, keeping the first error. After an error
// every further read gives a default value without looking.
class Fields {
 public:
  explicit Fields(const Reader& reader) : reader_(reader) {
    if (!reader.value().getIf<Dictionary>()) error_ = reader.typeMismatch("dictionary");
  }

  // The member under `key`; its absence, a null, or a bad value is an error.
  template <class T>
  T required(std::string_view key) {
    static_assert(std::is_default_constructible_v<T>, "use optional<T>() for this type");
    if (error_) return T{};
    auto member = reader_.at(key);
    if (!member) {
      error_ = member.error();
      return T{};
    }
    auto value = Codec<T>::decode(*member);
    if (!value) {
      error_ = value.error();
      return T{};
    }
    return std::move(value).value();
  }

  // The member under `key`, or nullopt when absent or null; a present value
  // of the wrong kind is an error.
  template <class T>
  std::optional<T> optional(std::string_view key) {
    if (error_) return std::nullopt;
    auto member = reader_.find(key);
    if (!member) {
      error_ = member.error();
      return std::nullopt;
    }
    if (!*member) return std::nullopt;
    auto value = Codec<T>::decode(**member);
    if (!value) {
      error_ = value.error();
      return std::nullopt;
    }
    return std::optional<T>(std::move(value).value());
  }

  const Reader& reader() const { return reader_; }
  bool ok() const { return !error_; }
  // Records a failure found by the caller (the first one wins).
  void fail(base::Error error) {
    if (!error_) error_ = std::move(error);
  }

  template <class T>
  base::Result<T> finish(T value) {
    if (error_) return *error_;
    return base::Result<T>(std::move(value));
  }

 private:
  Reader reader_;
  std::optional<base::Error> error_;
};

}  // namespace coding
