#include "coding/plist_depth.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace coding::detail {
namespace {

// Reads a big-endian unsigned integer of `size` bytes (1 to 8).
std::uint64_t readBE(const std::uint8_t* p, unsigned size) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < size; ++i)
    v = (v << 8) | p[i];
  return v;
}

struct BinaryPlist {
  std::span<const std::uint8_t> data;
  unsigned offsetSize = 0;
  unsigned refSize = 0;
  std::uint64_t objectCount = 0;
  std::uint64_t topObject = 0;
  std::uint64_t offsetTable = 0;

  bool parseTrailer() {
    if (data.size() < 8 + 32 || std::memcmp(data.data(), "bplist00", 8) != 0) return false;
    const std::uint8_t* t = data.data() + data.size() - 32;
    offsetSize = t[6];
    refSize = t[7];
    objectCount = readBE(t + 8, 8);
    topObject = readBE(t + 16, 8);
    offsetTable = readBE(t + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return false;
    if (objectCount == 0 || topObject >= objectCount) return false;
    const std::uint64_t limit = data.size() - 32;
    if (offsetTable < 8 || offsetTable > limit) return false;
    if (objectCount > (limit - offsetTable) / offsetSize) return false;
    return true;
  }

  bool objectOffset(std::uint64_t index, std::uint64_t* offset) const {
    *offset = readBE(data.data() + offsetTable + index * offsetSize, offsetSize);
    return *offset >= 8 && *offset < offsetTable;
  }

  // The references held by the container at `offset` (none for scalars).
  // False when the object runs past the object area.
  bool children(std::uint64_t offset, std::vector<std::uint64_t>* refs, bool* container) const {
    refs->clear();
    const std::uint8_t marker = data[offset];
    const unsigned kind = marker >> 4;
    std::uint64_t count = marker & 0x0F;
    std::uint64_t pos = offset + 1;
    *container = kind == 0xA || kind == 0xC || kind == 0xD;
    if (!*container) return true;
    if (count == 0x0F) {
      if (pos >= offsetTable) return false;
      const std::uint8_t intMarker = data[pos];
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
      const unsigned size = 1u << (intMarker & 0x0F);
      if (size > offsetTable - pos - 1) return false;
      count = readBE(data.data() + pos + 1, size);
      pos += 1 + size;
    }
    const std::uint64_t slots = kind == 0xD ? 2 : 1;
    const std::uint64_t room = (offsetTable - pos) / refSize;
    if (count > room / slots) return false;
    refs->reserve(count * slots);
    for (std::uint64_t i = 0; i < count * slots; ++i) {
      std::uint64_t ref = readBE(data.data() + pos + i * refSize, refSize);
      if (ref >= objectCount) return false;
      refs->push_back(ref);
    }
    return true;
  }
};

}  // namespace

bool binaryPlistDepthWithin(std::span<const std::uint8_t> data, int maxDepth) {
  BinaryPlist plist{data};
  if (!plist.parseTrailer()) return false;

  // Depth-first walk with an explicit stack. Each object's height (containers
  // below it, itself included) is computed once; an object met again while it
  // is still open is a cycle.
  enum : std::uint8_t { unvisited, opened, closed };
  std::vector<std::uint8_t> state(plist.objectCount, unvisited);
  std::vector<int> height(plist.objectCount, 0);
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
    return static_cast<int>(stack.size()) <= maxDepth + 1;
  };
  if (!open(plist.topObject)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.refs.size()) {
      int below = 0;
      for (std::uint64_t ref : frame.refs)
        below = std::max(below, height[ref]);
      height[frame.object] = below + (frame.container ? 1 : 0);
      state[frame.object] = closed;
      if (height[frame.object] > maxDepth) return false;
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

bool xmlDepthWithin(std::span<const std::uint8_t> data, int maxDepth) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
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
