#include "coding/plist_binary_writer.h"

#include <bit>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <variant>
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

// Writes the objects children first, so that a container's references are
// known when it is written; each object's offset goes to the table as it is
// written. Equal strings (keys included) are written once.
class Writer {
 public:
  explicit Writer(Extent extent) : refSize_(widthOf(extent.objects)) {
    // Reserved, not touched: one allocation for the whole output.
    out_.reserve(64 + extent.bytes);
    offsets_.reserve(extent.objects);
  }

  base::Result<base::Bytes> run(const Value& root) {
    append("bplist00", 8);
    auto top = write(root, 0);
    if (!top) return top.error();
    const std::uint64_t tablePosition = out_.size();
    const int offsetSize = widthOf(tablePosition);
    for (std::uint64_t offset : offsets_)
      putSized(offset, offsetSize);
    std::uint8_t trailer[32] = {};
    trailer[6] = static_cast<std::uint8_t>(offsetSize);
    trailer[7] = static_cast<std::uint8_t>(refSize_);
    putBigEndian(&trailer[8], offsets_.size());
    putBigEndian(&trailer[16], *top);
    putBigEndian(&trailer[24], tablePosition);
    append(trailer, sizeof trailer);
    // The reservation is an upper bound; the bytes are often kept long.
    if (out_.capacity() - out_.size() > out_.size() / 8) out_.shrink_to_fit();
    return std::move(out_);
  }

 private:
  using Segment = std::variant<std::size_t, std::string_view>;

  base::Result<std::uint64_t> write(const Value& value, int depth) {
    if (depth > kMaxDepth) return fail(ErrorCode::invalidValue, "nesting too deep");
    switch (value.type()) {
      case Type::null:
        return fail(ErrorCode::invalidValue, "a property list cannot hold null");
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
        return string(*value.getIf<std::string>());
      case Type::bytes: {
        const auto& bytes = *value.getIf<base::Bytes>();
        const std::uint64_t index = begin();
        marker(0x40, bytes.size());
        append(bytes.data(), bytes.size());
        return index;
      }
      case Type::url: {
        auto key = string("relative");
        if (!key) return key.error();
        path_.emplace_back(std::string_view("relative"));
        auto text = string(value.getIf<base::Url>()->absoluteString());
        path_.pop_back();
        if (!text) return text.error();
        const std::uint64_t index = begin();
        marker(0xd0, 1);
        putSized(*key, refSize_);
        putSized(*text, refSize_);
        return index;
      }
      case Type::array: {
        const Array& elements = *value.getIf<Array>();
        const std::size_t first = refs_.size();
        for (std::size_t i = 0; i < elements.size(); ++i) {
          path_.emplace_back(i);
          auto element = write(elements[i], depth + 1);
          path_.pop_back();
          if (!element) return element.error();
          refs_.push_back(*element);
        }
        const std::uint64_t index = begin();
        marker(0xa0, elements.size());
        putRefs(first);
        return index;
      }
      case Type::dictionary: {
        const Dictionary& members = *value.getIf<Dictionary>();
        const std::size_t first = refs_.size();
        for (const auto& [key, member] : members) {
          path_.emplace_back(std::string_view(key));
          auto keyIndex = string(key);
          if (!keyIndex) return keyIndex.error();
          path_.pop_back();
          refs_.push_back(*keyIndex);
        }
        for (const auto& [key, member] : members) {
          path_.emplace_back(std::string_view(key));
          auto element = write(member, depth + 1);
          path_.pop_back();
          if (!element) return element.error();
          refs_.push_back(*element);
        }
        const std::uint64_t index = begin();
        marker(0xd0, members.size());
        putRefs(first);
        return index;
      }
    }
    return fail(ErrorCode::invalidValue, "unknown value type");
  }

  // The index of `text` written once; text that is not UTF-8 is written
  // with U+FFFD in place of the bad bytes.
  base::Result<std::uint64_t> string(std::string_view text) {
    if (auto found = strings_.find(text); found != strings_.end()) return found->second;
    if (text.find('\0') != std::string_view::npos)
      return fail(ErrorCode::invalidValue, "text with a NUL character");
    std::string_view key = text;
    if (!base::isValidUtf8(text)) {
      key = repaired_.emplace_back(base::repairUtf8(text));
      if (auto found = strings_.find(key); found != strings_.end()) {
        strings_.emplace(text, found->second);
        return found->second;
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
      marker(0x50, key.size());
      append(key.data(), key.size());
    } else {
      const std::u16string units = base::toUtf16(key);
      marker(0x60, units.size());
      for (char16_t unit : units) {
        out_.push_back(static_cast<std::uint8_t>(unit >> 8));
        out_.push_back(static_cast<std::uint8_t>(unit & 0xff));
      }
    }
    strings_.emplace(text, index);
    if (key.data() != text.data()) strings_.emplace(key, index);
    return index;
  }

  std::uint64_t integer(std::uint64_t v) {
    const std::uint64_t index = begin();
    const int width = widthOf(v);
    out_.push_back(
        static_cast<std::uint8_t>(0x10 | std::countr_zero(static_cast<unsigned>(width))));
    putSized(v, width);
    return index;
  }

  std::uint64_t timed(std::uint8_t type, double v) {
    const std::uint64_t index = begin();
    out_.push_back(type);
    putSized(std::bit_cast<std::uint64_t>(v), 8);
    return index;
  }

  std::uint64_t object(std::uint8_t byte) {
    const std::uint64_t index = begin();
    out_.push_back(byte);
    return index;
  }

  // Starts the next object: its offset goes to the table.
  std::uint64_t begin() {
    offsets_.push_back(out_.size());
    return offsets_.size() - 1;
  }

  // A type marker with its count: in the low nibble, or after it as an
  // integer object from 15 on.
  void marker(std::uint8_t type, std::uint64_t count) {
    if (count < 15) {
      out_.push_back(static_cast<std::uint8_t>(type | count));
      return;
    }
    out_.push_back(static_cast<std::uint8_t>(type | 0x0f));
    const int width = widthOf(count);
    out_.push_back(
        static_cast<std::uint8_t>(0x10 | std::countr_zero(static_cast<unsigned>(width))));
    putSized(count, width);
  }

  // The references from `first` on, written and dropped.
  void putRefs(std::size_t first) {
    for (std::size_t i = first; i < refs_.size(); ++i)
      putSized(refs_[i], refSize_);
    refs_.resize(first);
  }

  void putSized(std::uint64_t v, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
      out_.push_back(static_cast<std::uint8_t>((v >> shift) & 0xff));
  }

  static void putBigEndian(std::uint8_t* at, std::uint64_t v) {
    for (int i = 7; i >= 0; --i) {
      at[i] = static_cast<std::uint8_t>(v & 0xff);
      v >>= 8;
    }
  }

  void append(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), bytes, bytes + size);
  }

  base::Error fail(ErrorCode code, std::string_view what) const {
    std::string path;
    for (const Segment& segment : path_) {
      if (const auto* i = std::get_if<std::size_t>(&segment)) {
        path = indexPath(path, *i);
      } else {
        path = keyPath(path, std::get<std::string_view>(segment));
      }
    }
    return failAt(path, code, what);
  }

  int refSize_;
  base::Bytes out_;
  std::vector<std::uint64_t> offsets_;
  // References of the containers being written, innermost last.
  std::vector<std::uint64_t> refs_;
  std::unordered_map<std::string_view, std::uint64_t> strings_;
  // Repaired copies of text that was not UTF-8 (stable addresses).
  std::deque<std::string> repaired_;
  std::vector<Segment> path_;
};

}  // namespace

base::Result<base::Bytes> writeBinaryPropertyList(const Value& value) {
  Extent extent;
  measure(value, 0, extent);
  return Writer(extent).run(value);
}

}  // namespace coding::detail
