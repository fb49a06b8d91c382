#pragma once

// A neutral tree of coded values. Records encode to a Value once and decode
// from one once; the JSON and property-list backends translate between Value
// and bytes. Dictionaries keep their keys in insertion order.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "base/time.h"
#include "base/url.h"

namespace coding {

class Value;

enum class Type { null, boolean, int64, uint64, real, string, bytes, date, url, array, dictionary };

// "null", "boolean", "integer", "integer", "number", "string", "data", "date",
// "URL", "array", "dictionary": for error texts.
std::string_view typeName(Type type);

using Array = std::vector<Value>;

// The deepest nesting of arrays and dictionaries the backends read or write;
// deeper input is refused rather than risking the stack.
inline constexpr int kMaxDepth = 512;

// String keys to values, in insertion order. Setting an existing key replaces
// its value in place.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;
  using const_iterator = std::vector<Entry>::const_iterator;

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);
  // The entries in order, as if set one by one: a key met again replaces
  // the earlier value in place.
  explicit Dictionary(std::vector<Entry> entries);

  void set(std::string key, Value value);
  // nullptr when absent.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  // The entry (key and value) under `key`; nullptr when absent.
  const Entry* findEntry(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  bool erase(std::string_view key);
  void reserve(std::size_t count);

  // Defined below Value: clang needs Entry complete where the bodies are read.
  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;

  // Same keys with equal values; order does not matter.
  friend bool operator==(const Dictionary& a, const Dictionary& b);

 private:
  std::vector<Entry> entries_;
};

namespace detail {

// A URL kept on the heap: it is several strings wide, and held in place it
// would make every Value as large. Copies are deep; a moved-from box is empty.
class BoxedUrl {
 public:
  explicit BoxedUrl(base::Url url);
  BoxedUrl(const BoxedUrl& other);
  BoxedUrl(BoxedUrl&&) noexcept = default;
  BoxedUrl& operator=(const BoxedUrl& other);
  BoxedUrl& operator=(BoxedUrl&&) noexcept = default;
  ~BoxedUrl();

  // nullptr only when moved from.
  const base::Url* get() const { return url_.get(); }
  base::Url* get() { return url_.get(); }

  friend bool operator==(const BoxedUrl& a, const BoxedUrl& b);

 private:
  std::unique_ptr<base::Url> url_;
};

}  // namespace detail

class Value {
 public:
  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  template <std::integral T>
  requires(!std::is_same_v<T, bool> && std::is_signed_v<T>) Value(T i)
      : v_(static_cast<std::int64_t>(i)) {}
  template <std::integral T>
  requires(!std::is_same_v<T, bool> && std::is_unsigned_v<T>) Value(T u)
      : v_(static_cast<std::uint64_t>(u)) {}
  Value(double d) : v_(d) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(base::Bytes bytes) : v_(std::move(bytes)) {}
  Value(base::Time date) : v_(date) {}
  Value(base::Url url) : v_(detail::BoxedUrl(std::move(url))) {}
  Value(Array array) : v_(std::move(array)) {}
  Value(Dictionary dict) : v_(std::move(dict)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::null; }

  // The held value when it has exactly type T (one of bool, std::int64_t,
  // std::uint64_t, double, std::string, base::Bytes, base::Time, base::Url,
  // Array, Dictionary), else nullptr. For checked conversions use Reader.
  template <class T>
  const T* getIf() const {
    if constexpr (std::is_same_v<T, base::Url>) {
      const auto* box = std::get_if<detail::BoxedUrl>(&v_);
      return box ? box->get() : nullptr;
    } else {
      return std::get_if<T>(&v_);
    }
  }
  template <class T>
  T* getIf() {
    return const_cast<T*>(std::as_const(*this).getIf<T>());
  }

  // Deep equality. Integers compare by numeric value whatever their
  // signedness; an integer never equals a double.
  friend bool operator==(const Value& a, const Value& b);

 private:
  std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, base::Bytes,
               base::Time, detail::BoxedUrl, Array, Dictionary>
      v_;
};

// An array of `values`, each moved into place (a braced list would copy
// them, nested arrays included).
template <class... T>
Array arrayOf(T&&... values) {
  Array array;
  array.reserve(sizeof...(T));
  (array.emplace_back(std::forward<T>(values)), ...);
  return array;
}

// The URL's box keeps Value small.
static_assert(sizeof(Value) <= 48);

inline std::size_t Dictionary::size() const {
  return entries_.size();
}
inline bool Dictionary::empty() const {
  return entries_.empty();
}
inline Dictionary::const_iterator Dictionary::begin() const {
  return entries_.begin();
}
inline Dictionary::const_iterator Dictionary::end() const {
  return entries_.end();
}

}  // namespace coding
