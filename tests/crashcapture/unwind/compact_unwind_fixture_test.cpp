// Compact unwind on the committed Mach-O images that ld64.lld built
// (tests/fixtures/macho): every entry of their __unwind_info against the dump
// llvm-objdump printed, and a whole stack of the fixture's call chain, laid
// out in a fake task as the code lays it out, walked by the cursor through
// every encoding mode (DWARF for mode 4) down to the caller outside the image.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_macho.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/mobject.h"
#include "crashcapture/readers/unwind/compact_unwind.h"
#include "crashcapture/readers/unwind/frame_cursor.h"

namespace tlcrash {
namespace {

const std::string kFixtures = TLCRASH_MACHO_FIXTURES;

struct Dump {
  std::uint32_t sentinel = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // function offset, encoding
};

// The first-level sentinel and the second-level entries of
// `llvm-objdump --unwind-info` output.
Dump readUnwindDump(const std::string& path) {
  Dump dump;
  std::ifstream in(path);
  const std::regex first(R"(\[\d+\]: function offset=0x([0-9a-f]+), 2nd level page offset=0x0+,)");
  const std::regex second(R"(function offset=0x([0-9a-f]+), encoding\[\d+\]=0x([0-9a-f]+))");
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_search(line, match, first)) {
      dump.sentinel = static_cast<std::uint32_t>(std::stoul(match[1], nullptr, 16));
    } else if (std::regex_search(line, match, second)) {
      dump.entries.emplace_back(std::stoul(match[1], nullptr, 16),
                                std::stoul(match[2], nullptr, 16));
    }
  }
  return dump;
}

// Symbol name -> address from `llvm-objdump --syms` output.
std::map<std::string, std::uint64_t> readSymbols(const std::string& path) {
  std::map<std::string, std::uint64_t> symbols;
  std::ifstream in(path);
  const std::regex symbol(R"(^([0-9a-f]{16}) .* (_\w+)$)");
  std::string line;
  std::smatch match;
  while (std::getline(in, line))
    if (std::regex_match(line, match, symbol))
      symbols[match[2]] = std::stoull(match[1], nullptr, 16);
  return symbols;
}

struct Fixture {
  const char* name;
  std::int64_t slide;
};
constexpr Fixture kFixtureImages[] = {{"unwind_x86_64", 0}, {"unwind_x86_64.dylib", 0x300000000}};

// A fixture image loaded into a fake task and entered into an image list.
struct Loaded {
  FakeTask task;
  tlcrash_async_image_list list{};
  std::uint64_t header = 0;

  explicit Loaded(const Fixture& fixture) {
    const auto loaded =
        loadMachO(task, readFileBytes(kFixtures + "/" + fixture.name), fixture.slide);
    EXPECT_TRUE(loaded.has_value());
    header = loaded.value_or(0);
    tlcrash_async_image_list_init(&list, task);
    EXPECT_EQ(tlcrash_async_image_list_append(&list, header, fixture.name),
              tlcrash_error_t::success);
  }
  ~Loaded() { tlcrash_async_image_list_free(&list); }
};

TEST(CompactUnwindFixtureTest, EveryEntryMatchesTheDump) {
  for (const Fixture& fixture : kFixtureImages) {
    SCOPED_TRACE(fixture.name);
    const Dump dump = readUnwindDump(kFixtures + "/" + fixture.name + ".unwind.txt");
    ASSERT_EQ(dump.entries.size(), 6u);
    Loaded loaded(fixture);
    tlcrash_async_image_list_set_reading(&loaded.list, true);
    const tlcrash_async_image* listed = tlcrash_async_image_list_next(&loaded.list, nullptr);
    ASSERT_NE(listed, nullptr);
    const tlcrash_async_macho* image = &listed->macho;
    tlcrash_async_mobject section{};
    ASSERT_EQ(tlcrash_async_macho_map_section(image, "__TEXT", "__unwind_info", &section),
              tlcrash_error_t::success);
    tlcrash_async_cfe_reader reader;
    ASSERT_EQ(tlcrash_async_cfe_reader_init(&reader, &section, tlcrash_async_macho_cpu_type(image),
                                            tlcrash_async_macho_byteorder(image)),
              tlcrash_error_t::success);

    std::set<std::uint32_t> modes;
    for (std::size_t i = 0; i < dump.entries.size(); ++i) {
      const auto [offset, expected] = dump.entries[i];
      const std::uint32_t end =
          i + 1 < dump.entries.size() ? dump.entries[i + 1].first : dump.sentinel;
      for (const std::uint64_t pc : {std::uint64_t{offset}, std::uint64_t{end} - 1}) {
        SCOPED_TRACE(::testing::Message() << std::hex << "pc 0x" << pc);
        std::uint64_t base = 0;
        std::uint32_t encoding = 0;
        ASSERT_EQ(tlcrash_async_cfe_reader_find_pc(&reader, pc, &base, &encoding),
                  tlcrash_error_t::success);
        EXPECT_EQ(base, offset);
        EXPECT_EQ(encoding, expected);
      }
      tlcrash_async_cfe_entry entry;
      EXPECT_EQ(tlcrash_async_cfe_entry_init(&entry, CPU_TYPE_X86_64, expected),
                tlcrash_error_t::success);
      modes.insert((expected >> 24) & 0xF);
    }
    EXPECT_EQ(modes, (std::set<std::uint32_t>{1, 2, 3, 4}));
    std::uint64_t base = 0;
    std::uint32_t encoding = 0;
    EXPECT_EQ(
        tlcrash_async_cfe_reader_find_pc(&reader, dump.entries[0].first - 1, &base, &encoding),
        tlcrash_error_t::notFound);
    tlcrash_async_mobject_free(&section);
    tlcrash_async_image_list_set_reading(&loaded.list, false);
  }
}

std::uint64_t reg(const tlcrash_async_frame_cursor& cursor, int n) {
  std::uint64_t value = 0;
  EXPECT_EQ(tlcrash_async_frame_cursor_get_reg(&cursor, n, &value),
            tlcrash_async_frame_error_t::success)
      << n;
  return value;
}

TEST(CompactUnwindFixtureTest, WalksTheFixtureChainThroughEveryMode) {
  // The executable's return addresses (from its disassembly), moved to the
  // image's place by the distance between the two _framed_outer symbols.
  constexpr std::uint64_t kInEntry = 0x100000460;        // after calling framed_outer
  constexpr std::uint64_t kInFramedOuter = 0x10000041d;  // after calling leaf_frameless
  constexpr std::uint64_t kInLeaf = 0x1000004e8;         // after calling big_frame
  constexpr std::uint64_t kInBigFrame = 0x1000004aa;     // after calling dwarf_r11
  constexpr std::uint64_t kInDwarfR11 = 0x10000050c;     // after calling dwarf_rbx_cfa
  constexpr std::uint64_t kInRbxCfa = 0x10000054e;       // after calling the callback
  constexpr std::uint64_t kCaller = 0x7777;              // outside every image

  for (const Fixture& fixture : kFixtureImages) {
    SCOPED_TRACE(fixture.name);
    Loaded loaded(fixture);
    const auto symbols = readSymbols(kFixtures + "/" + fixture.name + ".syms.txt");
    const std::uint64_t delta = symbols.at("_framed_outer") + fixture.slide - 0x100000400;
    const auto at = [delta](std::uint64_t address) { return address + delta; };

    // The stack as entry(n, cb) lays it out down to cb, from sp0 (the
    // caller's stack pointer before its call) downwards.
    const std::uint64_t sp0 = 0x7FFF0000;
    const std::uint64_t low = sp0 - 0x1400;
    std::vector<std::uint64_t> words((sp0 + 0x20 - low) / 8, 0);
    const auto put = [&](std::uint64_t address, std::uint64_t value) {
      words[(address - low) / 8] = value;
    };
    const std::uint64_t callerFp = sp0 + 0x10;
    const std::uint64_t entryFp = sp0 - 16;
    const std::uint64_t outerFp = sp0 - 32;
    const std::uint64_t r11Fp = sp0 - 4928;
    put(sp0 - 8, kCaller);
    put(sp0 - 16, callerFp);  // entry: push rbp
    put(sp0 - 24, at(kInEntry));
    put(sp0 - 32, entryFp);  // framed_outer: push rbp, r14, rbx
    put(sp0 - 40, 0x1414);
    put(sp0 - 48, 0xB1);
    put(sp0 - 56, at(kInFramedOuter));
    put(sp0 - 64, 0xB2);  // leaf_frameless: push rbx; sub $32
    put(sp0 - 104, at(kInLeaf));
    put(sp0 - 112, 0xB3);  // big_frame: push rbx; sub $4800
    put(sp0 - 4920, at(kInBigFrame));
    put(sp0 - 4928, outerFp);  // dwarf_r11: push rbp, r11, rbx
    put(sp0 - 4936, 0x1111);
    put(sp0 - 4944, 0xB4);
    put(sp0 - 4952, at(kInDwarfR11));
    put(sp0 - 4960, 0xB5);  // dwarf_rbx_cfa: push rbx; rbx = rsp; sub; and
    testing::Bytes stack;
    for (const std::uint64_t word : words)
      stack.u64(word);
    ASSERT_TRUE(loaded.task.map(low, stack.data()));

    tlcrash_async_thread_state start{};
    tlcrash_async_thread_state_init(&start, CPU_TYPE_X86_64);
    for (int n = 0; n < 21; ++n)
      tlcrash_async_thread_state_set_reg(&start, n, 0xEE00 + n);
    tlcrash_async_thread_state_set_reg(&start, TLCRASH_REG_IP, at(kInRbxCfa));
    tlcrash_async_thread_state_set_reg(&start, TLCRASH_REG_SP, sp0 - 4992);
    tlcrash_async_thread_state_set_reg(&start, TLCRASH_REG_FP, r11Fp);
    tlcrash_async_thread_state_set_reg(&start, 4, sp0 - 4960);  // rbx

    tlcrash_async_frame_cursor cursor;
    tlcrash_async_frame_cursor_init(&cursor, loaded.task, &start, &loaded.list);
    ASSERT_EQ(tlcrash_async_frame_cursor_next(&cursor), tlcrash_async_frame_error_t::success);

    struct Expected {
      const char* function;
      std::uint64_t ip, sp, rbx;
    };
    const Expected frames[] = {
        {"dwarf_r11 (by DWARF: CFA = rbx + 16)", at(kInDwarfR11), sp0 - 4944, 0xB5},
        {"big_frame (by DWARF: CFA = rbp + 16)", at(kInBigFrame), sp0 - 4912, 0xB4},
        {"leaf_frameless (mode 3)", at(kInLeaf), sp0 - 96, 0xB3},
        {"framed_outer (mode 2)", at(kInFramedOuter), sp0 - 48, 0xB2},
        {"entry (mode 1)", at(kInEntry), sp0 - 16, 0xB1},
    };
    for (const Expected& frame : frames) {
      SCOPED_TRACE(frame.function);
      ASSERT_EQ(tlcrash_async_frame_cursor_next(&cursor), tlcrash_async_frame_error_t::success);
      EXPECT_EQ(reg(cursor, TLCRASH_REG_IP), frame.ip);
      EXPECT_EQ(reg(cursor, TLCRASH_REG_SP), frame.sp);
      EXPECT_EQ(reg(cursor, 4), frame.rbx);
    }
    // What the DWARF rules of dwarf_r11 restored, and framed_outer's mode-2
    // registers.
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&cursor.frame, 15), 0x1414u);  // r14
    EXPECT_EQ(reg(cursor, TLCRASH_REG_FP), entryFp);
    // Entry's caller is in no image: no reader's answer is a frame, and the
    // walk ends there.
    EXPECT_EQ(tlcrash_async_frame_cursor_next(&cursor), tlcrash_async_frame_error_t::noFrames);
    EXPECT_EQ(cursor.depth, 6u);
  }
}

}  // namespace
}  // namespace tlcrash
