#pragma once

// Little-endian byte strings of DWARF call-frame data for tests: numbers,
// LEB128, and CIE and FDE entries with their length fields filled in.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tlcrash::testing {

class Bytes {
 public:
  Bytes() = default;
  Bytes(std::initializer_list<std::uint8_t> bytes) : data_(bytes) {}
  explicit Bytes(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}

  Bytes& u8(std::uint64_t v) { return put(v, 1); }
  Bytes& u16(std::uint64_t v) { return put(v, 2); }
  Bytes& u32(std::uint64_t v) { return put(v, 4); }
  Bytes& u64(std::uint64_t v) { return put(v, 8); }
  Bytes& uleb(std::uint64_t v) {
    do {
      std::uint8_t byte = v & 0x7F;
      v >>= 7;
      if (v != 0) byte |= 0x80;
      data_.push_back(byte);
    } while (v != 0);
    return *this;
  }
  Bytes& sleb(std::int64_t v) {
    bool more = true;
    while (more) {
      std::uint8_t byte = v & 0x7F;
      v >>= 7;
      more = !((v == 0 && (byte & 0x40) == 0) || (v == -1 && (byte & 0x40) != 0));
      if (more) byte |= 0x80;
      data_.push_back(byte);
    }
    return *this;
  }
  Bytes& str(const std::string& s) {
    data_.insert(data_.end(), s.begin(), s.end());
    data_.push_back(0);
    return *this;
  }
  Bytes& add(const Bytes& other) {
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
    return *this;
  }
  // Patches `size` bytes at `offset`.
  void set(std::size_t offset, std::uint64_t v, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
      data_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }

  std::size_t size() const { return data_.size(); }
  const std::vector<std::uint8_t>& data() const { return data_; }
  std::vector<std::uint8_t>& data() { return data_; }

 private:
  Bytes& put(std::uint64_t v, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
      data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<std::uint8_t> data_;
};

// The fields of a CIE.
struct Cie {
  std::uint8_t version = 1;
  std::string augmentation = "zR";
  // The augmentation data after the "z" fields' values: built by the caller
  // when set, else the R encoding alone for "zR".
  std::vector<std::uint8_t> augmentationData = {0x1B};
  std::uint64_t codeAlign = 1;
  std::int64_t dataAlign = -8;
  std::uint64_t returnRegister = 16;
  std::uint8_t addressSize = 8;  // version 4
  std::uint8_t segmentSize = 0;  // version 4
  Bytes instructions;
  bool dwarf64 = false;
  bool debugFrame = false;  // CIE id all ones instead of 0
};

// A call-frame section under construction at a known target address.
class Section {
 public:
  explicit Section(std::uint64_t address) : address_(address) {}

  std::uint64_t address() const { return address_; }
  // The target address of the next byte.
  std::uint64_t here() const { return address_ + bytes_.size(); }
  Bytes& bytes() { return bytes_; }

  // Appends a CIE; answers its offset (of the length field).
  std::size_t cie(const Cie& cie) {
    const std::size_t start = bytes_.size();
    Bytes body;
    if (cie.dwarf64)
      body.u64(cie.debugFrame ? ~std::uint64_t{0} : 0);
    else
      body.u32(cie.debugFrame ? 0xFFFFFFFF : 0);
    body.u8(cie.version).str(cie.augmentation);
    if (cie.version == 4) body.u8(cie.addressSize).u8(cie.segmentSize);
    body.uleb(cie.codeAlign).sleb(cie.dataAlign).uleb(cie.returnRegister);
    if (!cie.augmentation.empty() && cie.augmentation[0] == 'z') {
      body.uleb(cie.augmentationData.size());
      for (std::uint8_t b : cie.augmentationData)
        body.u8(b);
    }
    body.add(cie.instructions);
    entry(body, cie.dwarf64);
    return start;
  }

  // Appends an FDE whose CIE is at `cieOffset`, with PC start and range as
  // 32-bit PC-relative (0x1B) fields or, with `absolute`, 8-byte words
  // (`absoluteSize` 4 for 32-bit targets). Answers its offset.
  std::size_t fde(std::size_t cieOffset, std::uint64_t pcStart, std::uint64_t pcRange,
                  const Bytes& instructions, bool augmentation = true, bool absolute = false,
                  bool dwarf64 = false, bool debugFrame = false, std::size_t absoluteSize = 8) {
    const std::size_t start = bytes_.size();
    const std::size_t header = dwarf64 ? 12 : 4;
    const std::uint64_t pointerField = address_ + start + header;
    const std::size_t idSize = dwarf64 ? 8 : 4;
    Bytes body;
    const std::uint64_t cieValue = debugFrame ? cieOffset : pointerField - (address_ + cieOffset);
    if (dwarf64)
      body.u64(cieValue);
    else
      body.u32(cieValue);
    if (absolute) {
      if (absoluteSize == 8)
        body.u64(pcStart).u64(pcRange);
      else
        body.u32(pcStart).u32(pcRange);
    } else {
      body.u32(pcStart - (pointerField + idSize)).u32(pcRange);
    }
    if (augmentation) body.uleb(0);
    body.add(instructions);
    entry(body, dwarf64);
    return start;
  }

  // Appends an entry of length 0, which ends a search.
  void terminator() { bytes_.u32(0); }

 private:
  void entry(const Bytes& body, bool dwarf64) {
    if (dwarf64)
      bytes_.u32(0xFFFFFFFF).u64(body.size());
    else
      bytes_.u32(body.size());
    bytes_.add(body);
  }

  std::uint64_t address_;
  Bytes bytes_;
};

}  // namespace tlcrash::testing
