#pragma once

// A binary property list read in place, for decoders on a hot path that
// would otherwise build the whole Value tree only to read it once.
//
// A view opens only data that decodePropertyList reads whole into a tree
// (binary, well formed, within the limits, with no value the tree cannot
// hold), so every object reached from the top one is well formed. Each
// object reads as the tree's Value for it reads through a Reader of format
// propertyList; a read that Reader would fail gives nullopt (or false), with
// no error text: the caller then decodes the tree, which tells why.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/url.h"
#include "coding/plist_depth.h"

namespace coding {

class PlistView;

// One object of a PlistView, which must outlive it.
class PlistObject {
 public:
  bool isArray() const;
  bool isDictionary() const;

  std::optional<bool> boolean() const;
  // As Reader::int64: an integer, or a real with no fraction in range.
  std::optional<std::int64_t> int64() const;
  // As Reader::number: an integer or a real.
  std::optional<double> number() const;
  // The text of a string into `out`, whose buffer is reused; false when
  // this is not a string.
  bool string(std::string& out) const;
  std::optional<base::Bytes> bytes() const;
  // As Reader::url: a {"relative": ..., "base": ...} dictionary.
  std::optional<base::Url> url() const;

  // The element count of an array; 0 for anything else.
  std::size_t size() const;
  // Element `i` of an array (below size()).
  PlistObject operator[](std::size_t i) const;

  // The member of a dictionary under `key` (the last one when the key is
  // repeated, as the tree keeps it); nullopt when absent or when this is not
  // a dictionary.
  std::optional<PlistObject> find(std::string_view key) const;
  // The members under each of `keys` at once, as find() gives them, into
  // `found` (as many); false when this is not a dictionary.
  bool members(std::span<const std::string_view> keys,
               std::span<std::optional<PlistObject>> found) const;

 private:
  friend class PlistView;
  PlistObject(const PlistView* view, std::uint64_t offset) : view_(view), offset_(offset) {}

  unsigned kind() const;
  // The count of this string or container and where its contents start.
  std::uint64_t count(std::uint64_t& start) const;
  PlistObject object(std::uint64_t reference) const;

  const PlistView* view_;
  std::uint64_t offset_;
};

// A dictionary member that may be absent, read as a string into `out`: left
// empty when absent; false when present but not a string.
inline bool optionalString(const std::optional<PlistObject>& member,
                           std::optional<std::string>& out) {
  if (!member) return true;
  out.emplace();
  return member->string(*out);
}

// A binary property list checked whole; the data must outlive it.
class PlistView {
 public:
  // The view of `data` when decodePropertyList(data) would read it as a
  // binary property list, else nullopt (XML, malformed, over the limits, or
  // holding a value the tree cannot hold).
  static std::optional<PlistView> open(std::span<const std::uint8_t> data);

  PlistObject top() const { return {this, topOffset_}; }

 private:
  friend class PlistObject;
  PlistView() = default;

  const std::uint8_t* data_ = nullptr;
  std::uint64_t table_ = 0;
  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  std::uint64_t topOffset_ = 0;
};

inline unsigned PlistObject::kind() const {
  return view_->data_[offset_] >> 4;
}

inline bool PlistObject::isArray() const {
  const unsigned k = kind();
  return k == 0xA || k == 0xC;
}

inline bool PlistObject::isDictionary() const {
  return kind() == 0xD;
}

inline std::uint64_t PlistObject::count(std::uint64_t& start) const {
  const std::uint8_t* data = view_->data_;
  const std::uint64_t n = data[offset_] & 0x0F;
  start = offset_ + 1;
  if (n != 0x0F) return n;
  const unsigned size = 1u << (data[start] & 0x0F);
  start += 1 + size;
  return detail::readBigEndian(data + start - size, size);
}

inline PlistObject PlistObject::object(std::uint64_t reference) const {
  const PlistView& v = *view_;
  return {view_,
          detail::readBigEndian(v.data_ + v.table_ + reference * v.offsetSize_, v.offsetSize_)};
}

inline std::size_t PlistObject::size() const {
  if (!isArray()) return 0;
  std::uint64_t start = 0;
  return count(start);
}

inline PlistObject PlistObject::operator[](std::size_t i) const {
  std::uint64_t start = 0;
  count(start);
  const unsigned refSize = view_->refSize_;
  return object(detail::readBigEndian(view_->data_ + start + i * refSize, refSize));
}

}  // namespace coding
