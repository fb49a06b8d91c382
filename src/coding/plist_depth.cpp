#include "coding/plist_depth.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace coding::detail {
namespace {

struct BinaryPlist {
  std::span<const std::uint8_t> data;
  unsigned offsetSize = 0;
  unsigned refSize = 0;
  std::uint64_t objectCount = 0;
  std::uint64_t topObject = 0;
  std::uint64_t offsetTable = 0;

  bool parseTrailer() {
    const auto trailer = readBinaryPlistTrailer(data);
    if (!trailer) return false;
    offsetSize = trailer->offsetSize;
    refSize = trailer->refSize;
    objectCount = trailer->objects;
    topObject = trailer->top;
    offsetTable = trailer->offsetTable;
    return true;
  }

  bool objectOffset(std::uint64_t index, std::uint64_t* offset) const {
    *offset = readBigEndian(data.data() + offsetTable + index * offsetSize, offsetSize);
    return *offset >= 8 && *offset < offsetTable;
  }

  // The length field of the object at `offset`: the low nibble of its
  // marker, or the integer object that follows when that nibble is 0xF.
  // `pos` is left at the object's contents.
  bool length(std::uint64_t offset, std::uint64_t* count, std::uint64_t* pos) const {
    *count = data[offset] & 0x0F;
    *pos = offset + 1;
    if (*count != 0x0F) return true;
    if (*pos >= offsetTable) return false;
    const std::uint8_t intMarker = data[*pos];
    if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
    const unsigned size = 1u << (intMarker & 0x0F);
    if (size > offsetTable - *pos - 1) return false;
    *count = readBigEndian(data.data() + *pos + 1, size);
    *pos += 1 + size;
    return true;
  }

  // Whether the string at `offset` fits in the object area and holds no NUL
  // character: libplist cuts ASCII text at one and asserts on a UTF-16 key
  // holding U+0000, and such text could never be written back.
  bool stringAcceptable(std::uint64_t offset, unsigned unitSize) const {
    std::uint64_t count = 0;
    std::uint64_t pos = 0;
    if (!length(offset, &count, &pos)) return false;
    if (count > (offsetTable - pos) / unitSize) return false;
    const std::uint8_t* text = data.data() + pos;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t* unit = text + i * unitSize;
      if (unit[0] == 0 && (unitSize == 1 || unit[1] == 0)) return false;
    }
    return true;
  }

  // The references held by the container at `offset` (none for other
  // objects). False when the object runs past the object area, or is a
  // string that cannot be accepted.
  bool children(std::uint64_t offset, std::vector<std::uint64_t>* refs, bool* container) const {
    refs->clear();
    const unsigned kind = data[offset] >> 4;
    *container = kind == 0xA || kind == 0xC || kind == 0xD;
    if (kind == 0x5) return stringAcceptable(offset, 1);
    if (kind == 0x6) return stringAcceptable(offset, 2);
    if (!*container) return true;
    std::uint64_t count = 0;
    std::uint64_t pos = 0;
    if (!length(offset, &count, &pos)) return false;
    const std::uint64_t slots = kind == 0xD ? 2 : 1;
    const std::uint64_t room = (offsetTable - pos) / refSize;
    if (count > room / slots) return false;
    refs->reserve(count * slots);
    for (std::uint64_t i = 0; i < count * slots; ++i) {
      std::uint64_t ref = readBigEndian(data.data() + pos + i * refSize, refSize);
      if (ref >= objectCount) return false;
      refs->push_back(ref);
    }
    return true;
  }
};

}  // namespace

std::optional<BinaryPlistTrailer> readBinaryPlistTrailer(std::span<const std::uint8_t> data) {
  if (data.size() < 8 + 32 || std::memcmp(data.data(), "bplist00", 8) != 0) return std::nullopt;
  const std::uint8_t* t = data.data() + data.size() - 32;
  BinaryPlistTrailer trailer;
  trailer.offsetSize = t[6];
  trailer.refSize = t[7];
  trailer.objects = readBigEndian(t + 8, 8);
  trailer.top = readBigEndian(t + 16, 8);
  trailer.offsetTable = readBigEndian(t + 24, 8);
  if (trailer.offsetSize < 1 || trailer.offsetSize > 8 || trailer.refSize < 1 ||
      trailer.refSize > 8) {
    return std::nullopt;
  }
  if (trailer.objects == 0 || trailer.top >= trailer.objects) return std::nullopt;
  const std::uint64_t limit = data.size() - 32;
  if (trailer.offsetTable < 8 || trailer.offsetTable > limit) return std::nullopt;
  if (trailer.objects > (limit - trailer.offsetTable) / trailer.offsetSize) return std::nullopt;
  return trailer;
}

bool binaryPlistWithinLimits(std::span<const std::uint8_t> data, PlistLimits limits) {
  BinaryPlist plist{data};
  if (!plist.parseTrailer()) return false;

  // Depth-first walk with an explicit stack. Each object's height (containers
  // below it, itself included) and expanded size (itself and, counted once per
  // reference, everything below it) are computed once; an object met again
  // while it is still open is a cycle. Sizes saturate just above the limit.
  enum : std::uint8_t { unvisited, opened, closed };
  std::vector<std::uint8_t> state(plist.objectCount, unvisited);
  std::vector<int> height(plist.objectCount, 0);
  std::vector<std::uint64_t> nodes(plist.objectCount, 0);
  struct Frame {
    std::uint64_t object;
    std::vector<std::uint64_t> refs;
    bool container = false;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  auto open = [&](std::uint64_t object) {
    std::uint64_t offset = 0;
    if (!plist.objectOffset(object, &offset)) return false;
    Frame frame{object, {}};
    if (!plist.children(offset, &frame.refs, &frame.container)) return false;
    state[object] = opened;
    stack.push_back(std::move(frame));
    return static_cast<int>(stack.size()) <= limits.maxDepth + 1;
  };
  if (!open(plist.topObject)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.refs.size()) {
      int below = 0;
      std::uint64_t size = 1;
      for (std::uint64_t ref : frame.refs) {
        below = std::max(below, height[ref]);
        size = std::min(size + nodes[ref], limits.maxNodes + 1);
      }
      height[frame.object] = below + (frame.container ? 1 : 0);
      nodes[frame.object] = size;
      state[frame.object] = closed;
      if (height[frame.object] > limits.maxDepth || size > limits.maxNodes) return false;
      stack.pop_back();
      continue;
    }
    const std::uint64_t child = frame.refs[frame.next++];
    if (state[child] == opened) return false;
    if (state[child] == closed) continue;
    if (!open(child)) return false;
  }
  return true;
}

bool xmlPlistWithinLimits(std::span<const std::uint8_t> data, int maxDepth) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.find('\0') != std::string_view::npos) return false;
  int depth = 0;
  std::size_t pos = 0;
  while ((pos = text.find('<', pos)) != std::string_view::npos) {
    std::string_view rest = text.substr(pos);
    std::string_view close;
    if (rest.starts_with("<!--")) {
      close = "-->";
    } else if (rest.starts_with("<![CDATA[")) {
      close = "]]>";
    } else if (rest.starts_with("<?")) {
      close = "?>";
    } else {
      close = ">";
    }
    std::size_t end = text.find(close, pos + 1);
    if (end == std::string_view::npos) return true;  // unterminated: the parser rejects it
    std::string_view tag = text.substr(pos, end - pos);
    if (close == ">" && tag.size() >= 2 && tag[1] != '!') {
      if (tag[1] == '/') {
        --depth;
      } else if (tag.back() != '/') {
        if (++depth > maxDepth) return false;
      }
    }
    pos = end + close.size();
  }
  return true;
}

}  // namespace coding::detail
