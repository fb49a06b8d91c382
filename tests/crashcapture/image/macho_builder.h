#pragma once

// Builds small Mach-O images in memory for tests: 32- or 64-bit, in the
// host's byte order or swapped, with segments, sections, a symbol table and
// any raw load command, and with every count, size and offset open to
// damage. The result is laid out as mapped: a segment's file offset is its
// address minus that of the first segment (kTextAddress), so the bytes map
// into a FakeTask as they are.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crashcapture/platform/macho_format.h"

namespace tlcrash::test {

// Values written into the symbol-table command in place of the true ones.
struct MachOSymtabDamage {
  std::optional<std::uint32_t> symoff = std::nullopt;
  std::optional<std::uint32_t> nsyms = std::nullopt;
  std::optional<std::uint32_t> stroff = std::nullopt;
  std::optional<std::uint32_t> strsize = std::nullopt;
};

class MachOBuilder {
 public:
  static constexpr std::uint64_t kTextAddress = 0x1000;
  // Where the symbol table and its strings go (file offset), inside the
  // __LINKEDIT segment of standard().
  static constexpr std::uint64_t kLinkeditOffset = 0x1000;

  struct Section {
    std::string sectname;
    std::string segname;
    std::uint64_t addr = 0;
    std::uint64_t size = 0;
  };

  struct Symbol {
    Symbol(std::string name_, std::uint64_t value_,
           std::uint8_t type_ = macho::N_SECT | macho::N_EXT, std::uint16_t desc_ = 0,
           std::optional<std::uint32_t> strx_ = std::nullopt)
        : name(std::move(name_)), value(value_), type(type_), desc(desc_), strx(strx_) {}

    std::string name;
    std::uint64_t value;
    std::uint8_t type;
    std::uint16_t desc;
    // Replaces the string index the builder gives the name.
    std::optional<std::uint32_t> strx;
  };

  using SymtabDamage = MachOSymtabDamage;

  MachOBuilder(bool is64, bool swapped) : is64_(is64), swapped_(swapped) {}

  // An image with __TEXT (kTextAddress, one page, holding the header) and
  // __LINKEDIT (the page after it), an empty __TEXT,__text section at 0x1800
  // of 0x100 bytes, and `symbols` in its symbol table.
  static MachOBuilder standard(bool is64, bool swapped, std::vector<Symbol> symbols) {
    MachOBuilder builder(is64, swapped);
    builder.segment("__TEXT", kTextAddress, 0x1000, {{"__text", "__TEXT", 0x1800, 0x100}});
    builder.segment("__LINKEDIT", kTextAddress + kLinkeditOffset, 0x1000);
    builder.symtab(std::move(symbols));
    return builder;
  }

  MachOBuilder& segment(const std::string& name, std::uint64_t vmaddr, std::uint64_t vmsize,
                        const std::vector<Section>& sections = {},
                        std::optional<std::uint32_t> nsects = std::nullopt) {
    std::vector<std::uint8_t> body;
    putName(body, name);
    const std::uint64_t fileoff = vmaddr >= kTextAddress ? vmaddr - kTextAddress : 0;
    putWord(body, vmaddr);
    putWord(body, vmsize);
    putWord(body, fileoff);
    putWord(body, vmsize);
    put32(body, 5);  // maxprot r-x
    put32(body, 5);  // initprot
    put32(body, nsects.value_or(static_cast<std::uint32_t>(sections.size())));
    put32(body, 0);  // flags
    for (const Section& section : sections) {
      putName(body, section.sectname);
      putName(body, section.segname);
      putWord(body, section.addr);
      putWord(body, section.size);
      for (int word = 0; word < (is64_ ? 8 : 7); ++word)
        put32(body, 0);
    }
    return command(is64_ ? macho::LC_SEGMENT_64 : macho::LC_SEGMENT, body);
  }

  MachOBuilder& symtab(std::vector<Symbol> symbols, SymtabDamage damage = {}) {
    symbols_ = std::move(symbols);
    std::vector<std::uint8_t> strings(1, 0);
    for (Symbol& symbol : symbols_) {
      if (!symbol.strx) symbol.strx = static_cast<std::uint32_t>(strings.size());
      strings.insert(strings.end(), symbol.name.begin(), symbol.name.end());
      strings.push_back(0);
    }
    strings_ = strings;
    const std::size_t entry = is64_ ? macho::kNlistSize64 : macho::kNlistSize32;
    const auto symoff = static_cast<std::uint32_t>(kLinkeditOffset);
    const auto stroff = static_cast<std::uint32_t>(kLinkeditOffset + symbols_.size() * entry);
    std::vector<std::uint8_t> body;
    put32(body, damage.symoff.value_or(symoff));
    put32(body, damage.nsyms.value_or(static_cast<std::uint32_t>(symbols_.size())));
    put32(body, damage.stroff.value_or(stroff));
    put32(body, damage.strsize.value_or(static_cast<std::uint32_t>(strings.size())));
    return command(macho::LC_SYMTAB, body);
  }

  MachOBuilder& dysymtab(std::uint32_t ilocalsym, std::uint32_t nlocalsym, std::uint32_t iextdefsym,
                         std::uint32_t nextdefsym) {
    std::vector<std::uint8_t> body;
    for (std::uint32_t word : {ilocalsym, nlocalsym, iextdefsym, nextdefsym})
      put32(body, word);
    for (int word = 0; word < 14; ++word)
      put32(body, 0);
    return command(macho::LC_DYSYMTAB, body);
  }

  MachOBuilder& uuid(const std::array<std::uint8_t, 16>& bytes) {
    return command(macho::LC_UUID, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }

  // A load command with `body` after its 8-byte header; `cmdsize` replaces
  // the true size.
  MachOBuilder& command(std::uint32_t cmd, const std::vector<std::uint8_t>& body,
                        std::optional<std::uint32_t> cmdsize = std::nullopt) {
    std::vector<std::uint8_t> bytes;
    put32(bytes, cmd);
    put32(bytes, cmdsize.value_or(static_cast<std::uint32_t>(body.size() + 8)));
    bytes.insert(bytes.end(), body.begin(), body.end());
    commands_.push_back(bytes);
    return *this;
  }

  MachOBuilder& magic(std::uint32_t value) {
    magic_ = value;
    return *this;
  }
  MachOBuilder& sizeofcmds(std::uint32_t value) {
    sizeofcmds_ = value;
    return *this;
  }
  MachOBuilder& ncmds(std::uint32_t value) {
    ncmds_ = value;
    return *this;
  }

  std::vector<std::uint8_t> build() const {
    std::vector<std::uint8_t> out;
    std::uint32_t commandBytes = 0;
    for (const auto& cmd : commands_)
      commandBytes += static_cast<std::uint32_t>(cmd.size());
    const std::uint32_t nativeMagic = is64_ ? macho::MH_MAGIC_64 : macho::MH_MAGIC;
    if (magic_) {
      std::uint32_t raw = *magic_;
      append(out, &raw, 4);
    } else {
      put32(out, nativeMagic);
    }
    put32(out, is64_ ? 0x01000007 : 7);  // x86-64 or i386
    put32(out, 3);
    put32(out, macho::MH_DYLIB);
    put32(out, ncmds_.value_or(static_cast<std::uint32_t>(commands_.size())));
    put32(out, sizeofcmds_.value_or(commandBytes));
    put32(out, 0);
    if (is64_) put32(out, 0);
    for (const auto& cmd : commands_)
      out.insert(out.end(), cmd.begin(), cmd.end());
    if (!symbols_.empty() || !strings_.empty()) {
      if (out.size() > kLinkeditOffset) return out;  // commands overrun the symbol table
      out.resize(kLinkeditOffset, 0);
      for (const Symbol& symbol : symbols_) {
        put32(out, *symbol.strx);
        out.push_back(symbol.type);
        out.push_back(1);
        put16(out, symbol.desc);
        putWord(out, symbol.value);
      }
      out.insert(out.end(), strings_.begin(), strings_.end());
    }
    out.resize(std::max<std::size_t>(out.size(), 2 * 0x1000), 0);
    return out;
  }

 private:
  void append(std::vector<std::uint8_t>& out, const void* bytes, std::size_t count) const {
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    out.insert(out.end(), at, at + count);
  }
  void put16(std::vector<std::uint8_t>& out, std::uint16_t value) const {
    if (swapped_) value = __builtin_bswap16(value);
    append(out, &value, 2);
  }
  void put32(std::vector<std::uint8_t>& out, std::uint32_t value) const {
    if (swapped_) value = __builtin_bswap32(value);
    append(out, &value, 4);
  }
  void put64(std::vector<std::uint8_t>& out, std::uint64_t value) const {
    if (swapped_) value = __builtin_bswap64(value);
    append(out, &value, 8);
  }
  void putWord(std::vector<std::uint8_t>& out, std::uint64_t value) const {
    if (is64_) {
      put64(out, value);
    } else {
      put32(out, static_cast<std::uint32_t>(value));
    }
  }
  static void putName(std::vector<std::uint8_t>& out, const std::string& name) {
    char field[macho::kNameSize] = {};
    std::memcpy(field, name.data(), std::min(name.size(), sizeof field));
    out.insert(out.end(), field, field + sizeof field);
  }

  bool is64_;
  bool swapped_;
  std::vector<std::vector<std::uint8_t>> commands_;
  std::vector<Symbol> symbols_;
  std::vector<std::uint8_t> strings_;
  std::optional<std::uint32_t> magic_, sizeofcmds_, ncmds_;
};

}  // namespace tlcrash::test
