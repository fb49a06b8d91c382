#include "coding/plist.h"

#include <plist/plist.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "base/utf8.h"
#include "coding/coding_error.h"
#include "coding/plist_binary_reader.h"
#include "coding/plist_binary_writer.h"
#include "coding/plist_date.h"
#include "coding/plist_depth.h"

namespace coding {
namespace {

using detail::secondsSinceReferenceDate;
using detail::timeFromReferenceSeconds;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, PlistDeleter>;

void putBigEndian64(std::uint8_t* out, std::uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(v & 0xff);
    v >>= 8;
  }
}

std::uint64_t getBigEndian64(const std::uint8_t* in) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i)
    v = (v << 8) | in[i];
  return v;
}

// libplist's own date setters take whole seconds as int32 (years 1933-2069)
// and its getter loses the sign of a fraction just before 2001. Its binary
// reader and writer carry the exact double, so dates go through a
// one-object binary property list: header, the date object (0x33 and a
// big-endian double), a one-entry offset table and the trailer.
Node newDateNode(double seconds) {
  std::array<std::uint8_t, 50> bin{};
  std::memcpy(bin.data(), "bplist00", 8);
  bin[8] = 0x33;
  putBigEndian64(&bin[9], std::bit_cast<std::uint64_t>(seconds));
  bin[17] = 8;  // offset of object 0
  std::uint8_t* trailer = &bin[18];
  trailer[6] = 1;                    // offset size
  trailer[7] = 1;                    // object reference size
  putBigEndian64(&trailer[8], 1);    // object count
  putBigEndian64(&trailer[16], 0);   // top object
  putBigEndian64(&trailer[24], 17);  // offset table position
  plist_t node = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(bin.data()), bin.size(), &node);
  return Node(node);
}

std::optional<double> dateSeconds(plist_t node) {
  Node copy(plist_copy(node));
  char* out = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(copy.get(), &out, &length);
  std::optional<double> seconds;
  if (out && length >= 17 && static_cast<std::uint8_t>(out[8]) == 0x33) {
    seconds = std::bit_cast<double>(getBigEndian64(reinterpret_cast<std::uint8_t*>(out) + 9));
  }
  if (out) plist_to_bin_free(out);
  return seconds;
}

// libplist takes C strings: a NUL inside would cut the text short silently.
base::Result<std::string> plistText(std::string_view text, const std::string& path) {
  if (text.find('\0') != std::string_view::npos) {
    return failAt(path, ErrorCode::invalidValue, "text with a NUL character");
  }
  return base::repairUtf8(text);
}

// XML dates hold whole seconds; libplist cuts fractions toward 2001, so they
// are floored here first, as time is truncated elsewhere.
struct WriteOptions {
  bool wholeSecondDates = false;
};

base::Result<Node> toNode(const Value& value, const std::string& path, int depth,
                          WriteOptions options) {
  if (depth > kMaxDepth) return failAt(path, ErrorCode::invalidValue, "nesting too deep");
  switch (value.type()) {
    case Type::null:
      return failAt(path, ErrorCode::invalidValue, "a property list cannot hold null");
    case Type::boolean:
      return Node(plist_new_bool(*value.getIf<bool>() ? 1 : 0));
    case Type::int64:
      return Node(plist_new_uint(static_cast<std::uint64_t>(*value.getIf<std::int64_t>())));
    case Type::uint64:
      return Node(plist_new_uint(*value.getIf<std::uint64_t>()));
    case Type::real:
      return Node(plist_new_real(*value.getIf<double>()));
    case Type::string: {
      auto text = plistText(*value.getIf<std::string>(), path);
      if (!text) return text.error();
      return Node(plist_new_string(text->c_str()));
    }
    case Type::bytes: {
      const auto& bytes = *value.getIf<base::Bytes>();
      return Node(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    case Type::date: {
      double seconds = secondsSinceReferenceDate(*value.getIf<base::Time>());
      if (options.wholeSecondDates) seconds = std::floor(seconds);
      Node node = newDateNode(seconds);
      if (!node) return failAt(path, ErrorCode::invalidValue, "date cannot be written");
      return node;
    }
    case Type::url: {
      auto text = plistText(value.getIf<base::Url>()->absoluteString(), path);
      if (!text) return text.error();
      Node dict(plist_new_dict());
      plist_dict_set_item(dict.get(), "relative", plist_new_string(text->c_str()));
      return dict;
    }
    case Type::array: {
      Node array(plist_new_array());
      const Array& elements = *value.getIf<Array>();
      for (std::size_t i = 0; i < elements.size(); ++i) {
        auto element = toNode(elements[i], indexPath(path, i), depth + 1, options);
        if (!element) return element.error();
        plist_array_append_item(array.get(), element->release());
      }
      return array;
    }
    case Type::dictionary: {
      Node dict(plist_new_dict());
      for (const auto& [key, member] : *value.getIf<Dictionary>()) {
        std::string memberPath = keyPath(path, key);
        auto keyText = plistText(key, memberPath);
        if (!keyText) return keyText.error();
        auto element = toNode(member, memberPath, depth + 1, options);
        if (!element) return element.error();
        plist_dict_set_item(dict.get(), keyText->c_str(), element->release());
      }
      return dict;
    }
  }
  return failAt(path, ErrorCode::invalidValue, "unknown value type");
}

base::Result<Value> fromNode(plist_t node, const std::string& path, int depth) {
  if (depth > kMaxDepth) return failAt(path, ErrorCode::invalidInput, "nesting too deep");
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (!text) return Value(std::string());
      return Value(base::repairUtf8(std::string_view(text, length)));
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* data = plist_get_data_ptr(node, &length);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
      return Value(data ? base::Bytes(bytes, bytes + length) : base::Bytes());
    }
    case PLIST_DATE: {
      auto seconds = dateSeconds(node);
      std::optional<base::Time> time;
      if (seconds) time = timeFromReferenceSeconds(*seconds);
      if (!time) return failAt(path, ErrorCode::invalidInput, "date out of range");
      return Value(*time);
    }
    case PLIST_ARRAY: {
      Array array;
      std::uint32_t size = plist_array_get_size(node);
      array.reserve(size);
      // By iterator: reading element i by index walks the list to it.
      plist_array_iter iter = nullptr;
      plist_array_new_iter(node, &iter);
      std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
      for (std::uint32_t i = 0; i < size; ++i) {
        plist_t item = nullptr;
        if (iter) plist_array_next_item(node, iter, &item);
        if (!item) return failAt(indexPath(path, i), ErrorCode::invalidInput, "missing element");
        auto element = fromNode(item, indexPath(path, i), depth + 1);
        if (!element) return element.error();
        array.push_back(std::move(element).value());
      }
      return Value(std::move(array));
    }
    case PLIST_DICT: {
      Dictionary dict;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
      while (iter) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &rawKey, &item);
        std::unique_ptr<char, decltype(&std::free)> keyOwner(rawKey, &std::free);
        if (!item) break;
        std::string key = base::repairUtf8(rawKey ? rawKey : "");
        auto element = fromNode(item, keyPath(path, key), depth + 1);
        if (!element) return element.error();
        dict.set(std::move(key), std::move(element).value());
      }
      return Value(std::move(dict));
    }
    case PLIST_UID:
      return failAt(path, ErrorCode::invalidInput, "unsupported keyed-archive reference");
    case PLIST_NONE:
      break;
  }
  return failAt(path, ErrorCode::invalidInput, "unsupported property-list value");
}

}  // namespace

std::vector<std::span<const std::uint8_t>> PlistPieces::spans() const {
  std::vector<std::span<const std::uint8_t>> out;
  out.reserve(2 * data.size() + 1);
  std::size_t from = 0;
  for (const auto& [at, piece] : data) {
    out.emplace_back(bytes.data() + from, at - from);
    out.push_back(piece);
    from = at;
  }
  out.emplace_back(bytes.data() + from, bytes.size() - from);
  return out;
}

base::Result<PlistPieces> encodeBinaryPropertyListPieces(const Value& value,
                                                         std::size_t inlineLimit) {
  return detail::writeBinaryPropertyListPieces(value, inlineLimit);
}

base::Result<base::Bytes> encodePropertyList(const Value& value, PlistFormat format) {
  if (format == PlistFormat::binary) return detail::writeBinaryPropertyList(value);
  auto root = toNode(value, "", 0, WriteOptions{format == PlistFormat::xml});
  if (!root) return root.error();
  char* out = nullptr;
  std::uint32_t length = 0;
  if (format == PlistFormat::binary) {
    plist_to_bin(root->get(), &out, &length);
  } else {
    plist_to_xml(root->get(), &out, &length);
  }
  if (!out || length == 0) {
    if (out) (format == PlistFormat::binary ? plist_to_bin_free : plist_to_xml_free)(out);
    return makeError(ErrorCode::invalidValue, "<root>: property list could not be written");
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(out);
  base::Bytes result(bytes, bytes + length);
  (format == PlistFormat::binary ? plist_to_bin_free : plist_to_xml_free)(out);
  return result;
}

base::Result<Value> decodePropertyList(std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) {
    return makeError(ErrorCode::invalidInput, "<root>: not a property list");
  }
  if (data.size() >= 8 && std::memcmp(data.data(), "bplist00", 8) == 0) {
    return detail::readBinaryPropertyList(data);
  }
  // XML goes through libplist. Refuse what it cannot take safely before it
  // sees it: deep nesting (its reader and release recurse) and NUL characters.
  if (!detail::xmlPlistWithinLimits(data, kMaxDepth + 1)) {
    return makeError(ErrorCode::invalidInput,
                     "<root>: not a property list, too large, or nested too deep");
  }
  plist_t raw = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(data.data()),
                    static_cast<std::uint32_t>(data.size()), &raw);
  Node root(raw);
  if (!root) return makeError(ErrorCode::invalidInput, "<root>: not a property list");
  return fromNode(root.get(), "", 0);
}

base::Result<Value> decodePropertyList(std::string_view data) {
  return decodePropertyList(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

}  // namespace coding
