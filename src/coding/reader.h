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

#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
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
  class Elements;
  class Members;

  explicit Reader(const Value& value, Format format = Format::native, std::string path = {});

  const Value& value() const { return *value_; }
  Format format() const { return format_; }
  // "" at the top level. Built when asked for: readers only keep the steps
  // (keys and indices) that lead to their value.
  std::string path() const;
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
  base::Result<Elements> elements() const;
  // The members of a dictionary in order, each with its path.
  base::Result<Members> members() const;
  // A required member: fails when this is not a dictionary or the key is absent.
  base::Result<Reader> at(std::string_view key) const;
  // An optional member: nullopt when the key is absent or its value is null;
  // fails only when this is not a dictionary.
  base::Result<std::optional<Reader>> find(std::string_view key) const;

  // An error about this value, its description prefixed with the path.
  base::Error error(ErrorCode code, std::string_view what) const;
  base::Error typeMismatch(std::string_view expected) const;

 private:
  // Steps kept in place; a deeper reader folds them into its base text.
  static constexpr std::size_t kInlineSteps = 8;

  // A step is the address of a member's key in the tree (even) or an array
  // index shifted left with the low bit set.
  Reader child(const Value& value, std::uintptr_t step) const;
  Reader member(const Dictionary::Entry& entry) const;
  Reader element(const Value& value, std::size_t index) const;

  const Value* value_;
  // The path the steps continue; null when empty.
  std::shared_ptr<const std::string> base_;
  std::uintptr_t steps_[kInlineSteps] = {};
  std::uint8_t stepCount_ = 0;
  Format format_;
};

// The elements of an array as readers, made when asked for.
class Reader::Elements {
 public:
  class iterator {
   public:
    using value_type = Reader;
    using difference_type = std::ptrdiff_t;
    iterator(const Elements* elements, std::size_t index) : elements_(elements), index_(index) {}
    Reader operator*() const { return (*elements_)[index_]; }
    iterator& operator++() {
      ++index_;
      return *this;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.index_ == b.index_; }

   private:
    const Elements* elements_;
    std::size_t index_;
  };

  std::size_t size() const { return array_->size(); }
  bool empty() const { return array_->empty(); }
  // Element `i` (below size()).
  Reader operator[](std::size_t i) const { return parent_.element((*array_)[i], i); }
  Reader at(std::size_t i) const {
    assert(i < size());
    return (*this)[i];
  }
  iterator begin() const { return {this, 0}; }
  iterator end() const { return {this, size()}; }

 private:
  friend class Reader;
  Elements(const Reader& parent, const Array& array) : parent_(parent), array_(&array) {}

  Reader parent_;
  const Array* array_;
};

// The members of a dictionary, in order, as (key, reader) pairs made when
// asked for.
class Reader::Members {
 public:
  using value_type = std::pair<const std::string&, Reader>;

  class iterator {
   public:
    using value_type = Members::value_type;
    using difference_type = std::ptrdiff_t;
    iterator(const Members* members, Dictionary::const_iterator at) : members_(members), at_(at) {}
    value_type operator*() const { return {at_->first, members_->parent_.member(*at_)}; }
    iterator& operator++() {
      ++at_;
      return *this;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.at_ == b.at_; }

   private:
    const Members* members_;
    Dictionary::const_iterator at_;
  };

  std::size_t size() const { return dictionary_->size(); }
  bool empty() const { return dictionary_->empty(); }
  iterator begin() const { return {this, dictionary_->begin()}; }
  iterator end() const { return {this, dictionary_->end()}; }

 private:
  friend class Reader;
  Members(const Reader& parent, const Dictionary& dictionary)
      : parent_(parent), dictionary_(&dictionary) {}

  Reader parent_;
  const Dictionary* dictionary_;
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
