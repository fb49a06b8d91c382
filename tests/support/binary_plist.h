#pragma once

// Hand-made binary property lists for tests of what readers do with hostile
// files.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace support {

// `v` big-endian in `size` bytes (zeros above its 8).
inline std::string bigEndian(std::uint64_t v, unsigned size) {
  std::string out;
  for (int i = static_cast<int>(size) - 1; i >= 0; --i)
    out.push_back(i >= 8 ? '\0' : static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

// A binary property list of the given encoded objects, object 0 on top, with
// offsets `offsetSize` bytes wide and a trailer declaring references
// `refSize` bytes wide (the objects hold their references already encoded).
inline std::string binaryPlist(const std::vector<std::string>& objects, unsigned offsetSize,
                               unsigned refSize) {
  std::string out = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table += bigEndian(out.size(), offsetSize);
    out += object;
  }
  const std::size_t tableOffset = out.size();
  out += table;
  out += std::string(6, '\0');
  out.push_back(static_cast<char>(offsetSize));
  out.push_back(static_cast<char>(refSize));
  out += bigEndian(objects.size(), 8) + bigEndian(0, 8) + bigEndian(tableOffset, 8);
  return out;
}

// As above, offsets two bytes wide and references one byte.
inline std::string binaryPlist(const std::vector<std::string>& objects) {
  return binaryPlist(objects, 2, 1);
}

// Objects 0 to depth-1 each an array holding the next object twice, the last
// one an integer: the tree expands to 2^(depth+1) - 1 objects.
inline std::string sharedChainPlist(int depth) {
  std::vector<std::string> objects;
  for (int k = 0; k < depth; ++k)
    objects.push_back({'\xA2', static_cast<char>(k + 1), static_cast<char>(k + 1)});
  objects.push_back("\x10\x07");
  return binaryPlist(objects);
}

inline std::string fromHex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

// Found by fuzzing: a dictionary whose one key is "a" and U+0000 in UTF-16,
// on which libplist asserts.
inline const std::string kNulKeyPlist = fromHex(
    "62706c6973743030d10102620061000009080b1000000000000001010000000000000003000000"
    "00000000000000000000000011");

}  // namespace support
