#include "coding/plist_binary_reader.h"

#include <cmath>
#include <limits>
#include <type_traits>

#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "coding/coding_error.h"
#include "coding/plist.h"
#include "coding/plist_date.h"
#include "coding/plist_depth.h"
#include "coding/plist_view.h"

namespace coding::detail {
namespace {

// A big-endian unsigned integer of `size` bytes (1 to 8).
[[gnu::always_inline]] inline std::uint64_t bigEndian(const std::uint8_t* p, unsigned size) {
  if (size == 1) return p[0];
  if (size == 2) return (std::uint64_t{p[0]} << 8) | p[1];
  if (size == 4) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
  }
  if (size == 8) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
  }
  return readBigEndian(p, size);
}

// An integer field of `size` bytes (at least 1): wider than 8 bytes, only its
// last 8 bytes count.
std::uint64_t wideBigEndian(const std::uint8_t* p, std::uint64_t size) {
  return size > 8 ? bigEndian(p + size - 8, 8) : bigEndian(p, static_cast<unsigned>(size));
}

// UTF-16 text as it has always been read: a surrogate pair makes one
// character, a trail surrogate with no lead before it is dropped, a second
// lead in a row drops both leads, and a lead stays waiting for its trail
// across other characters.
void appendUtf16BE(const std::uint8_t* p, std::uint64_t count, std::string& out) {
  bool leadWaiting = false;
  std::uint32_t pending = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint32_t unit = (std::uint32_t{p[2 * i]} << 8) | p[2 * i + 1];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (!leadWaiting) pending = 0x10000 + ((unit & 0x3FF) << 10);
      leadWaiting = !leadWaiting;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (!leadWaiting) continue;
      leadWaiting = false;
      const std::uint32_t cp = pending | (unit & 0x3FF);
      out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (unit >= 0x800) {
      out += static_cast<char>(0xE0 | (unit >> 12));
      out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    } else if (unit >= 0x80) {
      out += static_cast<char>(0xC0 | (unit >> 6));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      out += static_cast<char>(unit);
    }
  }
}

// The text of the `n` characters at `p`, bytes taken as UTF-8 or UTF-16
// code units, made valid UTF-8.
void binaryPlistText(const std::uint8_t* p, std::uint64_t n, bool utf16, std::string& out) {
  if (!utf16) {
    std::uint8_t high = 0;
    for (std::uint64_t i = 0; i < n; ++i)
      high |= p[i];
    const std::string_view bytes(reinterpret_cast<const char*>(p), n);
    if (high < 0x80) {
      out.assign(bytes);
    } else {
      out = base::repairUtf8(bytes);
    }
    return;
  }
  std::string utf8;
  utf8.reserve(n * 3);
  appendUtf16BE(p, n, utf8);
  out = base::repairUtf8(utf8);
}

// The path of the object being read, one link per level on the stack; it
// becomes text only for an error.
struct PathLink {
  const PathLink* parent = nullptr;
  const std::string* key = nullptr;  // nullptr for an array element
  std::size_t index = 0;
};

std::string pathText(const PathLink* link) {
  std::vector<const PathLink*> links;
  for (; link; link = link->parent)
    links.push_back(link);
  std::string path;
  for (auto it = links.rbegin(); it != links.rend(); ++it) {
    path = (*it)->key ? keyPath(path, *(*it)->key) : indexPath(path, (*it)->index);
  }
  return path;
}

// Where a value read goes: each is made in its place, none is moved.
struct IntoRoot {
  std::optional<Value>& root;
  template <class T>
  void operator()(T&& value) const {
    root.emplace(std::forward<T>(value));
  }
};

struct IntoArray {
  Array& array;
  template <class T>
  void operator()(T&& value) const {
    array.emplace_back(std::forward<T>(value));
  }
};

// The entry of `key`, which is moved into it.
struct IntoEntry {
  std::vector<Dictionary::Entry>& entries;
  std::string& key;
  template <class T>
  void operator()(T&& value) const {
    entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::move(key)),
                         std::forward_as_tuple(std::forward<T>(value)));
  }
};

// Where nothing goes: the objects are only checked.
struct Discard {
  template <class T>
  void operator()(T&&) const {}
};

template <class Emit>
constexpr bool kChecking = std::is_same_v<Emit, Discard>;

// Objects are read from the top one down, depth first, each reference
// read again where it is used. Any malformed object fails the whole read;
// a value the tree cannot hold (a date out of range, a keyed-archive UID) is
// noted with its path, and the read goes on, since a malformed object found
// later takes precedence.
class BinaryReader {
 public:
  explicit BinaryReader(std::span<const std::uint8_t> data)
      : data_(data.data()), size_(data.size()), maxNodes_(maxPlistNodesFor(data.size())) {}

  base::Result<Value> run() {
    std::optional<Value> root;
    if (!parseTrailer() || !read(topObject_, 0, nullptr, IntoRoot{root})) return malformed();
    if (valueError_) return std::move(*valueError_);
    return std::move(*root);
  }

  // Whether run() would succeed, found without building the tree.
  bool check() {
    return parseTrailer() && read(topObject_, 0, nullptr, Discard{}) && !valueErrorSeen_;
  }

  // Where the object area ends, the widths of offsets and references, and
  // the top object's offset: known once check() or run() has succeeded.
  std::uint64_t table() const { return table_; }
  unsigned offsetSize() const { return offsetSize_; }
  unsigned refSize() const { return refSize_; }
  std::uint64_t topOffset() const {
    return bigEndian(data_ + table_ + topObject_ * offsetSize_, offsetSize_);
  }

 private:
  bool parseTrailer() {
    const auto trailer = readBinaryPlistTrailer({data_, size_});
    if (!trailer) return false;
    offsetSize_ = trailer->offsetSize;
    refSize_ = trailer->refSize;
    objectCount_ = trailer->objects;
    topObject_ = trailer->top;
    table_ = trailer->offsetTable;
    return true;
  }

  // The error for data that cannot be read: the wording tells data over the
  // limits (or with a NUL character) from other malformed data.
  base::Error malformed() const {
    const bool withinLimits =
        binaryPlistWithinLimits({data_, size_}, {kMaxDepth, maxPlistNodesFor(size_)});
    return makeError(ErrorCode::invalidInput,
                     withinLimits ? "<root>: not a property list"
                                  : "<root>: not a property list, too large, or nested too deep");
  }

  // The offset of object `index` (below objectCount_), inside the object area.
  bool objectOffset(std::uint64_t index, std::uint64_t& offset) const {
    offset = bigEndian(data_ + table_ + index * offsetSize_, offsetSize_);
    return offset >= 8 && offset < table_;
  }

  // The count of the string or container at `offset`: the low nibble of its
  // marker, or the 1 to 8 byte integer that follows when that is 0xF. `start`
  // is left at its contents.
  bool count(std::uint64_t offset, std::uint64_t& n, std::uint64_t& start) const {
    n = data_[offset] & 0x0F;
    start = offset + 1;
    if (n != 0x0F) return true;
    if (start >= table_) return false;
    const std::uint8_t marker = data_[start];
    if ((marker >> 4) != 0x1 || (marker & 0x0F) > 3) return false;
    const unsigned size = 1u << (marker & 0x0F);
    if (size > table_ - start - 1) return false;
    n = bigEndian(data_ + start + 1, size);
    start += 1 + size;
    return true;
  }

  // The length of data: as count(), but the integer may be any power of two
  // wide (its last 8 bytes counting).
  bool dataLength(std::uint64_t offset, std::uint64_t& n, std::uint64_t& start) const {
    n = data_[offset] & 0x0F;
    start = offset + 1;
    if (n != 0x0F) return true;
    if (start >= table_) return false;
    const std::uint8_t marker = data_[start];
    if ((marker >> 4) != 0x1) return false;
    const std::uint64_t size = std::uint64_t{1} << (marker & 0x0F);
    ++start;
    if (size > table_ - start) return false;
    n = wideBigEndian(data_ + start, size);
    start += size;
    return true;
  }

  // The text of the string object at `offset` (ASCII or UTF-16), checked:
  // fails when it runs past the object area or holds a NUL character, or
  // when it is empty UTF-16. `start` and `n` are left at its bytes and its
  // length in characters.
  bool checkString(std::uint64_t offset, std::uint64_t& n, std::uint64_t& start) const {
    if (!count(offset, n, start)) return false;
    const std::uint8_t* text = data_ + start;
    if ((data_[offset] >> 4) == 0x5) {
      if (n > table_ - start) return false;
      for (std::uint64_t i = 0; i < n; ++i) {
        if (text[i] == 0) return false;
      }
      return true;
    }
    if (n == 0 || n > (table_ - start) / 2) return false;
    for (std::uint64_t i = 0; i < n; ++i) {
      if (text[2 * i] == 0 && text[2 * i + 1] == 0) return false;
    }
    return true;
  }

  // Text of the string object at `offset`, made valid UTF-8; fails as
  // checkString does.
  bool string(std::uint64_t offset, std::string& out) const {
    std::uint64_t n = 0;
    std::uint64_t start = 0;
    if (!checkString(offset, n, start)) return false;
    binaryPlistText(data_ + start, n, (data_[offset] >> 4) == 0x6, out);
    return true;
  }

  // Counts `n` more values or keys in the tree.
  bool addNodes(std::uint64_t n) {
    if (n > maxNodes_ - nodes_) return false;
    nodes_ += n;
    return true;
  }

  template <class Emit>
  void noteValueError(const PathLink* path, std::string_view what) {
    valueErrorSeen_ = true;
    if (kChecking<Emit>) return;
    if (!valueError_) valueError_ = failAt(pathText(path), ErrorCode::invalidInput, what);
  }

  // Object `object` to `emit`; `level` counts the containers around it. A
  // value the tree cannot hold is emitted as null.
  template <class Emit>
  bool read(std::uint64_t object, int level, const PathLink* path, const Emit& emit) {
    std::uint64_t offset = 0;
    if (object >= objectCount_ || !objectOffset(object, offset) || !addNodes(1)) return false;
    const std::uint8_t marker = data_[offset];
    const unsigned nibble = marker & 0x0F;
    const std::uint64_t start = offset + 1;
    const std::uint8_t* contents = data_ + start;
    switch (marker >> 4) {
      case 0x0:
        if (nibble != 0x8 && nibble != 0x9) return false;
        emit(nibble == 0x9);
        return true;
      case 0x1: {
        const std::uint64_t size = std::uint64_t{1} << nibble;
        if (size > table_ - start || nibble > 4) return false;
        emit(static_cast<std::int64_t>(wideBigEndian(contents, size)));
        return true;
      }
      case 0x2: {
        const std::uint64_t size = std::uint64_t{1} << nibble;
        if (size > table_ - start) return false;
        if (nibble == 2) {
          emit(static_cast<double>(
              std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(contents, 4)))));
        } else if (nibble == 3) {
          emit(std::bit_cast<double>(bigEndian(contents, 8)));
        } else {
          return false;
        }
        return true;
      }
      case 0x3: {
        if (nibble != 3 || 8 > table_ - start) return false;
        const auto time = timeFromReferenceSeconds(std::bit_cast<double>(bigEndian(contents, 8)));
        if (time) {
          emit(*time);
        } else {
          noteValueError<Emit>(path, "date out of range");
          emit(nullptr);
        }
        return true;
      }
      case 0x4: {
        std::uint64_t n = 0;
        std::uint64_t from = 0;
        if (!dataLength(offset, n, from) || n > table_ - from) return false;
        if constexpr (!kChecking<Emit>) emit(base::Bytes(data_ + from, data_ + from + n));
        return true;
      }
      case 0x5:
      case 0x6: {
        if constexpr (kChecking<Emit>) {
          std::uint64_t n = 0;
          std::uint64_t from = 0;
          return checkString(offset, n, from);
        }
        std::string text;
        if (!string(offset, text)) return false;
        emit(std::move(text));
        return true;
      }
      case 0x8: {
        const std::uint64_t size = nibble + 1;
        if (size > table_ - start || wideBigEndian(contents, size) > 0xFFFFFFFFu) return false;
        noteValueError<Emit>(path, "unsupported keyed-archive reference");
        emit(nullptr);
        return true;
      }
      case 0xA:
      case 0xC:
        return array(offset, level, path, emit);
      case 0xD:
        return dictionary(offset, level, path, emit);
      default:
        return false;
    }
  }

  // The references of the container at `offset`: `n` slots of refSize_ bytes
  // from `start`, each below objectCount_.
  bool references(std::uint64_t offset, std::uint64_t slotsPerItem, std::uint64_t& n,
                  std::uint64_t& start) const {
    if (!count(offset, n, start)) return false;
    if (n > ((table_ - start) / refSize_) / slotsPerItem) return false;
    const std::uint8_t* refs = data_ + start;
    for (std::uint64_t i = 0; i < n * slotsPerItem; ++i) {
      if (bigEndian(refs + i * refSize_, refSize_) >= objectCount_) return false;
    }
    return true;
  }

  std::uint64_t reference(std::uint64_t start, std::uint64_t slot) const {
    return bigEndian(data_ + start + slot * refSize_, refSize_);
  }

  template <class Emit>
  bool array(std::uint64_t offset, int level, const PathLink* path, const Emit& emit) {
    std::uint64_t n = 0;
    std::uint64_t start = 0;
    if (level >= kMaxDepth || !references(offset, 1, n, start)) return false;
    // Every element is at least one more value: refuse before allocating.
    if (n > maxNodes_ - nodes_) return false;
    if constexpr (kChecking<Emit>) {
      for (std::uint64_t i = 0; i < n; ++i) {
        if (!read(reference(start, i), level + 1, nullptr, Discard{})) return false;
      }
      return true;
    }
    Array elements;
    elements.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      const PathLink link{path, nullptr, i};
      if (!read(reference(start, i), level + 1, &link, IntoArray{elements})) return false;
    }
    emit(std::move(elements));
    return true;
  }

  template <class Emit>
  bool dictionary(std::uint64_t offset, int level, const PathLink* path, const Emit& emit) {
    std::uint64_t n = 0;
    std::uint64_t start = 0;
    if (level >= kMaxDepth || !references(offset, 2, n, start)) return false;
    if (n > (maxNodes_ - nodes_) / 2) return false;
    std::vector<Dictionary::Entry> entries;
    entries.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      // Keys are strings, counted as values of the tree.
      std::uint64_t keyOffset = 0;
      if (!objectOffset(reference(start, i), keyOffset) || !addNodes(1)) return false;
      const unsigned keyKind = data_[keyOffset] >> 4;
      if (keyKind != 0x5 && keyKind != 0x6) return false;
      if constexpr (kChecking<Emit>) {
        std::uint64_t length = 0;
        std::uint64_t from = 0;
        if (!checkString(keyOffset, length, from) ||
            !read(reference(start, n + i), level + 1, nullptr, Discard{})) {
          return false;
        }
        continue;
      }
      std::string key;
      if (!string(keyOffset, key)) return false;
      const PathLink link{path, &key, 0};
      if (!read(reference(start, n + i), level + 1, &link, IntoEntry{entries, key})) return false;
    }
    if constexpr (!kChecking<Emit>) emit(Dictionary(std::move(entries)));
    return true;
  }

  const std::uint8_t* data_;
  std::uint64_t size_;
  std::uint64_t maxNodes_;
  std::uint64_t nodes_ = 0;
  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t topObject_ = 0;
  // Where the offset table starts, which is where the object area ends.
  std::uint64_t table_ = 0;
  std::optional<base::Error> valueError_;
  bool valueErrorSeen_ = false;
};

}  // namespace

base::Result<Value> readBinaryPropertyList(std::span<const std::uint8_t> data) {
  return BinaryReader(data).run();
}

}  // namespace coding::detail

namespace coding {

using detail::bigEndian;
using detail::wideBigEndian;

std::optional<PlistView> PlistView::open(std::span<const std::uint8_t> data) {
  // As decodePropertyList tells binary data.
  if (data.size() < 8 || data.size() > std::numeric_limits<std::uint32_t>::max() ||
      std::memcmp(data.data(), "bplist00", 8) != 0) {
    return std::nullopt;
  }
  detail::BinaryReader reader(data);
  if (!reader.check()) return std::nullopt;
  PlistView view;
  view.data_ = data.data();
  view.table_ = reader.table();
  view.offsetSize_ = reader.offsetSize();
  view.refSize_ = reader.refSize();
  view.topOffset_ = reader.topOffset();
  return view;
}

// The view was checked whole: every object reached from the top one is well
// formed, so these reads trust counts, widths and references.

std::optional<bool> PlistObject::boolean() const {
  const std::uint8_t marker = view_->data_[offset_];
  if (marker == 0x08 || marker == 0x09) return marker == 0x09;
  return std::nullopt;
}

std::optional<std::int64_t> PlistObject::int64() const {
  const std::uint8_t* contents = view_->data_ + offset_ + 1;
  const unsigned nibble = view_->data_[offset_] & 0x0F;
  if (kind() == 0x1) return static_cast<std::int64_t>(wideBigEndian(contents, 1u << nibble));
  if (kind() != 0x2) return std::nullopt;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  const double d = *number();
  if (std::isfinite(d) && std::trunc(d) == d && d >= -kTwoTo63 && d < kTwoTo63) {
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

std::optional<double> PlistObject::number() const {
  const std::uint8_t* contents = view_->data_ + offset_ + 1;
  const unsigned nibble = view_->data_[offset_] & 0x0F;
  switch (kind()) {
    case 0x1:
      return static_cast<double>(static_cast<std::int64_t>(wideBigEndian(contents, 1u << nibble)));
    case 0x2:
      if (nibble == 2) {
        return static_cast<double>(
            std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(contents, 4))));
      }
      return std::bit_cast<double>(bigEndian(contents, 8));
    default:
      return std::nullopt;
  }
}

bool PlistObject::string(std::string& out) const {
  const unsigned k = kind();
  if (k != 0x5 && k != 0x6) return false;
  std::uint64_t start = 0;
  const std::uint64_t n = count(start);
  detail::binaryPlistText(view_->data_ + start, n, k == 0x6, out);
  return true;
}

std::optional<base::Bytes> PlistObject::bytes() const {
  if (kind() != 0x4) return std::nullopt;
  const std::uint8_t* data = view_->data_;
  std::uint64_t n = data[offset_] & 0x0F;
  std::uint64_t start = offset_ + 1;
  if (n == 0x0F) {
    const std::uint64_t size = std::uint64_t{1} << (data[start] & 0x0F);
    ++start;
    n = wideBigEndian(data + start, size);
    start += size;
  }
  return base::Bytes(data + start, data + start + n);
}

std::optional<base::Url> PlistObject::url() const {
  static constexpr std::string_view kKeys[] = {"relative", "base"};
  std::optional<PlistObject> found[2];
  if (!members(kKeys, found)) return std::nullopt;
  const auto& [relative, baseMember] = found;
  std::string text;
  if (!relative || !relative->string(text)) return std::nullopt;
  if (baseMember) {
    const auto baseUrl = baseMember->url();
    if (!baseUrl) return std::nullopt;
    return baseUrl->resolve(text);
  }
  return base::Url::parse(text);
}

std::optional<PlistObject> PlistObject::find(std::string_view key) const {
  std::optional<PlistObject> found;
  if (!members({&key, 1}, {&found, 1})) return std::nullopt;
  return found;
}

bool PlistObject::members(std::span<const std::string_view> keys,
                          std::span<std::optional<PlistObject>> found) const {
  if (!isDictionary()) return false;
  std::uint64_t start = 0;
  const std::uint64_t n = count(start);
  const std::uint8_t* refs = view_->data_ + start;
  const unsigned refSize = view_->refSize_;
  std::string text;
  for (std::uint64_t i = 0; i < n; ++i) {
    const PlistObject name = object(bigEndian(refs + i * refSize, refSize));
    std::uint64_t from = 0;
    const std::uint64_t length = name.count(from);
    const std::uint8_t* bytes = view_->data_ + from;
    bool ascii = name.kind() == 0x5;
    for (std::uint64_t b = 0; ascii && b < length; ++b)
      ascii = bytes[b] < 0x80;
    std::string_view key(reinterpret_cast<const char*>(bytes), length);
    if (!ascii) {
      // The key as the tree keeps it: repaired UTF-8.
      name.string(text);
      key = text;
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
      if (key == keys[k]) found[k] = object(bigEndian(refs + (n + i) * refSize, refSize));
    }
  }
  return true;
}

}  // namespace coding
