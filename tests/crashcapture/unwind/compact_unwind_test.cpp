// The compact unwind reader on synthetic __unwind_info sections: decoding of
// encodings, the register permutation, lookup through regular and compressed
// second-level pages (with personality and LSDA tables present), applying
// entries to frames of both layouts, and the frame reader on a small image.

#include "crashcapture/readers/unwind/compact_unwind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/image/macho_builder.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {
namespace {

using testing::Bytes;
using Type = tlcrash_async_cfe_entry_type_t;
constexpr std::uint32_t kNone = TLCRASH_ASYNC_CFE_REG_NONE;

// ---- Decoding ----------------------------------------------------------

struct DecodeCase {
  cpu_type_t cpu;
  std::uint32_t encoding;
  tlcrash_error_t result;
  Type type;
  std::int64_t stackOffset;
  std::uint32_t stackAdjust;
  std::vector<std::uint32_t> registers;
  std::uint32_t returnAddressRegister = kNone;
};

TEST(CompactUnwindTest, DecodesEncodings) {
  const tlcrash_error_t ok = tlcrash_error_t::success;
  const tlcrash_error_t unsupported = tlcrash_error_t::notSupported;
  const tlcrash_error_t invalid = tlcrash_error_t::invalidArgument;
  const DecodeCase cases[] = {
      // x86-64, the encodings lld wrote into the fixtures among them.
      {CPU_TYPE_X86_64, 0x00000000, ok, Type::none, 0, 0, {}},
      {CPU_TYPE_X86_64, 0x01020021, ok, Type::frameBased, -16, 0, {4, 15}},  // rbx r14
      {CPU_TYPE_X86_64, 0x01000000, ok, Type::frameBased, 0, 0, {}},
      {CPU_TYPE_X86_64, 0x01030081, ok, Type::frameBased, -24, 0, {4, kNone, 13}},  // a hole
      {CPU_TYPE_X86_64, 0x01010006, ok, Type::frameBased, -8, 0, {1}},              // rbp
      {CPU_TYPE_X86_64, 0x02060400, ok, Type::framelessImmediate, 48, 0, {4}},
      {CPU_TYPE_X86_64, 0x03044400, ok, Type::framelessIndirect, 4, 16, {4}},
      {CPU_TYPE_X86_64, 0x04000078, ok, Type::dwarf, 0x78, 0, {}},
      // Start, LSDA and personality bits do not change the decoding.
      {CPU_TYPE_X86_64, 0xF1020021, ok, Type::frameBased, -16, 0, {4, 15}},
      {CPU_TYPE_X86_64, 0x05000000, unsupported, Type::none, 0, 0, {}},
      {CPU_TYPE_X86_64, 0x0F000000, unsupported, Type::none, 0, 0, {}},
      {CPU_TYPE_X86_64, 0x01000007, invalid, Type::none, 0, 0, {}},  // register code 7
      {CPU_TYPE_X86_64, 0x01000039, invalid, Type::none, 0, 0, {}},  // code 7 second
      {CPU_TYPE_X86_64, 0x02001C00, invalid, Type::none, 0, 0, {}},  // 7 registers
      {CPU_TYPE_X86_64, 0x020007FF, invalid, Type::none, 0, 0, {}},  // permutation 1023 of 1
      // x86: scale 4 and its own register codes.
      {CPU_TYPE_X86, 0x01020021, ok, Type::frameBased, -8, 0, {6, 8}},          // ebx edi
      {CPU_TYPE_X86, 0x02050803, ok, Type::framelessImmediate, 20, 0, {6, 7}},  // ebx esi
      {CPU_TYPE_X86, 0x03084400, ok, Type::framelessIndirect, 8, 8, {6}},
      {CPU_TYPE_X86, 0x04000010, ok, Type::dwarf, 0x10, 0, {}},
      // arm64: register pairs by frame bit.
      {CPU_TYPE_ARM64, 0x04000003, ok, Type::frameBased, -32, 0, {25, 24, 23, 22}},
      {CPU_TYPE_ARM64, 0x02003010, ok, Type::framelessImmediate, 48, 0, {31, 30}, 32},
      {CPU_TYPE_ARM64, 0x03000040, ok, Type::dwarf, 0x40, 0, {}},
      {CPU_TYPE_ARM64, 0x00000000, ok, Type::none, 0, 0, {}},
      {CPU_TYPE_ARM64, 0x01000000, unsupported, Type::none, 0, 0, {}},
      {CPU_TYPE_ARM, 0x01000000, unsupported, Type::none, 0, 0, {}},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.cpu << " 0x" << c.encoding);
    tlcrash_async_cfe_entry entry;
    ASSERT_EQ(tlcrash_async_cfe_entry_init(&entry, c.cpu, c.encoding), c.result);
    if (c.result != ok) continue;
    EXPECT_EQ(tlcrash_async_cfe_entry_type(&entry), c.type);
    EXPECT_EQ(tlcrash_async_cfe_entry_stack_offset(&entry), c.stackOffset);
    EXPECT_EQ(tlcrash_async_cfe_entry_stack_adjustment(&entry), c.stackAdjust);
    EXPECT_EQ(tlcrash_async_cfe_entry_return_address_register(&entry), c.returnAddressRegister);
    std::vector<std::uint32_t> registers(tlcrash_async_cfe_entry_register_count(&entry));
    tlcrash_async_cfe_entry_register_list(&entry, registers.data());
    EXPECT_EQ(registers, c.registers);
    tlcrash_async_cfe_entry_free(&entry);
  }
}

TEST(CompactUnwindTest, PermutationsRoundTripForEveryRegisterSelection) {
  for (std::uint32_t count = 0; count <= 6; ++count) {
    SCOPED_TRACE(count);
    std::vector<std::uint32_t> codes(6);
    std::iota(codes.begin(), codes.end(), 1);
    int seen = 0;
    // Every ordered selection of `count` codes: permutations of all six,
    // taking the first `count` of each only once (when the rest are sorted).
    do {
      if (!std::is_sorted(codes.begin() + count, codes.end())) continue;
      ++seen;
      const std::uint32_t permutation =
          tlcrash_async_cfe_register_encode_permutation(codes.data(), count);
      EXPECT_LT(permutation, 1024u);
      std::uint32_t decoded[6] = {};
      ASSERT_EQ(tlcrash_async_cfe_register_decode_permutation(permutation, count, decoded),
                tlcrash_error_t::success);
      EXPECT_TRUE(std::equal(codes.begin(), codes.begin() + count, decoded));
    } while (std::next_permutation(codes.begin(), codes.end()));
    const int expected[] = {1, 6, 30, 120, 360, 720, 720};
    EXPECT_EQ(seen, expected[count]);
  }
}

TEST(CompactUnwindTest, SixRegistersDecodeAsFiveAndTheOneLeft) {
  for (std::uint32_t permutation = 0; permutation < 720; permutation += 7) {
    std::uint32_t five[6] = {};
    std::uint32_t six[6] = {};
    ASSERT_EQ(tlcrash_async_cfe_register_decode_permutation(permutation, 5, five),
              tlcrash_error_t::success);
    ASSERT_EQ(tlcrash_async_cfe_register_decode_permutation(permutation, 6, six),
              tlcrash_error_t::success);
    EXPECT_TRUE(std::equal(five, five + 5, six));
    EXPECT_EQ(std::accumulate(six, six + 6, 0u), 21u);  // the sixth is the one not taken
  }
  const std::uint32_t reversed[] = {6, 5, 4, 3, 2, 1};
  EXPECT_EQ(tlcrash_async_cfe_register_encode_permutation(reversed, 6), 719u);
  std::uint32_t codes[7] = {};
  EXPECT_EQ(tlcrash_async_cfe_register_decode_permutation(0, 7, codes),
            tlcrash_error_t::invalidArgument);
  EXPECT_EQ(tlcrash_async_cfe_register_decode_permutation(720, 5, codes),
            tlcrash_error_t::invalidArgument);
}

// ---- Lookup ------------------------------------------------------------

struct IndexEntry {
  std::uint32_t function;
  std::uint32_t page;  // an index into the pages, or none for the sentinel
  std::uint32_t lsda;
};
constexpr std::uint32_t kNoPage = 0xFFFFFFFF;

// An __unwind_info section: header, common encodings, personalities, the
// first-level index, LSDA descriptors, then the second-level pages.
struct SectionBuilder {
  std::vector<std::uint32_t> common;
  std::vector<std::uint32_t> personalities;
  std::vector<IndexEntry> index;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> lsdas;
  std::vector<Bytes> pages;

  std::uint32_t pageOffset(std::size_t page) const {
    std::uint32_t offset =
        28 + 4 * (common.size() + personalities.size()) + 12 * index.size() + 8 * lsdas.size();
    for (std::size_t i = 0; i < page; ++i)
      offset += static_cast<std::uint32_t>(pages[i].size());
    return offset;
  }

  Bytes build() const {
    const std::uint32_t commonOffset = 28;
    const auto personalityOffset = static_cast<std::uint32_t>(commonOffset + 4 * common.size());
    const auto indexOffset =
        static_cast<std::uint32_t>(personalityOffset + 4 * personalities.size());
    const auto lsdaOffset = static_cast<std::uint32_t>(indexOffset + 12 * index.size());
    Bytes out;
    out.u32(1).u32(commonOffset).u32(common.size()).u32(personalityOffset);
    out.u32(personalities.size()).u32(indexOffset).u32(index.size());
    for (const std::uint32_t encoding : common)
      out.u32(encoding);
    for (const std::uint32_t personality : personalities)
      out.u32(personality);
    for (const IndexEntry& entry : index)
      out.u32(entry.function)
          .u32(entry.page == kNoPage ? 0 : pageOffset(entry.page))
          .u32(lsdaOffset + 8 * entry.lsda);
    for (const auto& [function, lsda] : lsdas)
      out.u32(function).u32(lsda);
    for (const Bytes& page : pages)
      out.add(page);
    return out;
  }
};

Bytes regularPage(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
  Bytes page;
  page.u32(2).u16(8).u16(entries.size());
  for (const auto& [function, encoding] : entries)
    page.u32(function).u32(encoding);
  return page;
}

Bytes compressedPage(const std::vector<std::pair<std::uint32_t, std::uint8_t>>& entries,
                     const std::vector<std::uint32_t>& encodings) {
  Bytes page;
  page.u32(3).u16(12).u16(entries.size()).u16(12 + 4 * entries.size()).u16(encodings.size());
  for (const auto& [offset, index] : entries)
    page.u32(offset | std::uint32_t{index} << 24);
  for (const std::uint32_t encoding : encodings)
    page.u32(encoding);
  return page;
}

// Two common encodings, one personality, a regular page for the functions
// from 0x1000 and a compressed one for those from 0x2000 to 0x3000, the
// function at 0x1100 with an LSDA.
SectionBuilder twoPages() {
  SectionBuilder s;
  s.common = {0x01000000, 0x02020000};
  s.personalities = {0x2000};
  s.index = {{0x1000, 0, 0}, {0x2000, 1, 1}, {0x3000, kNoPage, 1}};
  s.lsdas = {{0x1100, 0x5000}};
  s.pages = {
      regularPage({{0x1000, 0x01010000}, {0x1100, 0x51000000}, {0x1200, 0x02030000}}),
      compressedPage({{0x000, 0}, {0x040, 1}, {0x100, 2}, {0x180, 3}}, {0x03014400, 0x04000040})};
  return s;
}

constexpr tlcrash_vm_address_t kSectionAddress = 0x40000;

// A reader over `bytes` mapped into `task`.
struct Mapped {
  FakeTask task;
  tlcrash_async_mobject mobj{};
  tlcrash_async_cfe_reader reader{};
  tlcrash_error_t init = tlcrash_error_t::unknown;

  explicit Mapped(const Bytes& bytes, cpu_type_t cpu = CPU_TYPE_X86_64) {
    EXPECT_TRUE(task.map(kSectionAddress, bytes.data()));
    EXPECT_EQ(tlcrash_async_mobject_init(&mobj, task, kSectionAddress, bytes.size(), true),
              tlcrash_error_t::success);
    init =
        tlcrash_async_cfe_reader_init(&reader, &mobj, cpu, tlcrash_async_byteorder_little_endian());
  }
  tlcrash_error_t find(std::uint64_t pc, std::uint64_t* base, std::uint32_t* encoding) const {
    return tlcrash_async_cfe_reader_find_pc(&reader, pc, base, encoding);
  }
};

TEST(CompactUnwindTest, FindsEntriesInRegularAndCompressedPages) {
  const SectionBuilder section = twoPages();
  const Mapped mapped(section.build());
  ASSERT_EQ(mapped.init, tlcrash_error_t::success);
  EXPECT_EQ(mapped.reader.header.personality_count, 1u);

  struct Case {
    std::uint64_t pc;
    std::uint64_t base;
    std::uint32_t encoding;
  };
  const Case cases[] = {
      {0x1000, 0x1000, 0x01010000},  // the first-level entry's own offset
      {0x10FF, 0x1000, 0x01010000},
      {0x1100, 0x1100, 0x51000000},  // with personality and LSDA bits
      {0x1250, 0x1200, 0x02030000},
      {0x1FFF, 0x1200, 0x02030000},  // a page's last entry runs to the next index entry
      {0x2000, 0x2000, 0x01000000},  // common encoding 0
      {0x2040, 0x2040, 0x02020000},  // common encoding 1
      {0x20FF, 0x2040, 0x02020000},
      {0x2100, 0x2100, 0x03014400},  // index = common count: the first page encoding
      {0x2180, 0x2180, 0x04000040},
      {0x2FFF, 0x2180, 0x04000040},
      {0x9000, 0x2180, 0x04000040},  // past the sentinel: the last real entry
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.pc);
    std::uint64_t base = 0;
    std::uint32_t encoding = 0;
    ASSERT_EQ(mapped.find(c.pc, &base, &encoding), tlcrash_error_t::success);
    EXPECT_EQ(base, c.base);
    EXPECT_EQ(encoding, c.encoding);
  }
  std::uint64_t base = 0;
  std::uint32_t encoding = 0;
  EXPECT_EQ(mapped.find(0xFFF, &base, &encoding), tlcrash_error_t::notFound);
  EXPECT_EQ(mapped.find(0, &base, &encoding), tlcrash_error_t::notFound);
}

TEST(CompactUnwindTest, FindsNothingWithoutRealIndexEntries) {
  for (const std::size_t entries : {0, 1}) {
    SectionBuilder section = twoPages();
    section.index.resize(entries);
    const Mapped mapped(section.build());
    std::uint64_t base = 0;
    std::uint32_t encoding = 0;
    EXPECT_EQ(mapped.find(0x1000, &base, &encoding), tlcrash_error_t::notFound);
  }
}

TEST(CompactUnwindTest, MalformedSectionsAnswerErrors) {
  const tlcrash_error_t invalid = tlcrash_error_t::invalidArgument;
  struct Case {
    const char* name;
    std::size_t offset;  // a word to overwrite, from the section start or page 0 or 1
    int page;            // -1: the section start
    std::uint64_t value;
    std::size_t size;
    std::uint64_t pc;
    tlcrash_error_t expected;
  };
  const Case cases[] = {
      {"common encodings past the end", 8, -1, 0x10000, 4, 0x1000, invalid},
      {"common encodings offset past the end", 4, -1, 0xFFFFFFF0, 4, 0x1000, invalid},
      {"index past the end", 24, -1, 0x10000, 4, 0x1000, invalid},
      {"page offset past the end", 28 + 12 + 4, -1, 0x7FFFFFF0, 4, 0x1000, invalid},
      {"unknown page kind", 0, 0, 4, 4, 0x1000, invalid},
      {"page kind 1", 0, 1, 1, 4, 0x2000, invalid},
      {"regular entries past the end", 6, 0, 0xFFFF, 2, 0x1000, invalid},
      {"regular entries offset past the end", 4, 0, 0xFFF0, 2, 0x1000, invalid},
      {"compressed entries past the end", 6, 1, 0xFFFF, 2, 0x2000, invalid},
      {"page encodings past the end", 10, 1, 0xFFFF, 2, 0x2100, invalid},
      {"encoding index past the page's", 10, 1, 1, 2, 0x2180, invalid},
      {"page encodings unused", 10, 1, 0xFFFF, 2, 0x2000, tlcrash_error_t::success},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SectionBuilder section = twoPages();
    Bytes bytes = section.build();
    const std::size_t start = c.page < 0 ? 0 : section.pageOffset(static_cast<std::size_t>(c.page));
    bytes.set(start + c.offset, c.value, c.size);
    const Mapped mapped(bytes);
    ASSERT_EQ(mapped.init, tlcrash_error_t::success);
    std::uint64_t base = 0;
    std::uint32_t encoding = 0;
    EXPECT_EQ(mapped.find(c.pc, &base, &encoding), c.expected);
  }
}

TEST(CompactUnwindTest, TheReaderChecksHeaderVersionAndProcessor) {
  const Bytes good = twoPages().build();
  EXPECT_EQ(Mapped(good, CPU_TYPE_X86).init, tlcrash_error_t::success);
  EXPECT_EQ(Mapped(good, CPU_TYPE_ARM64).init, tlcrash_error_t::success);
  EXPECT_EQ(Mapped(good, CPU_TYPE_ARM).init, tlcrash_error_t::notSupported);
  Bytes version = good;
  version.set(0, 2, 4);
  EXPECT_EQ(Mapped(version).init, tlcrash_error_t::notSupported);
  const Bytes shortHeader(std::vector<std::uint8_t>(good.data().begin(), good.data().begin() + 27));
  EXPECT_EQ(Mapped(shortHeader).init, tlcrash_error_t::invalidArgument);
}

// ---- Applying entries ---------------------------------------------------

tlcrash_async_thread_state frameState(cpu_type_t cpu, std::uint64_t ip, std::uint64_t sp,
                                      std::uint64_t fp) {
  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_init(&state, cpu);
  for (std::size_t reg = 0; reg < tlcrash_async_thread_state_get_reg_count(&state); ++reg)
    tlcrash_async_thread_state_set_reg(&state, static_cast<int>(reg), 0xEE00 + reg);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_IP, ip);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_SP, sp);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_FP, fp);
  return state;
}

std::uint64_t reg(const tlcrash_async_thread_state& state, int n) {
  EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, n)) << n;
  return tlcrash_async_thread_state_get_reg(&state, n);
}

std::vector<int> validRegisters(const tlcrash_async_thread_state& state) {
  std::vector<int> valid;
  for (std::size_t n = 0; n < tlcrash_async_thread_state_get_reg_count(&state); ++n)
    if (tlcrash_async_thread_state_has_reg(&state, static_cast<int>(n)))
      valid.push_back(static_cast<int>(n));
  return valid;
}

tlcrash_error_t apply(const FakeTask& task, std::uint64_t function,
                      const tlcrash_async_thread_state& current, cpu_type_t cpu,
                      std::uint32_t encoding, tlcrash_async_thread_state* next) {
  tlcrash_async_cfe_entry entry;
  EXPECT_EQ(tlcrash_async_cfe_entry_init(&entry, cpu, encoding), tlcrash_error_t::success);
  return tlcrash_async_cfe_entry_apply(task, function, &current, &entry, next);
}

TEST(CompactUnwindTest, AppliesAFramelessImmediateEntry) {
  // Stack size 32, rbx and r12 saved: they lie at SP + 8 and SP + 16, the
  // return address at SP + 24.
  const std::uint32_t codes[] = {1, 2};
  const std::uint32_t encoding =
      0x02040000 | 2 << 10 | tlcrash_async_cfe_register_encode_permutation(codes, 2);
  FakeTask task;
  const std::uint64_t sp = 0x7000;
  ASSERT_TRUE(task.map(sp, Bytes().u64(0).u64(0xB0B0).u64(0x1212).u64(0x4321).u64(0).data()));
  const auto current = frameState(CPU_TYPE_X86_64, 0x1234, sp, 0x9999);
  tlcrash_async_thread_state next{};
  ASSERT_EQ(apply(task, 0x1200, current, CPU_TYPE_X86_64, encoding, &next),
            tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), sp + 32);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x4321u);
  EXPECT_EQ(reg(next, 4), 0xB0B0u);   // rbx
  EXPECT_EQ(reg(next, 13), 0x1212u);  // r12
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0x9999u);
  EXPECT_EQ(reg(next, 14), 0xEE00u + 14);  // r13 kept from the callee
  EXPECT_EQ(validRegisters(next), (std::vector<int>{0, 1, 2, 4, 13, 14, 15, 16}));
}

TEST(CompactUnwindTest, AppliesAFrameBasedEntryWithAHole) {
  // rbx at FP - 24, nothing at FP - 16, r12 at FP - 8.
  FakeTask task;
  const std::uint64_t fp = 0x7018;
  ASSERT_TRUE(task.map(0x7000, Bytes()
                                   .u64(0xB0B0)  // rbx
                                   .u64(0xDEAD)  // hole
                                   .u64(0x1212)  // r12
                                   .u64(0x8000)  // the caller's frame pointer
                                   .u64(0x4321)  // return address
                                   .data()));
  const auto current = frameState(CPU_TYPE_X86_64, 0x1234, 0x6FF0, fp);
  tlcrash_async_thread_state next{};
  ASSERT_EQ(apply(task, 0x1200, current, CPU_TYPE_X86_64, 0x01030081, &next),
            tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), fp + 16);
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0x8000u);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x4321u);
  EXPECT_EQ(reg(next, 4), 0xB0B0u);
  EXPECT_EQ(reg(next, 13), 0x1212u);
  // The hole restored nothing: the other kept registers keep the callee's values.
  for (const int kept : {14, 15, 16})
    EXPECT_EQ(reg(next, kept), 0xEE00u + kept);
  EXPECT_EQ(validRegisters(next), (std::vector<int>{0, 1, 2, 4, 13, 14, 15, 16}));
}

TEST(CompactUnwindTest, AppliesAFramelessIndirectEntry) {
  // The stack size is the immediate of `subq $0x40, %rsp` at function + 4,
  // plus 16 for the pushed rbx and the return address.
  FakeTask task;
  const std::uint64_t function = 0x1000;
  ASSERT_TRUE(task.map(function, Bytes{0x53, 0x48, 0x81, 0xEC, 0x40, 0x00, 0x00, 0x00}.data()));
  const std::uint64_t sp = 0x7000;
  Bytes stack;
  for (int i = 0; i < 8; ++i)
    stack.u64(0);
  stack.u64(0xB0B0).u64(0x4321);
  ASSERT_TRUE(task.map(sp, stack.data()));
  const auto current = frameState(CPU_TYPE_X86_64, 0x1010, sp, 0x9999);
  tlcrash_async_thread_state next{};
  ASSERT_EQ(apply(task, function, current, CPU_TYPE_X86_64, 0x03044400, &next),
            tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), sp + 0x50);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x4321u);
  EXPECT_EQ(reg(next, 4), 0xB0B0u);
  // The code holding the stack size cannot be read.
  EXPECT_EQ(apply(task, 0x3000, current, CPU_TYPE_X86_64, 0x03044400, &next),
            tlcrash_error_t::notFound);
}

TEST(CompactUnwindTest, AppliesThirtyTwoBitEntries) {
  FakeTask task;
  const std::uint64_t sp = 0x7000;
  // Frameless, 20 bytes, ebx and esi: at SP + 8 and SP + 12, return address
  // at SP + 16.
  ASSERT_TRUE(task.map(sp, Bytes().u32(0).u32(0).u32(0xB0B0).u32(0x5151).u32(0x4321).data()));
  auto current = frameState(CPU_TYPE_X86, 0x1234, sp, 0x9999);
  tlcrash_async_thread_state next{};
  ASSERT_EQ(apply(task, 0x1200, current, CPU_TYPE_X86, 0x02050803, &next),
            tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), sp + 20);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x4321u);
  EXPECT_EQ(reg(next, 6), 0xB0B0u);  // ebx
  EXPECT_EQ(reg(next, 7), 0x5151u);  // esi
  EXPECT_EQ(reg(next, 8), 0xEE08u);  // edi kept
  EXPECT_EQ(validRegisters(next), (std::vector<int>{0, 1, 2, 6, 7, 8}));

  // Frame-based with ebx and edi below the frame pointer (offset -8).
  ASSERT_TRUE(task.map(0x8000, Bytes().u32(0xB1B1).u32(0xD1D1).u32(0x9000).u32(0x5678).data()));
  current = frameState(CPU_TYPE_X86, 0x1234, 0x7F00, 0x8008);
  ASSERT_EQ(apply(task, 0x1200, current, CPU_TYPE_X86, 0x01020021, &next),
            tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), 0x8010u);
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0x9000u);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x5678u);
  EXPECT_EQ(reg(next, 6), 0xB1B1u);
  EXPECT_EQ(reg(next, 8), 0xD1D1u);
}

TEST(CompactUnwindTest, ApplyingFailsWithoutWhatTheEntryNeeds) {
  FakeTask task;
  ASSERT_TRUE(task.map(0x7000, Bytes().u64(0).u64(0).data()));
  auto current = frameState(CPU_TYPE_X86_64, 0x1234, 0x7000, 0x7000);
  tlcrash_async_thread_state next{};
  struct Case {
    const char* name;
    std::uint32_t encoding;
    int cleared;  // a register made invalid, or -1
    std::uint64_t sp;
    tlcrash_error_t expected;
  };
  const Case cases[] = {
      {"frame-based without a frame pointer", 0x01000000, TLCRASH_REG_FP, 0x7000,
       tlcrash_error_t::notFound},
      {"frameless without a stack pointer", 0x02020000, TLCRASH_REG_SP, 0x7000,
       tlcrash_error_t::notFound},
      {"DWARF", 0x04000010, -1, 0x7000, tlcrash_error_t::notSupported},
      {"none", 0x00000000, -1, 0x7000, tlcrash_error_t::notSupported},
      {"return address unreadable", 0x02040000, -1, 0x7000, tlcrash_error_t::notFound},
      {"stack size past the address space", 0x02FF0000, -1, ~std::uint64_t{0} - 8,
       tlcrash_error_t::invalidArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto state = current;
    tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_SP, c.sp);
    if (c.cleared >= 0) tlcrash_async_thread_state_clear_reg(&state, c.cleared);
    tlcrash_async_thread_state untouched{};
    next = untouched;
    EXPECT_EQ(apply(task, 0x1200, state, CPU_TYPE_X86_64, c.encoding, &next), c.expected);
    EXPECT_EQ(std::memcmp(&next, &untouched, sizeof next), 0);
  }
}

// ---- The frame reader on a small image ---------------------------------

// An image at 0x1000 whose __TEXT,__unwind_info (at 0x1C00) has one regular
// page for the functions at 0x1800, 0x1840, 0x1880 and 0x18C0.
struct Image {
  FakeTask task;
  tlcrash_async_image_list list{};

  explicit Image(const std::vector<std::uint32_t>& encodings, bool withSection = true) {
    SectionBuilder s;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    for (std::size_t i = 0; i < encodings.size(); ++i)
      entries.emplace_back(0x800 + 0x40 * i, encodings[i]);
    s.index = {{0x800, 0, 0}, {0x900, kNoPage, 0}};
    s.pages = {regularPage(entries)};
    const Bytes section = s.build();
    std::vector<test::MachOBuilder::Section> sections = {{"__text", "__TEXT", 0x1800, 0x100}};
    if (withSection) sections.push_back({"__unwind_info", "__TEXT", 0x1C00, section.size()});
    auto image =
        test::MachOBuilder(true, false).segment("__TEXT", 0x1000, 0x1000, sections).build();
    std::copy(section.data().begin(), section.data().end(), image.begin() + 0xC00);
    EXPECT_TRUE(task.map(0x1000, image));
    EXPECT_TRUE(task.map(0x7000, Bytes().u64(0xB0B0).u64(0x4321).u64(0).data()));
    tlcrash_async_image_list_init(&list, task);
    EXPECT_EQ(tlcrash_async_image_list_append(&list, 0x1000, "synthetic"),
              tlcrash_error_t::success);
  }
  ~Image() { tlcrash_async_image_list_free(&list); }
};

TEST(CompactUnwindTest, TheFrameReaderHandsOverWhatItCannotUnwind) {
  using Error = tlcrash_async_frame_error_t;
  // 0x1800 frameless (16 bytes, rbx), 0x1840 none, 0x1880 DWARF, 0x18C0 mode 5.
  Image image({0x02020400, 0x00000000, 0x04000010, 0x05000000});
  struct Case {
    std::uint64_t ip;
    Error expected;
  };
  for (const Case& c : {Case{0x1810, Error::success}, Case{0x1850, Error::noFrames},
                        Case{0x1890, Error::noFrames}, Case{0x18D0, Error::notSupported},
                        Case{0x1700, Error::notSupported},  // below the first function
                        Case{0x5000, Error::notSupported},  // in no image
                        Case{0, Error::notSupported}}) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.ip);
    const auto current = frameState(CPU_TYPE_X86_64, c.ip, 0x7000, 0x9999);
    tlcrash_async_thread_state next{};
    ASSERT_EQ(
        tlcrash_async_frame_read_compact_unwind(image.task, &image.list, &current, nullptr, &next),
        c.expected);
    if (c.expected != Error::success) continue;
    EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x4321u);
    EXPECT_EQ(reg(next, TLCRASH_REG_SP), 0x7010u);
    EXPECT_EQ(reg(next, 4), 0xB0B0u);
  }

  auto current = frameState(CPU_TYPE_X86_64, 0x1810, 0x7000, 0x9999);
  tlcrash_async_thread_state next{};
  EXPECT_EQ(tlcrash_async_frame_read_compact_unwind(image.task, nullptr, &current, nullptr, &next),
            Error::notSupported);
  tlcrash_async_thread_state_clear_reg(&current, TLCRASH_REG_IP);
  EXPECT_EQ(
      tlcrash_async_frame_read_compact_unwind(image.task, &image.list, &current, nullptr, &next),
      Error::badFrame);
  // A frameless entry without a stack pointer cannot be applied.
  current = frameState(CPU_TYPE_X86_64, 0x1810, 0x7000, 0x9999);
  tlcrash_async_thread_state_clear_reg(&current, TLCRASH_REG_SP);
  EXPECT_EQ(
      tlcrash_async_frame_read_compact_unwind(image.task, &image.list, &current, nullptr, &next),
      Error::noFrames);
}

TEST(CompactUnwindTest, TheFrameReaderNeedsAUsableSection) {
  using Error = tlcrash_async_frame_error_t;
  const auto current = frameState(CPU_TYPE_X86_64, 0x1810, 0x7000, 0x9999);
  tlcrash_async_thread_state next{};
  {
    Image image({0x02020400}, false);
    EXPECT_EQ(
        tlcrash_async_frame_read_compact_unwind(image.task, &image.list, &current, nullptr, &next),
        Error::notSupported);
  }
  {
    Image image({0x02020400});
    ASSERT_TRUE(image.task.write(0x1C00, Bytes().u32(2).data()));  // version 2
    EXPECT_EQ(
        tlcrash_async_frame_read_compact_unwind(image.task, &image.list, &current, nullptr, &next),
        Error::invalidArgument);
  }
}

}  // namespace
}  // namespace tlcrash
