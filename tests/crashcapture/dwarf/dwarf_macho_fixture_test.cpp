// The DWARF reader on the __eh_frame of the committed Mach-O images that
// ld64.lld built (tests/fixtures/macho): the rows of every FDE against the
// ones llvm-dwarfdump printed at generation time, and a frame of a function
// whose compact-unwind entry hands it to DWARF (mode 4), unwound on a stack.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_macho.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_cfa_state.h"
#include "crashcapture/readers/dwarf/dwarf_encoding.h"
#include "crashcapture/readers/dwarf/dwarf_entries.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {
namespace {

const std::string kFixtures = TLCRASH_MACHO_FIXTURES;

// One row of a dump: from `pc` on, the CFA is `cfaReg` + `cfaOffset` and
// each register is saved at CFA + its offset.
struct Row {
  std::uint64_t pc = 0;
  std::uint32_t cfaReg = 0;
  std::int64_t cfaOffset = 0;
  std::map<std::uint32_t, std::int64_t> saved;
  bool operator==(const Row&) const = default;
};
struct Function {
  std::uint64_t start = 0, end = 0;
  std::vector<Row> rows;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << std::hex << "0x" << row.pc << ": CFA=" << std::dec << row.cfaReg << "+" << row.cfaOffset
      << ":";
  for (const auto& [reg, offset] : row.saved)
    *os << " " << reg << "=[CFA" << offset << "]";
}

std::uint32_t dwarfNumber(const std::string& name) {
  static const std::map<std::string, std::uint32_t> kNames = {
      {"RAX", 0},  {"RDX", 1},  {"RCX", 2},  {"RBX", 3},  {"RSI", 4},  {"RDI", 5},
      {"RBP", 6},  {"RSP", 7},  {"R8", 8},   {"R9", 9},   {"R10", 10}, {"R11", 11},
      {"R12", 12}, {"R13", 13}, {"R14", 14}, {"R15", 15}, {"RIP", 16}};
  const auto found = kNames.find(name);
  EXPECT_NE(found, kNames.end()) << name;
  return found == kNames.end() ? 999 : found->second;
}

// The FDEs of `llvm-dwarfdump --eh-frame` output with their rows.
std::vector<Function> readRows(const std::string& path) {
  std::vector<Function> functions;
  std::ifstream in(path);
  const std::regex fde(R"(FDE cie=[0-9a-f]+ pc=([0-9a-f]+)\.\.\.([0-9a-f]+))");
  const std::regex row(R"(^\s+0x([0-9a-f]+): CFA=([A-Z0-9]+)([+-][0-9]+)(: (.*))?$)");
  const std::regex saved(R"(([A-Z0-9]+)=\[CFA([+-][0-9]+)\])");
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_search(line, match, fde)) {
      functions.push_back(
          {std::stoull(match[1], nullptr, 16), std::stoull(match[2], nullptr, 16), {}});
    } else if (!functions.empty() && std::regex_match(line, match, row)) {
      Row r{std::stoull(match[1], nullptr, 16), dwarfNumber(match[2]), std::stoll(match[3]), {}};
      const std::string rules = match[5];
      for (std::sregex_iterator it(rules.begin(), rules.end(), saved), end; it != end; ++it)
        r.saved[dwarfNumber((*it)[1])] = std::stoll((*it)[2]);
      functions.back().rows.push_back(r);
    }
  }
  return functions;
}

// The functions that the compact unwind info sends to DWARF: (function
// offset, FDE offset) from `llvm-objdump --unwind-info` output.
std::vector<std::pair<std::uint64_t, std::uint64_t>> readModeFour(const std::string& path) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> entries;
  std::ifstream in(path);
  const std::regex entry(R"(function offset=0x([0-9a-f]+), encoding\[\d+\]=0x([0-9a-f]+))");
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (!std::regex_search(line, match, entry)) continue;
    const std::uint64_t encoding = std::stoull(match[2], nullptr, 16);
    if (((encoding >> 24) & 0xF) == 4)
      entries.emplace_back(std::stoull(match[1], nullptr, 16), encoding & 0xFFFFFF);
  }
  return entries;
}

// An image loaded into a fake task, with its __eh_frame.
struct LoadedImage {
  FakeTask task;
  std::uint64_t header = 0;
  std::uint64_t ehFrame = 0;
  std::uint64_t ehFrameSize = 0;

  LoadedImage(const std::string& name, std::int64_t slide) {
    const auto bytes = readFileBytes(kFixtures + "/" + name);
    const auto loaded = loadMachO(task, bytes, slide);
    EXPECT_TRUE(loaded.has_value());
    if (!loaded) return;
    header = *loaded;
    tlcrash_async_macho image{};
    EXPECT_EQ(tlcrash_async_macho_init(&image, task, name.c_str(), header),
              tlcrash_error_t::success);
    tlcrash_async_mobject section{};
    EXPECT_EQ(tlcrash_async_macho_map_section(&image, "__TEXT", "__eh_frame", &section),
              tlcrash_error_t::success);
    ehFrame = tlcrash_async_mobject_base_address(&section);
    ehFrameSize = tlcrash_async_mobject_length(&section);
    tlcrash_async_mobject_free(&section);
    tlcrash_async_macho_free(&image);
  }
};

// The rules at `pc` as the frame reader computes them.
Row rulesAt(const LoadedImage& image, std::uint64_t pc) {
  using namespace async;
  const auto* order = tlcrash_async_byteorder_little_endian();
  const dwarf_memory section(image.task, image.ehFrame, image.ehFrameSize);
  tlcrash_async_dwarf_frame_reader reader{};
  tlcrash_async_dwarf_frame_reader_init(&reader, section, order, true, false);
  tlcrash_async_dwarf_fde_info fde{};
  Row row{pc, 0, 0, {}};
  EXPECT_EQ(tlcrash_async_dwarf_frame_reader_find_fde(&reader, 0, pc, &fde),
            tlcrash_error_t::success);
  const gnu_ehptr_reader<std::uint64_t> pointers(order);
  tlcrash_async_dwarf_cie_info cie{};
  EXPECT_EQ(tlcrash_async_dwarf_cie_info_init(&cie, section, order, pointers,
                                              image.ehFrame + fde.cie_offset),
            tlcrash_error_t::success);
  dwarf_cfa_state<std::uint64_t> state;
  EXPECT_EQ(state.eval_program(section, pc, fde.pc_start, &cie, pointers, order, image.ehFrame,
                               static_cast<tlcrash_vm_off_t>(cie.initial_instructions_offset),
                               cie.initial_instructions_length),
            tlcrash_error_t::success);
  EXPECT_EQ(state.eval_program(section, pc, fde.pc_start, &cie, pointers, order, image.ehFrame,
                               static_cast<tlcrash_vm_off_t>(fde.instructions_offset),
                               fde.instructions_length),
            tlcrash_error_t::success);
  const auto cfa = state.get_cfa_rule();
  EXPECT_EQ(cfa.kind, dwarf_cfa_rule_kind::registerUnsigned);
  row.cfaReg = cfa.reg;
  row.cfaOffset = static_cast<std::int64_t>(cfa.offset);
  dwarf_cfa_state_iterator<std::uint64_t> rules(&state);
  std::uint32_t reg = 0;
  tlcrash_dwarf_cfa_reg_rule_t type{};
  std::uint64_t value = 0;
  while (rules.next(&reg, &type, &value)) {
    EXPECT_EQ(type, tlcrash_dwarf_cfa_reg_rule_t::offset);
    row.saved[reg] = static_cast<std::int64_t>(value);
  }
  return row;
}

TEST(DwarfMachOFixtureTest, EveryRowMatchesTheDump) {
  struct Image {
    const char* name;
    std::int64_t slide;
  };
  for (const Image& i : {Image{"unwind_x86_64", 0}, Image{"unwind_x86_64.dylib", 0x300000000}}) {
    SCOPED_TRACE(i.name);
    const LoadedImage image(i.name, i.slide);
    ASSERT_NE(image.ehFrameSize, 0u);
    const auto functions = readRows(kFixtures + "/" + i.name + ".eh_frame.txt");
    ASSERT_EQ(functions.size(), 2u);
    for (const Function& function : functions) {
      ASSERT_FALSE(function.rows.empty());
      for (std::size_t r = 0; r < function.rows.size(); ++r) {
        Row expected = function.rows[r];
        const std::uint64_t last =
            (r + 1 < function.rows.size() ? function.rows[r + 1].pc : function.end) - 1;
        // The row holds from its first address to the byte before the next.
        for (const std::uint64_t pc : {expected.pc, last}) {
          expected.pc = pc + i.slide;
          EXPECT_EQ(rulesAt(image, pc + i.slide), expected);
        }
      }
    }
  }
}

TEST(DwarfMachOFixtureTest, UnwindsTheModeFourFunctionOnAStack) {
  LoadedImage image("unwind_x86_64", 0);
  const auto modeFour = readModeFour(kFixtures + "/unwind_x86_64.unwind.txt");
  ASSERT_EQ(modeFour.size(), 2u);
  // _dwarf_r11 (the first): after its four pushes (CFA = rbp + 16, rbp at
  // CFA - 16, r11 at CFA - 24, rbx at CFA - 32).
  const std::uint64_t function = image.header + modeFour[0].first;
  const std::uint64_t stack = 0x7000;
  FakeTask& task = image.task;
  ASSERT_TRUE(task.map(stack, testing::Bytes()
                                  .u64(0xB0B0)       // rbx
                                  .u64(0x1111)       // r11
                                  .u64(0xFEED)       // the caller's rbp
                                  .u64(0x100000460)  // return address
                                  .u64(0)
                                  .data()));
  tlcrash_async_thread_state current{};
  tlcrash_async_thread_state_init(&current, CPU_TYPE_X86_64);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_IP, function + 0x10);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_FP, stack + 16);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_SP, stack);

  // The compact entry's FDE offset is where the search starts; a search from
  // the section's start finds the same FDE.
  for (const std::uint64_t hint : {modeFour[0].second, std::uint64_t{0}}) {
    SCOPED_TRACE(hint);
    const tlcrash_async_dwarf_section section = {image.ehFrame,
                                                 image.ehFrameSize,
                                                 tlcrash_async_byteorder_little_endian(),
                                                 true,
                                                 false,
                                                 static_cast<tlcrash_vm_off_t>(hint)};
    tlcrash_async_thread_state next{};
    ASSERT_EQ(tlcrash_async_dwarf_unwind_frame(task, section, &current, &next),
              tlcrash_async_frame_error_t::success);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_REG_IP), 0x100000460u);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_REG_SP), stack + 32);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_REG_FP), 0xFEEDu);
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 4), 0xB0B0u);   // rbx
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, 12), 0x1111u);  // r11
    EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&next, 12));
  }
}

}  // namespace
}  // namespace tlcrash
