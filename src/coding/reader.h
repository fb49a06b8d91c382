#pragma once

// Strict, path-carrying reads of a Value.
//
// A Reader points at one value of a tree (it does not own it; the tree must
// outlive it) and knows the format the tree came from, because formats spell
// some types differently:
//   native         every type as itself;
//   json           bytes as padded standard Base64 strings, URLs as absolute
//                  strings, dates as ISO-8601 strings;
//   propertyList   URLs as {"relative": ..., "base": ...} dictionaries, and
//                  64-bit integers without sign: a negative integer read into
//                  an unsigned 64-bit destination keeps its bit pattern.
// The native kind of a type is accepted in every format.
//
// Rules: a Bool only from a boolean; an integer from an integer, or from a
// double with no fraction, range-checked for the destination; a double from any
// number (not a boolean). Errors name the path: "apps[2].windows[0].rect".

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "coding/coding_error.h"
#include "coding/value.h"

namespace coding {

enum class Format { native, json, propertyList };

class Reader {
 public:
  explicit Reader(const Value& value, Format format = Format::native, std::string path = {})
      : value_(&value), format_(format), path_(std::move(path)) {}

  const Value& value() const { return *value_; }
  Format format() const { return format_; }
  // "" at the top level.
  const std::string& path() const { return path_; }
  bool isNull() const { return value_->isNull(); }

  base::Result<bool> boolean() const;
  base::Result<std::int64_t> int64() const;
  base::Result<std::uint64_t> uint64() const;
  base::Result<double> number() const;
  base::Result<std::string> string() const;
  base::Result<base::Bytes> bytes() const;
  base::Result<base::Time> date() const;
  base::Result<base::Url> url() const;

  // Any integer type; values outside T's range fail.
  template <std::integral T>
  requires(!std::is_same_v<T, bool>) base::Result<T> integer()
  const;

  // The elements of an array, each with its path ("windows[0]").
  base::Result<std::vector<Reader>> elements() const;
  // The members of a dictionary in order, each with its path.
  base::Result<std::vector<std::pair<std::string, Reader>>> members() const;
  // A required member: fails when this is not a dictionary or the key is absent.
  base::Result<Reader> at(std::string_view key) const;
  // An optional member: nullopt when the key is absent or its value is null;
  // fails only when this is not a dictionary.
  base::Result<std::optional<Reader>> find(std::string_view key) const;

  // An error about this value, its description prefixed with the path.
  base::Error error(ErrorCode code, std::string_view what) const;
  base::Error typeMismatch(std::string_view expected) const;

 private:
  std::string childPath(std::string_view key) const;
  base::Result<const Dictionary*> dictionary() const;

  const Value* value_;
  Format format_;
  std::string path_;
};

template <std::integral T>
requires(!std::is_same_v<T, bool>) base::Result<T> Reader::integer()
const {
  if constexpr (std::is_signed_v<T>) {
    auto v = int64();
    if (!v) return v.error();
    if (*v < std::numeric_limits<T>::min() || *v > std::numeric_limits<T>::max()) {
      return error(ErrorCode::outOfRange, "integer " + std::to_string(*v) + " out of range");
    }
    return static_cast<T>(*v);
  } else {
    auto v = uint64();
    if (!v) return v.error();
    if (*v > std::numeric_limits<T>::max()) {
      return error(ErrorCode::outOfRange, "integer " + std::to_string(*v) + " out of range");
    }
    return static_cast<T>(*v);
  }
}

}  // namespace coding
