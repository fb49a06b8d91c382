#pragma once

// Property-list backend of the coding layer, binary and XML. Binary lists are
// read and written by our own code; XML goes through libplist.
//
// Writing: bytes become data, dates plist dates (binary: to the microsecond;
// XML: whole seconds, the fraction dropped toward the past),
// URLs the dictionary {"relative": absolute string}; integers are stored as
// 64-bit patterns, since the format keeps no sign for them. Text that is not
// valid UTF-8 is written with U+FFFD in place of the bad bytes. A null, or a
// string or key with a NUL character, fails (the format cannot hold it).
// Reading accepts either format and gives integers as signed 64-bit values;
// decode with Format::propertyList so that Reader reads unsigned 64-bit
// fields and URLs as they were written.

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "coding/codable.h"
#include "coding/value.h"

namespace coding {

enum class PlistFormat { binary, xml };

// The most objects a property list may expand to when read: a binary one can
// refer to one object from many containers, and each reference becomes a copy
// in the tree, so a small file could otherwise expand exponentially. Far above
// what the program's own files hold.
inline constexpr std::uint64_t kMaxPlistNodes = 2'000'000;
// Below that, a binary property list may expand to this many objects per byte
// of data, plus kPlistNodesAllowance: a file without shared objects holds
// fewer objects than bytes, and one whose writer shares equal strings and
// numbers stays within a few per byte. A small file cannot expand to
// millions of values.
inline constexpr std::uint64_t kMaxPlistNodesPerByte = 16;
inline constexpr std::uint64_t kPlistNodesAllowance = 4096;

// The most objects `size` bytes of property list may expand to.
constexpr std::uint64_t maxPlistNodesFor(std::uint64_t size) {
  const std::uint64_t relative = kPlistNodesAllowance + kMaxPlistNodesPerByte * size;
  return relative < kMaxPlistNodes ? relative : kMaxPlistNodes;
}

base::Result<base::Bytes> encodePropertyList(const Value& value,
                                             PlistFormat format = PlistFormat::binary);

// A binary property list in pieces, to be written one after another: the
// list is `bytes` with the bytes of each of `data` inserted at its position,
// in order. The data are those of the encoded value, not copies: written
// while it lives, a value holding megabytes of data costs no copy of them.
struct PlistPieces {
  base::Bytes bytes;
  std::vector<std::pair<std::size_t, std::span<const std::uint8_t>>> data;

  // The pieces in writing order.
  std::vector<std::span<const std::uint8_t>> spans() const;
};

// `value` as a binary property list whose data objects of at least
// `inlineLimit` bytes are left in `value`.
base::Result<PlistPieces> encodeBinaryPropertyListPieces(const Value& value,
                                                         std::size_t inlineLimit);

// Binary ("bplist00") or XML, told apart by the first bytes. Fails on data
// nested deeper than kMaxDepth, expanding beyond maxPlistNodesFor(its size),
// or holding a string or key with a NUL character.
base::Result<Value> decodePropertyList(std::span<const std::uint8_t> data);
base::Result<Value> decodePropertyList(std::string_view data);

template <class T>
base::Result<base::Bytes> toPropertyList(const T& value, PlistFormat format = PlistFormat::binary) {
  return encodePropertyList(encode(value), format);
}

template <class T>
base::Result<T> fromPropertyList(std::span<const std::uint8_t> data) {
  auto tree = decodePropertyList(data);
  if (!tree) return tree.error();
  return decode<T>(*tree, Format::propertyList);
}

}  // namespace coding
