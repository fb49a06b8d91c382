#include "coding/plist_array_edit.h"

#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "coding/coding_error.h"
#include "coding/plist.h"
#include "coding/plist_depth.h"

namespace coding {
namespace {

constexpr std::size_t kTrailerSize = 32;

base::Error malformed(const std::string& what) {
  return makeError(ErrorCode::invalidInput, "binary property list: " + what);
}

std::uint64_t readBigEndian(const std::uint8_t* at, int width) {
  return detail::readBigEndian(at, static_cast<unsigned>(width));
}

void appendBigEndian(base::Bytes& out, std::uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i)
    out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

int widthOf(std::uint64_t v) {
  if (v <= 0xff) return 1;
  if (v <= 0xffff) return 2;
  if (v <= 0xffffffff) return 4;
  return 8;
}

// The parts of a binary property list this edit needs.
struct Document {
  std::span<const std::uint8_t> bytes;
  int offsetSize = 0;
  int refSize = 0;
  std::uint64_t objects = 0;
  std::uint64_t top = 0;
  std::uint64_t tableOffset = 0;

  std::uint64_t offsetOf(std::uint64_t object) const {
    return readBigEndian(bytes.data() + tableOffset + object * offsetSize, offsetSize);
  }
};

base::Result<Document> readDocument(std::span<const std::uint8_t> bytes) {
  const auto trailer = detail::readBinaryPlistTrailer(bytes);
  if (!trailer) return malformed("bad header or trailer");
  return Document{bytes,
                  static_cast<int>(trailer->offsetSize),
                  static_cast<int>(trailer->refSize),
                  trailer->objects,
                  trailer->top,
                  trailer->offsetTable};
}

// Where an object's references are, and its length.
struct Shape {
  std::uint64_t length = 0;
  std::uint64_t refsAt = 0;  // from the object's start
  std::uint64_t refs = 0;
};

// The shape of the object at `at`, which must end by `limit`.
base::Result<Shape> shapeAt(std::span<const std::uint8_t> bytes, std::uint64_t at,
                            std::uint64_t limit, int refSize) {
  if (at >= limit) return malformed("object out of range");
  const std::uint8_t marker = bytes[at];
  const int type = marker >> 4;
  const int low = marker & 0x0f;
  Shape s;
  // A count in the low nibble, or after it as an integer object.
  auto count = [&](std::uint64_t& header) -> base::Result<std::uint64_t> {
    header = 1;
    if (low != 0x0f) return static_cast<std::uint64_t>(low);
    if (at + 1 >= limit || (bytes[at + 1] >> 4) != 0x1 || (bytes[at + 1] & 0x0f) > 3) {
      return malformed("bad count");
    }
    const int width = 1 << (bytes[at + 1] & 0x0f);
    if (at + 2 + static_cast<std::uint64_t>(width) > limit) return malformed("bad count");
    header = 2 + static_cast<std::uint64_t>(width);
    return readBigEndian(bytes.data() + at + 2, width);
  };
  std::uint64_t header = 1;
  std::uint64_t units = 0;
  std::uint64_t unitSize = 1;
  switch (type) {
    case 0x0:
      if (low != 0x0 && low != 0x8 && low != 0x9 && low != 0xf) return malformed("bad marker");
      break;
    case 0x1:
    case 0x2:
      if (low > 4) return malformed("bad number");
      units = std::uint64_t{1} << low;
      break;
    case 0x3:
      if (low != 3) return malformed("bad date");
      units = 8;
      break;
    case 0x8:
      units = static_cast<std::uint64_t>(low) + 1;
      break;
    case 0x4:
    case 0x5:
    case 0x6:
    case 0xa:
    case 0xc:
    case 0xd: {
      auto n = count(header);
      if (!n) return n.error();
      units = *n;
      if (type == 0x6) unitSize = 2;
      if (type >= 0xa) {
        unitSize = static_cast<std::uint64_t>(refSize);
        s.refsAt = header;
        s.refs = type == 0xd ? 2 * units : units;
        units = s.refs;
      }
      break;
    }
    default:
      return malformed("bad marker");
  }
  if (units > (limit - at - header) / unitSize) return malformed("object out of range");
  s.length = header + units * unitSize;
  return s;
}

// A count after a type marker, as the writer puts it.
void appendMarker(base::Bytes& out, std::uint8_t type, std::uint64_t count) {
  if (count < 0x0f) {
    out.push_back(static_cast<std::uint8_t>(type | count));
    return;
  }
  out.push_back(static_cast<std::uint8_t>(type | 0x0f));
  const int width = widthOf(count);
  out.push_back(static_cast<std::uint8_t>(0x10 | std::countr_zero(static_cast<unsigned>(width))));
  appendBigEndian(out, count, width);
}

}  // namespace

std::optional<std::size_t> binaryPlistArrayCount(std::span<const std::uint8_t> plist) {
  auto doc = readDocument(plist);
  if (!doc) return std::nullopt;
  const std::uint64_t at = doc->offsetOf(doc->top);
  auto shape = shapeAt(plist, at, doc->tableOffset, doc->refSize);
  if (!shape || (plist[at] >> 4) != 0xa) return std::nullopt;
  return static_cast<std::size_t>(shape->refs);
}

base::Result<EditedPlist> editBinaryPlistArray(std::span<const std::uint8_t> previous,
                                               std::span<const PlistArrayElement> elements) {
  auto doc = readDocument(previous);
  if (!doc) return doc.error();
  const std::uint64_t topAt = doc->offsetOf(doc->top);
  auto topShape = shapeAt(previous, topAt, doc->tableOffset, doc->refSize);
  if (!topShape) return topShape.error();
  if ((previous[topAt] >> 4) != 0xa) return malformed("the top object is no array");
  const std::uint8_t* topRefs = previous.data() + topAt + topShape->refsAt;

  // The earlier objects stay as they are; after them come each new
  // element's objects, written to `out` from offset `start` on.
  const std::uint64_t start = doc->tableOffset;
  base::Bytes out;
  std::vector<std::uint64_t> newOffsets;
  std::vector<std::uint64_t> refs;
  refs.reserve(elements.size());
  const std::uint64_t refLimit = doc->refSize == 8 ? std::numeric_limits<std::uint64_t>::max()
                                                   : (std::uint64_t{1} << (8 * doc->refSize)) - 1;
  for (const PlistArrayElement& element : elements) {
    if (element.previousIndex) {
      if (*element.previousIndex >= topShape->refs) return malformed("element out of range");
      refs.push_back(readBigEndian(topRefs + *element.previousIndex * doc->refSize, doc->refSize));
      continue;
    }
    if (!element.value) return malformed("no element");
    auto alone = encodePropertyList(*element.value, PlistFormat::binary);
    if (!alone) return alone.error();
    auto part = readDocument(*alone);
    if (!part) return part.error();
    const std::uint64_t base = doc->objects + newOffsets.size();
    if (base + part->objects > refLimit) return malformed("too many objects for the references");
    for (std::uint64_t i = 0; i < part->objects; ++i) {
      const std::uint64_t at = part->offsetOf(i);
      auto shape = shapeAt(*alone, at, part->tableOffset, part->refSize);
      if (!shape) return shape.error();
      newOffsets.push_back(start + out.size());
      const std::uint8_t* object = alone->data() + at;
      if (shape->refs == 0) {
        out.insert(out.end(), object, object + shape->length);
        continue;
      }
      out.insert(out.end(), object, object + shape->refsAt);
      for (std::uint64_t r = 0; r < shape->refs; ++r) {
        const std::uint64_t ref =
            readBigEndian(object + shape->refsAt + r * part->refSize, part->refSize);
        if (ref >= part->objects) return malformed("reference out of range");
        appendBigEndian(out, base + ref, doc->refSize);
      }
    }
    refs.push_back(base + part->top);
  }

  // The new top array, last.
  const std::uint64_t objects = doc->objects + newOffsets.size() + 1;
  if (objects - 1 > refLimit) return malformed("too many objects for the references");
  newOffsets.push_back(start + out.size());
  appendMarker(out, 0xa0, refs.size());
  for (std::uint64_t ref : refs)
    appendBigEndian(out, ref, doc->refSize);

  const std::uint64_t tableOffset = start + out.size();
  const int offsetSize = widthOf(tableOffset);
  const std::size_t tableSize = objects * static_cast<std::uint64_t>(offsetSize);
  const std::size_t tableAt = out.size();
  out.resize(tableAt + tableSize + kTrailerSize);
  std::uint8_t* at = out.data() + tableAt;
  auto put = [&](std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i)
      *at++ = static_cast<std::uint8_t>(v >> (8 * i));
  };
  if (offsetSize == doc->offsetSize) {
    // The earlier offsets, of the same width, as they are.
    const std::size_t earlier = doc->objects * static_cast<std::uint64_t>(offsetSize);
    std::memcpy(at, previous.data() + doc->tableOffset, earlier);
    at += earlier;
  } else {
    for (std::uint64_t i = 0; i < doc->objects; ++i)
      put(doc->offsetOf(i), offsetSize);
  }
  for (std::uint64_t offset : newOffsets)
    put(offset, offsetSize);
  std::memset(at, 0, 6);
  at += 6;
  *at++ = static_cast<std::uint8_t>(offsetSize);
  *at++ = static_cast<std::uint8_t>(doc->refSize);
  put(objects, 8);
  put(objects - 1, 8);
  put(tableOffset, 8);
  return EditedPlist{std::move(out), static_cast<std::size_t>(doc->tableOffset)};
}

}  // namespace coding
