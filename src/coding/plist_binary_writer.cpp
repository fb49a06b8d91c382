#include "coding/plist_binary_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "coding/coding_error.h"
#include "coding/plist_date.h"

namespace coding::detail {
namespace {

// Bytes needed for `v` among 1, 2, 4 and 8.
int widthOf(std::uint64_t v) {
  if (v <= 0xff) return 1;
  if (v <= 0xffff) return 2;
  if (v <= 0xffffffff) return 4;
  return 8;
}

// At most how many objects the value is written as (equal strings are
// written once), and how many bytes they take.
struct Extent {
  std::uint64_t objects = 0;
  std::uint64_t bytes = 0;
};

// Per object: its marker, a count or a number of up to 8 bytes, a reference
// to it and its offset, each at most 8 bytes.
constexpr std::uint64_t kObjectBytes = 1 + 9 + 8 + 8;

void measure(const Value& value, int depth, Extent& extent) {
  ++extent.objects;
  extent.bytes += kObjectBytes;
  if (depth > kMaxDepth) return;
  switch (value.type()) {
    case Type::string:
      extent.bytes += 2 * value.getIf<std::string>()->size();  // UTF-16 at most doubles
      break;
    case Type::bytes:
      extent.bytes += value.getIf<base::Bytes>()->size();
      break;
    case Type::url:  // {"relative": text}
      extent.objects += 2;
      extent.bytes += 2 * kObjectBytes + 16 + 2 * value.getIf<base::Url>()->absoluteString().size();
      break;
    case Type::array:
      for (const Value& element : *value.getIf<Array>())
        measure(element, depth + 1, extent);
      break;
    case Type::dictionary:
      for (const auto& [key, member] : *value.getIf<Dictionary>()) {
        ++extent.objects;
        extent.bytes += kObjectBytes + 2 * key.size();
        measure(member, depth + 1, extent);
      }
      break;
    default:
      break;
  }
}

// Equal strings are written once: text to the index of its object. Open
// addressing over the caller's text, which outlives the table.
class StringTable {
 public:
  static constexpr std::uint64_t kAbsent = ~std::uint64_t{0};

  static std::uint64_t hash(std::string_view text) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + i, 8);
      h = (h ^ word) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + i, text.size() - i);
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 29);
  }

  // The index of `text`, or kAbsent.
  std::uint64_t find(std::string_view text, std::uint64_t h) const {
    if (slots_.empty()) return kAbsent;
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.index == kAbsent) return kAbsent;
      if (slot.hash == h && slot.text == text) return slot.index;
    }
  }

  // Records `text` (not recorded yet) as object `index`.
  void insert(std::string_view text, std::uint64_t h, std::uint64_t index) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    place(Slot{text, h, index});
    ++count_;
  }

 private:
  struct Slot {
    std::string_view text;
    std::uint64_t hash = 0;
    std::uint64_t index = kAbsent;
  };

  void place(const Slot& entry) {
    std::size_t i = entry.hash & mask_;
    while (slots_[i].index != kAbsent)
      i = (i + 1) & mask_;
    slots_[i] = entry;
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{});
    mask_ = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.index != kAbsent) place(slot);
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

// Writes the objects children first, so that a container's references are
// known when it is written; each object's offset goes to the table as it is
// written. Equal strings (keys included) are written once.
class Writer {
 public:
  explicit Writer(const Extent& extent)
      : refSize_(widthOf(extent.objects)),
        // The extent bounds the output: one allocation, touched only as far
        // as it is written.
        capacity_(64 + extent.bytes),
        out_(new std::uint8_t[capacity_]) {
    offsets_.reserve(extent.objects);
  }

  // Data of at least `limit` bytes is left out of the output and referred
  // to by `pieces` instead (see writeBinaryPropertyListPieces).
  void keepDataOutFrom(std::size_t limit) { inlineLimit_ = limit; }

  base::Result<base::Bytes> run(const Value& root) {
    auto end = writeAll(root);
    if (!end) return end.error();
    return base::Bytes(out_.get(), *end);
  }

  base::Result<PlistPieces> runPieces(const Value& root) {
    auto end = writeAll(root);
    if (!end) return end.error();
    pieces_.bytes.assign(out_.get(), *end);
    return std::move(pieces_);
  }

 private:
  // Writes the list; where the output ends.
  base::Result<std::uint8_t*> writeAll(const Value& root) {
    room(8);
    std::memcpy(out_.get(), "bplist00", 8);
    size_ = 8;
    const std::uint64_t top = write(root, 0, nullptr);
    if (top == kFailed) return std::move(*error_);
    const std::uint64_t tablePosition = size_ + leftOut_;
    const int offsetSize = widthOf(tablePosition);
    std::uint8_t* at = room(offsets_.size() * offsetSize + 32);
    for (std::uint64_t offset : offsets_)
      at = putSized(at, offset, offsetSize);
    std::memset(at, 0, 6);
    at[6] = static_cast<std::uint8_t>(offsetSize);
    at[7] = static_cast<std::uint8_t>(refSize_);
    at = putSized(at + 8, offsets_.size(), 8);
    at = putSized(at, top, 8);
    at = putSized(at, tablePosition, 8);
    size_ = static_cast<std::size_t>(at - out_.get());
    return at;
  }

  static constexpr std::uint64_t kFailed = ~std::uint64_t{0};

  // The path of the value being written, one link per level on the stack;
  // it becomes text only for an error.
  struct Path {
    const Path* parent = nullptr;
    std::string_view key;
    std::size_t index = 0;
    bool isKey = false;
  };

  // The index of the object written for `value`, or kFailed with error_ set.
  std::uint64_t write(const Value& value, int depth, const Path* path) {
    if (depth > kMaxDepth) return fail(path, ErrorCode::invalidValue, "nesting too deep");
    switch (value.type()) {
      case Type::null:
        return fail(path, ErrorCode::invalidValue, "a property list cannot hold null");
      case Type::boolean:
        return object(*value.getIf<bool>() ? 0x09 : 0x08);
      case Type::int64:
        return integer(static_cast<std::uint64_t>(*value.getIf<std::int64_t>()));
      case Type::uint64:
        return integer(*value.getIf<std::uint64_t>());
      case Type::real:
        return timed(0x23, *value.getIf<double>());
      case Type::date:
        return timed(0x33, secondsSinceReferenceDate(*value.getIf<base::Time>()));
      case Type::string:
        return string(*value.getIf<std::string>(), path);
      case Type::bytes: {
        const auto& bytes = *value.getIf<base::Bytes>();
        const std::uint64_t index = begin();
        if (bytes.size() >= inlineLimit_) {
          std::uint8_t* at = marker(room(10), 0x40, bytes.size());
          size_ = static_cast<std::size_t>(at - out_.get());
          pieces_.data.emplace_back(size_, std::span<const std::uint8_t>(bytes));
          leftOut_ += bytes.size();
          return index;
        }
        std::uint8_t* at = marker(room(10 + bytes.size()), 0x40, bytes.size());
        if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
        size_ = static_cast<std::size_t>(at + bytes.size() - out_.get());
        return index;
      }
      case Type::url: {
        const std::uint64_t key = string("relative", path);
        if (key == kFailed) return kFailed;
        const Path link{path, "relative", 0, true};
        const std::uint64_t text = string(value.getIf<base::Url>()->absoluteString(), &link);
        if (text == kFailed) return kFailed;
        const std::uint64_t index = begin();
        std::uint8_t* at = marker(room(10 + 2 * refSize_), 0xd0, 1);
        at = putSized(at, key, refSize_);
        at = putSized(at, text, refSize_);
        size_ = static_cast<std::size_t>(at - out_.get());
        return index;
      }
      case Type::array: {
        const Array& elements = *value.getIf<Array>();
        const std::size_t first = refs_.size();
        for (std::size_t i = 0; i < elements.size(); ++i) {
          const Path link{path, {}, i, false};
          const std::uint64_t element = write(elements[i], depth + 1, &link);
          if (element == kFailed) return kFailed;
          refs_.push_back(element);
        }
        return container(0xa0, elements.size(), first);
      }
      case Type::dictionary: {
        const Dictionary& members = *value.getIf<Dictionary>();
        const std::size_t first = refs_.size();
        for (const auto& [key, member] : members) {
          const Path link{path, key, 0, true};
          const std::uint64_t keyIndex = string(key, &link);
          if (keyIndex == kFailed) return kFailed;
          refs_.push_back(keyIndex);
        }
        for (const auto& [key, member] : members) {
          const Path link{path, key, 0, true};
          const std::uint64_t element = write(member, depth + 1, &link);
          if (element == kFailed) return kFailed;
          refs_.push_back(element);
        }
        return container(0xd0, members.size(), first);
      }
    }
    return fail(path, ErrorCode::invalidValue, "unknown value type");
  }

  // The index of `text` written once; text that is not UTF-8 is written
  // with U+FFFD in place of the bad bytes.
  std::uint64_t string(std::string_view text, const Path* path) {
    const std::uint64_t textHash = StringTable::hash(text);
    if (auto found = strings_.find(text, textHash); found != StringTable::kAbsent) return found;
    if (text.find('\0') != std::string_view::npos)
      return fail(path, ErrorCode::invalidValue, "text with a NUL character");
    std::string_view key = text;
    std::uint64_t keyHash = textHash;
    if (!base::isValidUtf8(text)) {
      key = repaired_.emplace_back(base::repairUtf8(text));
      keyHash = StringTable::hash(key);
      if (auto found = strings_.find(key, keyHash); found != StringTable::kAbsent) {
        strings_.insert(text, textHash, found);
        return found;
      }
    }
    const std::uint64_t index = begin();
    bool ascii = true;
    for (char c : key) {
      if (static_cast<unsigned char>(c) >= 0x80) {
        ascii = false;
        break;
      }
    }
    if (ascii) {
      std::uint8_t* at = marker(room(10 + key.size()), 0x50, key.size());
      if (!key.empty()) std::memcpy(at, key.data(), key.size());
      size_ = static_cast<std::size_t>(at + key.size() - out_.get());
    } else {
      const std::u16string units = base::toUtf16(key);
      std::uint8_t* at = marker(room(10 + 2 * units.size()), 0x60, units.size());
      for (char16_t unit : units) {
        *at++ = static_cast<std::uint8_t>(unit >> 8);
        *at++ = static_cast<std::uint8_t>(unit & 0xff);
      }
      size_ = static_cast<std::size_t>(at - out_.get());
    }
    strings_.insert(text, textHash, index);
    if (key.data() != text.data()) strings_.insert(key, keyHash, index);
    return index;
  }

  std::uint64_t integer(std::uint64_t v) {
    const std::uint64_t index = begin();
    const int width = widthOf(v);
    std::uint8_t* at = room(9);
    *at++ = static_cast<std::uint8_t>(0x10 | std::countr_zero(static_cast<unsigned>(width)));
    size_ = static_cast<std::size_t>(putSized(at, v, width) - out_.get());
    return index;
  }

  std::uint64_t timed(std::uint8_t type, double v) {
    const std::uint64_t index = begin();
    std::uint8_t* at = room(9);
    *at++ = type;
    size_ = static_cast<std::size_t>(putSized(at, std::bit_cast<std::uint64_t>(v), 8) - out_.get());
    return index;
  }

  std::uint64_t object(std::uint8_t byte) {
    const std::uint64_t index = begin();
    *room(1) = byte;
    ++size_;
    return index;
  }

  // The container of `count` items whose references are those from `first`
  // on, which are then dropped.
  std::uint64_t container(std::uint8_t type, std::size_t count, std::size_t first) {
    const std::uint64_t index = begin();
    const std::size_t refs = refs_.size() - first;
    std::uint8_t* at = marker(room(10 + refs * refSize_), type, count);
    switch (refSize_) {
      case 1:
        for (std::size_t i = first; i < refs_.size(); ++i)
          *at++ = static_cast<std::uint8_t>(refs_[i]);
        break;
      default:
        for (std::size_t i = first; i < refs_.size(); ++i)
          at = putSized(at, refs_[i], refSize_);
        break;
    }
    size_ = static_cast<std::size_t>(at - out_.get());
    refs_.resize(first);
    return index;
  }

  // Starts the next object: its offset goes to the table.
  std::uint64_t begin() {
    offsets_.push_back(size_ + leftOut_);
    return offsets_.size() - 1;
  }

  // At least `n` bytes free after the output; where they start.
  std::uint8_t* room(std::size_t n) {
    if (capacity_ - size_ < n) {
      // Not reached while the extent bounds the output; kept for safety.
      const std::size_t capacity = std::max(2 * capacity_, size_ + n);
      std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
      std::memcpy(grown.get(), out_.get(), size_);
      out_ = std::move(grown);
      capacity_ = capacity;
    }
    return out_.get() + size_;
  }

  // A type marker with its count at `at`: in the low nibble, or after it as
  // an integer object from 15 on. Up to 10 bytes; returns their end.
  static std::uint8_t* marker(std::uint8_t* at, std::uint8_t type, std::uint64_t count) {
    if (count < 15) {
      *at++ = static_cast<std::uint8_t>(type | count);
      return at;
    }
    *at++ = static_cast<std::uint8_t>(type | 0x0f);
    const int width = widthOf(count);
    *at++ = static_cast<std::uint8_t>(0x10 | std::countr_zero(static_cast<unsigned>(width)));
    return putSized(at, count, width);
  }

  // `v` big-endian in `width` bytes (1, 2, 4 or 8) at `at`; returns their end.
  static std::uint8_t* putSized(std::uint8_t* at, std::uint64_t v, int width) {
    switch (width) {
      case 1:
        *at = static_cast<std::uint8_t>(v);
        break;
      case 2:
        at[0] = static_cast<std::uint8_t>(v >> 8);
        at[1] = static_cast<std::uint8_t>(v);
        break;
      case 4: {
        const std::uint32_t be = __builtin_bswap32(static_cast<std::uint32_t>(v));
        std::memcpy(at, &be, 4);
        break;
      }
      default: {
        const std::uint64_t be = __builtin_bswap64(v);
        std::memcpy(at, &be, 8);
        break;
      }
    }
    return at + width;
  }

  std::uint64_t fail(const Path* path, ErrorCode code, std::string_view what) {
    std::vector<const Path*> links;
    for (; path; path = path->parent)
      links.push_back(path);
    std::string text;
    for (auto it = links.rbegin(); it != links.rend(); ++it) {
      text = (*it)->isKey ? keyPath(text, (*it)->key) : indexPath(text, (*it)->index);
    }
    error_ = failAt(text, code, what);
    return kFailed;
  }

  int refSize_;
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> out_;
  std::size_t size_ = 0;
  std::vector<std::uint64_t> offsets_;
  // References of the containers being written, innermost last.
  std::vector<std::uint64_t> refs_;
  StringTable strings_;
  // Repaired copies of text that was not UTF-8 (stable addresses).
  std::deque<std::string> repaired_;
  std::optional<base::Error> error_;
  std::size_t inlineLimit_ = std::numeric_limits<std::size_t>::max();
  // Bytes of the data left out so far, and where it goes.
  std::uint64_t leftOut_ = 0;
  PlistPieces pieces_;
};

}  // namespace

base::Result<base::Bytes> writeBinaryPropertyList(const Value& value) {
  Extent extent;
  measure(value, 0, extent);
  return Writer(extent).run(value);
}

base::Result<PlistPieces> writeBinaryPropertyListPieces(const Value& value,
                                                        std::size_t inlineLimit) {
  Extent extent;
  measure(value, 0, extent);
  Writer writer(extent);
  writer.keepDataOutFrom(inlineLimit);
  return writer.runPieces(value);
}

}  // namespace coding::detail
