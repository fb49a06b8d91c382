#include "crashcapture/readers/dwarf/dwarf_encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {
namespace {

using testing::Bytes;
constexpr tlcrash_vm_address_t kBase = 0x10000;

TEST(DwarfLeb128Test, ReadsNumbersAndRefusesOverlongOnes) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    bool isSigned;
    tlcrash_error_t error;
    std::uint64_t value;
    tlcrash_vm_size_t size;
  };
  const std::vector<std::uint8_t> eleven(11, 0x80);
  std::vector<std::uint8_t> maxUnsigned(9, 0xFF);
  maxUnsigned.push_back(0x01);
  const Case cases[] = {
      {{0x02}, false, tlcrash_error_t::success, 2, 1},
      {{0xE5, 0x8E, 0x26}, false, tlcrash_error_t::success, 624485, 3},
      {maxUnsigned, false, tlcrash_error_t::success, UINT64_MAX, 10},
      {eleven, false, tlcrash_error_t::notSupported, 0, 0},
      {{0x80, 0x80}, false, tlcrash_error_t::invalidArgument, 0, 0},  // runs off the window
      {{0x7F}, true, tlcrash_error_t::success, static_cast<std::uint64_t>(-1), 1},
      {{0x3F}, true, tlcrash_error_t::success, 63, 1},
      {{0xC0, 0xBB, 0x78}, true, tlcrash_error_t::success, static_cast<std::uint64_t>(-123456), 3},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
       true,
       tlcrash_error_t::success,
       static_cast<std::uint64_t>(-1),
       10},
      {eleven, true, tlcrash_error_t::notSupported, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    FakeTask task;
    ASSERT_TRUE(task.map(kBase, c.bytes));
    const dwarf_memory memory(task, kBase, c.bytes.size());
    std::uint64_t value = 0;
    tlcrash_vm_size_t size = 0;
    tlcrash_error_t error;
    if (c.isSigned) {
      std::int64_t signedValue = 0;
      error = tlcrash_async_dwarf_read_sleb128(memory, kBase, 0, &signedValue, &size);
      value = static_cast<std::uint64_t>(signedValue);
    } else {
      error = tlcrash_async_dwarf_read_uleb128(memory, kBase, 0, &value, &size);
    }
    EXPECT_EQ(error, c.error);
    if (c.error != tlcrash_error_t::success) continue;
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(size, c.size);
    // The task forms read the same through a window of their own.
    std::uint64_t taskValue = 0;
    tlcrash_vm_size_t taskSize = 0;
    if (c.isSigned) {
      std::int64_t signedValue = 0;
      ASSERT_EQ(tlcrash_async_dwarf_read_task_sleb128(task, kBase - 4, 4, &signedValue, &taskSize),
                tlcrash_error_t::success);
      taskValue = static_cast<std::uint64_t>(signedValue);
    } else {
      ASSERT_EQ(tlcrash_async_dwarf_read_task_uleb128(task, kBase - 4, 4, &taskValue, &taskSize),
                tlcrash_error_t::success);
    }
    EXPECT_EQ(taskValue, c.value);
    EXPECT_EQ(taskSize, c.size);
  }
}

TEST(DwarfLeb128Test, TaskFormsRefuseAnOverflowingAddress) {
  FakeTask task;
  std::uint64_t value = 0;
  tlcrash_vm_size_t size = 0;
  EXPECT_EQ(tlcrash_async_dwarf_read_task_uleb128(task, UINT64_MAX, 1, &value, &size),
            tlcrash_error_t::invalidArgument);
  EXPECT_EQ(tlcrash_async_dwarf_read_task_uleb128(task, 0x5000, 0, &value, &size),
            tlcrash_error_t::notFound);
}

// One pointer read in every value format and application.
TEST(DwarfEhPointerTest, ReadsEveryFormatAndApplication) {
  struct Case {
    const char* name;
    Bytes bytes;  // the field at kBase + 2 (after two filler bytes)
    std::uint8_t encoding;
    bool m64;
    tlcrash_error_t error;
    std::uint64_t value;
    tlcrash_vm_size_t size;
  };
  const std::uint64_t field = kBase + 2;
  const Case cases[] = {
      {"absptr 64", Bytes().u64(0x1122334455667788), DW_EH_PE_absptr, true,
       tlcrash_error_t::success, 0x1122334455667788, 8},
      {"absptr 32", Bytes().u32(0x11223344), DW_EH_PE_absptr, false, tlcrash_error_t::success,
       0x11223344, 4},
      {"uleb128", Bytes().uleb(300), DW_EH_PE_uleb128, true, tlcrash_error_t::success, 300, 2},
      {"udata2", Bytes().u16(0xFFFE), DW_EH_PE_udata2, true, tlcrash_error_t::success, 0xFFFE, 2},
      {"udata4", Bytes().u32(0xFFFFFFFE), DW_EH_PE_udata4, true, tlcrash_error_t::success,
       0xFFFFFFFE, 4},
      {"udata8", Bytes().u64(0x8000000000000001), DW_EH_PE_udata8, true, tlcrash_error_t::success,
       0x8000000000000001, 8},
      {"sleb128", Bytes().sleb(-2), DW_EH_PE_sleb128, true, tlcrash_error_t::success,
       static_cast<std::uint64_t>(-2), 1},
      {"sdata2", Bytes().u16(0xFFFE), DW_EH_PE_sdata2, true, tlcrash_error_t::success,
       static_cast<std::uint64_t>(-2), 2},
      {"sdata4", Bytes().u32(0xFFFFFFFE), DW_EH_PE_sdata4, true, tlcrash_error_t::success,
       static_cast<std::uint64_t>(-2), 4},
      {"sdata4 on 32 bits", Bytes().u32(0xFFFFFFFE), DW_EH_PE_sdata4, false,
       tlcrash_error_t::success, 0xFFFFFFFE, 4},
      {"sdata8", Bytes().u64(static_cast<std::uint64_t>(-3)), DW_EH_PE_sdata8, true,
       tlcrash_error_t::success, static_cast<std::uint64_t>(-3), 8},
      {"pcrel sdata4", Bytes().u32(static_cast<std::uint32_t>(-0x10)),
       DW_EH_PE_pcrel | DW_EH_PE_sdata4, true, tlcrash_error_t::success, field - 0x10, 4},
      {"pcrel 32-bit wraps", Bytes().u32(0x100), DW_EH_PE_pcrel | DW_EH_PE_udata4, false,
       tlcrash_error_t::success, field + 0x100, 4},
      {"textrel without base", Bytes().u32(1), DW_EH_PE_textrel | DW_EH_PE_udata4, true,
       tlcrash_error_t::notSupported, 0, 0},
      {"datarel without base", Bytes().u32(1), DW_EH_PE_datarel | DW_EH_PE_udata4, true,
       tlcrash_error_t::notSupported, 0, 0},
      {"funcrel without base", Bytes().u32(1), DW_EH_PE_funcrel | DW_EH_PE_udata4, true,
       tlcrash_error_t::notSupported, 0, 0},
      {"aligned without base", Bytes().u64(1), DW_EH_PE_aligned, true,
       tlcrash_error_t::notSupported, 0, 0},
      {"application 6", Bytes().u32(1), 0x60 | DW_EH_PE_udata4, true, tlcrash_error_t::notSupported,
       0, 0},
      {"application 7", Bytes().u32(1), 0x70 | DW_EH_PE_udata4, true, tlcrash_error_t::notSupported,
       0, 0},
      {"format 5", Bytes().u32(1), 0x05, true, tlcrash_error_t::notSupported, 0, 0},
      {"format 13", Bytes().u32(1), 0x0D, true, tlcrash_error_t::notSupported, 0, 0},
      {"omit", Bytes().u32(1), DW_EH_PE_omit, true, tlcrash_error_t::notFound, 0, 0},
      {"field past the window", Bytes().u16(1), DW_EH_PE_udata4, true,
       tlcrash_error_t::invalidArgument, 0, 0},
      {"indirect", Bytes().u64(0x20000), DW_EH_PE_indirect | DW_EH_PE_absptr, true,
       tlcrash_error_t::success, 0xCAFEF00D, 8},
      {"indirect 32", Bytes().u32(0x20000), DW_EH_PE_indirect | DW_EH_PE_udata4, false,
       tlcrash_error_t::success, 0xCAFEF00D, 4},
      {"indirect unmapped", Bytes().u64(0x30000), DW_EH_PE_indirect | DW_EH_PE_absptr, true,
       tlcrash_error_t::notFound, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTask task;
    const Bytes bytes = Bytes({0xAA, 0xAA}).add(c.bytes);
    ASSERT_TRUE(task.map(kBase, bytes.data()));
    ASSERT_TRUE(task.map(0x20000, Bytes().u64(0xCAFEF00D).data()));
    const dwarf_memory memory(task, kBase, bytes.size());
    std::uint64_t value = 0;
    tlcrash_vm_size_t size = 0;
    tlcrash_error_t error;
    if (c.m64) {
      const gnu_ehptr_reader<std::uint64_t> reader(tlcrash_async_byteorder_little_endian());
      error = reader.read(memory, kBase, 2, c.encoding, &value, &size);
    } else {
      const gnu_ehptr_reader<std::uint32_t> reader(tlcrash_async_byteorder_little_endian());
      std::uint32_t value32 = 0;
      error = reader.read(memory, kBase, 2, c.encoding, &value32, &size);
      value = value32;
    }
    EXPECT_EQ(error, c.error);
    if (c.error != tlcrash_error_t::success) continue;
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(size, c.size);
  }
}

TEST(DwarfEhPointerTest, UsesTheBasesOnceTheyAreSet) {
  FakeTask task;
  const Bytes bytes = Bytes({0xAA, 0xAA, 0xAA, 0, 0, 0, 0, 0}).u64(0x40).u32(0x10);
  ASSERT_TRUE(task.map(kBase, bytes.data()));
  const dwarf_memory memory(task, kBase, bytes.size());
  gnu_ehptr_reader<std::uint64_t> reader(tlcrash_async_byteorder_little_endian());
  reader.set_text_base(0x1000);
  reader.set_data_base(0x2000);
  reader.set_func_base(0x3000);
  reader.set_frame_section_base(kBase);
  std::uint64_t value = 0;
  tlcrash_vm_size_t size = 0;
  ASSERT_EQ(reader.read(memory, kBase, 16, DW_EH_PE_textrel | DW_EH_PE_udata4, &value, &size),
            tlcrash_error_t::success);
  EXPECT_EQ(value, 0x1010u);
  ASSERT_EQ(reader.read(memory, kBase, 16, DW_EH_PE_datarel | DW_EH_PE_udata4, &value, &size),
            tlcrash_error_t::success);
  EXPECT_EQ(value, 0x2010u);
  ASSERT_EQ(reader.read(memory, kBase, 16, DW_EH_PE_funcrel | DW_EH_PE_udata4, &value, &size),
            tlcrash_error_t::success);
  EXPECT_EQ(value, 0x3010u);
  // Aligned: from offset 3 the word starts at the next multiple of 8, and the
  // padding counts in the size.
  ASSERT_EQ(reader.read(memory, kBase, 3, DW_EH_PE_aligned, &value, &size),
            tlcrash_error_t::success);
  EXPECT_EQ(value, 0x40u);
  EXPECT_EQ(size, 5u + 8u);
}

}  // namespace
}  // namespace tlcrash::async
