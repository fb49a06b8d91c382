#include "crashcapture/readers/dwarf/dwarf_entries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/dwarf/dwarf_encoding.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {
namespace {

using testing::Bytes;
using testing::Cie;
using testing::Section;
constexpr tlcrash_vm_address_t kSection = 0x40000;

const tlcrash_async_byteorder* little() {
  return tlcrash_async_byteorder_little_endian();
}

tlcrash_error_t parseCie(Section& section, std::size_t offset, tlcrash_async_dwarf_cie_info* info,
                         std::size_t cut = 0) {
  FakeTask task;
  EXPECT_TRUE(task.map(kSection, section.bytes().data()));
  EXPECT_TRUE(task.map(0x90000, Bytes().u64(0x123456789).data()));  // a personality's slot
  const dwarf_memory memory(task, kSection, section.bytes().size() - cut);
  const gnu_ehptr_reader<std::uint64_t> reader(little());
  return tlcrash_async_dwarf_cie_info_init(info, memory, little(), reader, kSection + offset);
}

TEST(DwarfCieTest, ParsesTheSupportedVersionsAndAugmentations) {
  Section section(kSection);
  Cie zr;
  zr.instructions = Bytes({0x0C, 0x07, 0x08});
  const std::size_t zrOffset = section.cie(zr);

  Cie zplrs;
  zplrs.version = 3;
  zplrs.augmentation = "zPLRS";
  // P: indirect PC-relative sdata4 to the slot at 0x90000; L: 0x1B; R: 0x1B.
  const std::uint64_t personalityField = section.here() + 4 + 4 + 1 + 6 + 3 + 1 + 1;
  Bytes data = Bytes().u8(0x9B).u32(0x90000 - personalityField).u8(0x1B).u8(0x1B);
  zplrs.augmentationData = data.data();
  zplrs.codeAlign = 4;
  zplrs.dataAlign = -4;
  zplrs.returnRegister = 8;
  const std::size_t zplrsOffset = section.cie(zplrs);

  Cie v4;
  v4.version = 4;
  v4.augmentation = "";
  v4.addressSize = 4;
  v4.segmentSize = 0;
  v4.dwarf64 = true;
  v4.instructions = Bytes({0x00, 0x00});
  const std::size_t v4Offset = section.cie(v4);

  // An unknown character ends the scan; the rest is skipped by its length.
  Cie unknown;
  unknown.augmentation = "zRXP";
  unknown.augmentationData = {0x03, 0xEE, 0xEE};
  unknown.instructions = Bytes({0x0C, 0x07, 0x10});
  const std::size_t unknownOffset = section.cie(unknown);

  tlcrash_async_dwarf_cie_info info{};
  ASSERT_EQ(parseCie(section, zrOffset, &info), tlcrash_error_t::success);
  EXPECT_EQ(info.cie_offset, zrOffset + 4);
  EXPECT_EQ(info.cie_version, 1);
  EXPECT_TRUE(info.has_eh_augmentation);
  EXPECT_TRUE(info.has_pointer_encoding);
  EXPECT_EQ(info.pointer_encoding, 0x1B);
  EXPECT_FALSE(info.has_lsda_encoding || info.has_personality_address || info.signal_frame);
  EXPECT_EQ(info.code_alignment_factor, 1u);
  EXPECT_EQ(info.data_alignment_factor, -8);
  EXPECT_EQ(info.return_address_register, 16u);
  EXPECT_EQ(info.initial_instructions_length, 3u);
  EXPECT_EQ(section.bytes().data()[info.initial_instructions_offset], 0x0C);

  ASSERT_EQ(parseCie(section, zplrsOffset, &info), tlcrash_error_t::success);
  EXPECT_EQ(info.cie_version, 3);
  EXPECT_TRUE(info.has_personality_address);
  EXPECT_EQ(info.personality_address, 0x123456789u);
  EXPECT_TRUE(info.has_lsda_encoding);
  EXPECT_EQ(info.lsda_encoding, 0x1B);
  EXPECT_TRUE(info.has_pointer_encoding);
  EXPECT_TRUE(info.signal_frame);
  EXPECT_EQ(info.code_alignment_factor, 4u);
  EXPECT_EQ(info.data_alignment_factor, -4);
  EXPECT_EQ(info.return_address_register, 8u);
  EXPECT_EQ(info.initial_instructions_length, 0u);

  ASSERT_EQ(parseCie(section, v4Offset, &info), tlcrash_error_t::success);
  EXPECT_EQ(info.cie_offset, v4Offset + 12);
  EXPECT_EQ(info.cie_version, 4);
  EXPECT_FALSE(info.has_eh_augmentation);
  EXPECT_EQ(info.address_size, 4);
  EXPECT_EQ(info.segment_size, 0);
  EXPECT_EQ(info.initial_instructions_length, 2u);

  ASSERT_EQ(parseCie(section, unknownOffset, &info), tlcrash_error_t::success);
  EXPECT_TRUE(info.has_pointer_encoding);
  EXPECT_EQ(info.pointer_encoding, 0x03);
  EXPECT_FALSE(info.has_personality_address);
  EXPECT_EQ(info.initial_instructions_length, 3u);
  EXPECT_EQ(section.bytes().data()[info.initial_instructions_offset + 2], 0x10);
}

TEST(DwarfCieTest, RefusesMalformedEntries) {
  struct Case {
    const char* name;
    Cie cie;
    // Applied to the built bytes.
    void (*damage)(Bytes&);
    tlcrash_error_t error;
    std::size_t cut;  // bytes of the section left out of the window
  };
  auto base = [] {
    Cie cie;
    cie.instructions = Bytes({0x0C, 0x07, 0x08});
    return cie;
  };
  Cie version2 = base();
  version2.version = 2;
  Cie eh = base();
  eh.augmentation = "eh";
  Cie empty = base();
  empty.augmentation = "";
  const Case cases[] = {
      {"version 2", version2, nullptr, tlcrash_error_t::invalidArgument, 0},
      {"augmentation without z", eh, nullptr, tlcrash_error_t::notSupported, 0},
      {"bad CIE id", base(), [](Bytes& b) { b.set(4, 7, 4); }, tlcrash_error_t::invalidArgument, 0},
      {"length past the section", base(), nullptr, tlcrash_error_t::invalidArgument, 1},
      {"huge length", base(), [](Bytes& b) { b.set(0, 0xFFFFFFF0, 4); },
       tlcrash_error_t::invalidArgument, 0},
      {"huge 64-bit length", base(),
       [](Bytes& b) {
         b.data().insert(b.data().begin(), {0xFF, 0xFF, 0xFF, 0xFF});
         b.set(4, 0xFFFFFFFFFFFFFFF0, 4);
         b.data().insert(b.data().begin() + 8, {0xFF, 0xFF, 0xFF, 0xFF});
       },
       tlcrash_error_t::invalidArgument, 0},
      {"augmentation data past the entry", base(), [](Bytes& b) { b.set(15, 0x20, 1); },
       tlcrash_error_t::invalidArgument, 0},
      {"string without its end", empty, [](Bytes& b) { b.set(0, 5, 4); },
       tlcrash_error_t::invalidArgument, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Section section(kSection);
    section.cie(c.cie);
    if (c.damage != nullptr) c.damage(section.bytes());
    tlcrash_async_dwarf_cie_info info{};
    EXPECT_EQ(parseCie(section, 0, &info, c.cut), c.error);
  }
}

// A section of a CIE "zR" with PC-relative sdata4 pointers and two FDEs.
struct TwoFunctions {
  Section section{kSection};
  std::size_t first = 0;
  std::size_t second = 0;
  TwoFunctions() {
    const std::size_t cie = section.cie(Cie{});
    first = section.fde(cie, 0x1000, 0x40, Bytes({0x41}));
    second = section.fde(cie, 0x1040, 0x20, Bytes({0x42}));
  }
};

tlcrash_error_t find(Section& section, tlcrash_vm_off_t offset, std::uint64_t pc,
                     tlcrash_async_dwarf_fde_info* fde, bool m64 = true, bool debugFrame = false) {
  FakeTask task;
  EXPECT_TRUE(task.map(kSection, section.bytes().data()));
  const dwarf_memory memory(task, kSection, section.bytes().size());
  tlcrash_async_dwarf_frame_reader reader{};
  EXPECT_EQ(tlcrash_async_dwarf_frame_reader_init(&reader, memory, little(), m64, debugFrame),
            tlcrash_error_t::success);
  return tlcrash_async_dwarf_frame_reader_find_fde(&reader, offset, pc, fde);
}

TEST(DwarfFdeTest, FindsTheFunctionWhoseRangeHoldsThePc) {
  TwoFunctions s;
  struct Case {
    std::uint64_t pc;
    tlcrash_error_t error;
    std::size_t fde;
  };
  const Case cases[] = {
      {0x1000, tlcrash_error_t::success, s.first},  {0x103F, tlcrash_error_t::success, s.first},
      {0x1040, tlcrash_error_t::success, s.second},  // the first's end is not covered
      {0x105F, tlcrash_error_t::success, s.second}, {0x1060, tlcrash_error_t::notFound, 0},
      {0x0FFF, tlcrash_error_t::notFound, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pc);
    tlcrash_async_dwarf_fde_info fde{};
    ASSERT_EQ(find(s.section, 0, c.pc, &fde), c.error);
    if (c.error != tlcrash_error_t::success) continue;
    EXPECT_EQ(fde.fde_offset, c.fde + 4);
    EXPECT_EQ(fde.cie_offset, 0u);
    EXPECT_EQ(fde.instructions_length, 1u);
    EXPECT_EQ(s.section.bytes().data()[fde.instructions_offset], c.fde == s.first ? 0x41 : 0x42);
  }
  tlcrash_async_dwarf_fde_info fde{};
  EXPECT_EQ(fde.pc_start, 0u);
  ASSERT_EQ(find(s.section, 0, 0x1010, &fde), tlcrash_error_t::success);
  EXPECT_EQ(fde.pc_start, 0x1000u);
  EXPECT_EQ(fde.pc_end, 0x1040u);
  // A search may start at an FDE's own offset (an index's hint).
  ASSERT_EQ(find(s.section, static_cast<tlcrash_vm_off_t>(s.second), 0x1050, &fde),
            tlcrash_error_t::success);
  EXPECT_EQ(fde.fde_offset, s.second + 4);
  EXPECT_EQ(find(s.section, static_cast<tlcrash_vm_off_t>(s.second), 0x1010, &fde),
            tlcrash_error_t::notFound);
  EXPECT_EQ(find(s.section, static_cast<tlcrash_vm_off_t>(s.section.bytes().size()), 0x1010, &fde),
            tlcrash_error_t::invalidArgument);
  EXPECT_EQ(find(s.section, -1, 0x1010, &fde), tlcrash_error_t::invalidArgument);
}

TEST(DwarfFdeTest, ReadsDebugFrame64BitDwarfAnd32BitTargets) {
  // .debug_frame: CIE id all ones, the FDE's CIE pointer an offset, no
  // augmentation, absolute addresses.
  Section debug(kSection);
  Cie cie;
  cie.augmentation = "";
  cie.debugFrame = true;
  const std::size_t debugCie = debug.cie(cie);
  debug.fde(debugCie, 0x7000, 0x10, Bytes(), false, true, false, true);
  tlcrash_async_dwarf_fde_info fde{};
  ASSERT_EQ(find(debug, 0, 0x7008, &fde, true, true), tlcrash_error_t::success);
  EXPECT_EQ(fde.pc_start, 0x7000u);
  EXPECT_EQ(fde.pc_end, 0x7010u);
  // As .eh_frame, the same bytes make a CIE pointer that leads nowhere.
  EXPECT_NE(find(debug, 0, 0x7008, &fde, true, false), tlcrash_error_t::success);

  // 64-bit DWARF entries.
  Section wide(kSection);
  Cie wideCie;
  wideCie.dwarf64 = true;
  const std::size_t wideOffset = wide.cie(wideCie);
  wide.fde(wideOffset, 0x2000, 0x30, Bytes({0x00}), true, false, true);
  ASSERT_EQ(find(wide, 0, 0x2010, &fde), tlcrash_error_t::success);
  EXPECT_EQ(fde.fde_offset, 12u + (wide.bytes().size() - 12 - fde.fde_length));
  EXPECT_EQ(fde.pc_end, 0x2030u);

  // A 32-bit target with absolute 4-byte pointers ("z" without "R").
  Section narrow(kSection);
  Cie narrowCie;
  narrowCie.augmentation = "z";
  narrowCie.augmentationData = {};
  narrowCie.returnRegister = 8;
  const std::size_t narrowOffset = narrow.cie(narrowCie);
  narrow.fde(narrowOffset, 0xFFFFFF00, 0xF0, Bytes(), true, true, false, false, 4);
  ASSERT_EQ(find(narrow, 0, 0xFFFFFF10, &fde, false), tlcrash_error_t::success);
  EXPECT_EQ(fde.pc_end, 0xFFFFFFF0u);
  // A range that passes the end of the 32-bit address space.
  Section wraps(kSection);
  const std::size_t wrapsCie = wraps.cie(narrowCie);
  wraps.fde(wrapsCie, 0xFFFFFF00, 0x100, Bytes(), true, true, false, false, 4);
  EXPECT_EQ(find(wraps, 0, 0xFFFFFF10, &fde, false), tlcrash_error_t::invalidArgument);
}

TEST(DwarfFdeTest, StopsAtATerminatorAndRefusesBrokenEntries) {
  TwoFunctions s;
  tlcrash_async_dwarf_fde_info fde{};
  // A zero length ends the search before the second function.
  Section ended(kSection);
  const std::size_t cie = ended.cie(Cie{});
  ended.fde(cie, 0x1000, 0x40, Bytes());
  ended.terminator();
  ended.fde(cie, 0x1040, 0x20, Bytes());
  EXPECT_EQ(find(ended, 0, 0x1050, &fde), tlcrash_error_t::notFound);

  struct Case {
    const char* name;
    void (*damage)(TwoFunctions&);
  };
  const Case cases[] = {
      {"FDE length past the section",
       [](TwoFunctions& t) { t.section.bytes().set(t.second, 0x1000, 4); }},
      {"CIE pointer before the section",
       [](TwoFunctions& t) { t.section.bytes().set(t.first + 4, 0x7FFFFFFF, 4); }},
      {"CIE pointer to an FDE",
       [](TwoFunctions& t) { t.section.bytes().set(t.second + 4, t.second + 4 - t.first, 4); }},
      {"CIE damaged", [](TwoFunctions& t) { t.section.bytes().set(8, 9, 1); }},
      {"FDE fields past its length", [](TwoFunctions& t) { t.section.bytes().set(t.first, 6, 4); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TwoFunctions damaged;
    c.damage(damaged);
    EXPECT_EQ(find(damaged.section, 0, 0x1050, &fde), tlcrash_error_t::invalidArgument);
  }
}

}  // namespace
}  // namespace tlcrash::async
