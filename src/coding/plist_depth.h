#pragma once

// Limits of property-list data checked without reading it into a tree. XML is
// checked before it reaches libplist, which recurses once per level of
// nesting (so deep input overflows the stack). The binary reader applies the
// same limits as it reads; when a binary list fails, the check tells data
// beyond the limits from otherwise malformed data, for the error's wording.
// Internal to the property-list backend.

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace coding::detail {

// The big-endian unsigned integer of `size` bytes (1 to 8) at `p`, as binary
// property lists store counts, offsets and references.
inline std::uint64_t readBigEndian(const std::uint8_t* p, unsigned size) {
  switch (size) {
    case 1:
      return p[0];
    case 2:
      return (std::uint64_t{p[0]} << 8) | p[1];
    case 4: {
      std::uint32_t v = 0;
      std::memcpy(&v, p, 4);
      return __builtin_bswap32(v);
    }
    case 8: {
      std::uint64_t v = 0;
      std::memcpy(&v, p, 8);
      return __builtin_bswap64(v);
    }
    default: {
      std::uint64_t v = 0;
      for (unsigned i = 0; i < size; ++i)
        v = (v << 8) | p[i];
      return v;
    }
  }
}

// The trailer of a binary property list ("bplist00"), checked: offsets and
// references 1 to 8 bytes wide, at least one object, the top one among them,
// and the offset table between the header and the trailer.
struct BinaryPlistTrailer {
  unsigned offsetSize = 0;
  unsigned refSize = 0;
  std::uint64_t objects = 0;
  std::uint64_t top = 0;
  std::uint64_t offsetTable = 0;
};
std::optional<BinaryPlistTrailer> readBinaryPlistTrailer(std::span<const std::uint8_t> data);

struct PlistLimits {
  // Containers nested inside one another, the outermost counted as 1.
  int maxDepth = 0;
  // Objects after shared ones are copied into every container that refers
  // to them (dictionary keys included): what the parsed tree will hold.
  std::uint64_t maxNodes = 0;
};

// True when the binary property list `data` ("bplist00...") is well formed
// enough to walk, stays within `limits`, and holds no string (key or value,
// ASCII or UTF-16) with a NUL character. Each object is visited once, so the
// check is linear in the size of the data; a reference cycle fails.
bool binaryPlistWithinLimits(std::span<const std::uint8_t> data, PlistLimits limits);

// True when the XML text nests elements at most `maxDepth` deep and holds no
// NUL byte (which XML does not allow anywhere). Comments, CDATA sections,
// declarations and processing instructions are skipped. An XML property list
// holds no shared objects, so its size bounds its tree.
bool xmlPlistWithinLimits(std::span<const std::uint8_t> data, int maxDepth);

}  // namespace coding::detail
