#include "crashcapture/readers/core/memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/linux/self_task.h"

namespace tlcrash {
namespace {

constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
constexpr auto kMinOffset = std::numeric_limits<std::int64_t>::min();
constexpr auto kMaxOffset = std::numeric_limits<std::int64_t>::max();

TEST(AddressApplyOffsetTest, AddsWithinTheAddressSpaceAndRefusesToWrap) {
  struct Case {
    std::uint64_t base;
    std::int64_t offset;
    bool ok;
    std::uint64_t result;
  };
  const Case cases[] = {
      {0x1000, 0x10, true, 0x1010},
      {0x1000, -0x10, true, 0xFF0},
      {0x1000, -0x1000, true, 0},
      {0x1000, -0x1001, false, 0},
      {0, 0, true, 0},
      {kMax, 0, true, kMax},
      {kMax - 1, 1, true, kMax},
      {kMax, 1, false, 0},
      {kMax, kMaxOffset, false, 0},
      {kMax, kMinOffset, true, kMax - (std::uint64_t{1} << 63)},
      {(std::uint64_t{1} << 63) - 1, kMinOffset, false, 0},
      {std::uint64_t{1} << 63, kMinOffset, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.base << " + " << std::dec << c.offset);
    std::uint64_t result = 0xAAAA;
    EXPECT_EQ(tlcrash_async_address_apply_offset(c.base, c.offset, &result), c.ok);
    EXPECT_EQ(result, c.ok ? c.result : 0xAAAA);
  }
}

// Counts the reads that reach the task.
class CountingTask final : public Task {
 public:
  explicit CountingTask(const Task& inner) : inner_(inner) {}
  kern_return_t read(tlcrash_vm_address_t address, void* destination,
                     std::size_t length) const noexcept override {
    ++reads;
    return inner_.read(address, destination, length);
  }
  std::size_t readablePrefix(tlcrash_vm_address_t address,
                             std::size_t length) const noexcept override {
    return inner_.readablePrefix(address, length);
  }
  mutable int reads = 0;

 private:
  const Task& inner_;
};

class TaskMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    // 0x1000: 01 02 03 04 05 06 07 08 | 0x1008: 11 12 13 14 15 16 17 18 (adjacent)
    // 0x1010-0x101F unmapped | 0x1020: 16 unreadable bytes
    ASSERT_TRUE(task.map(0x1000, std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(task.map(
        0x1008, std::vector<std::uint8_t>{0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
    ASSERT_TRUE(task.mapUnreadable(0x1020, 16));
  }
  FakeTask task;
};

TEST_F(TaskMemoryTest, CopiesAcrossTheEdgeOfAdjacentRegionsWithAnOffset) {
  std::uint8_t bytes[4] = {};
  EXPECT_EQ(tlcrash_async_task_memcpy(task, 0x1010, -10, bytes, sizeof bytes),
            tlcrash_error_t::success);
  EXPECT_EQ(bytes[0], 7);
  EXPECT_EQ(bytes[1], 8);
  EXPECT_EQ(bytes[2], 0x11);
  EXPECT_EQ(bytes[3], 0x12);
}

TEST_F(TaskMemoryTest, MapsEachKindOfFailureToItsCode) {
  struct Case {
    std::uint64_t address;
    std::int64_t offset;
    std::size_t length;
    tlcrash_error_t expected;
  };
  const Case cases[] = {
      {0x100C, 0, 4, tlcrash_error_t::success},
      {0x100C, 0, 5, tlcrash_error_t::notFound},  // runs into the gap
      {0x2000, 0, 1, tlcrash_error_t::notFound},
      {0x1020, 0, 1, tlcrash_error_t::accessDenied},
      {0x1000, 0x20, 1, tlcrash_error_t::accessDenied},
      {0x0FFF, 0, 2, tlcrash_error_t::notFound},  // starts before the first region
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.address << "+" << c.offset << " x" << c.length);
    std::uint8_t bytes[8] = {};
    EXPECT_EQ(tlcrash_async_task_memcpy(task, c.address, c.offset, bytes, c.length), c.expected);
  }
}

TEST_F(TaskMemoryTest, AnAddressThatOverflowsIsRefusedBeforeTheTaskIsRead) {
  CountingTask counting(task);
  std::uint8_t byte = 0;
  EXPECT_EQ(tlcrash_async_task_memcpy(counting, kMax, 1, &byte, 1), tlcrash_error_t::noMemory);
  EXPECT_EQ(tlcrash_async_task_memcpy(counting, 0x10, -0x11, &byte, 1), tlcrash_error_t::noMemory);
  EXPECT_EQ(counting.reads, 0);
}

TEST_F(TaskMemoryTest, TypedReadsConvertFromTheTargetsByteOrder) {
  const auto* little = tlcrash_async_byteorder_little_endian();
  const auto* big = tlcrash_async_byteorder_big_endian();
  std::uint8_t u8 = 0;
  std::uint16_t u16 = 0;
  std::uint32_t u32 = 0;
  std::uint64_t u64 = 0;
  ASSERT_EQ(tlcrash_async_task_read_uint8(task, 0x1000, 7, &u8), tlcrash_error_t::success);
  EXPECT_EQ(u8, 8);
  ASSERT_EQ(tlcrash_async_task_read_uint16(task, little, 0x1000, 0, &u16),
            tlcrash_error_t::success);
  EXPECT_EQ(u16, 0x0201);
  ASSERT_EQ(tlcrash_async_task_read_uint16(task, big, 0x1000, 0, &u16), tlcrash_error_t::success);
  EXPECT_EQ(u16, 0x0102);
  ASSERT_EQ(tlcrash_async_task_read_uint32(task, big, 0x1006, 0, &u32), tlcrash_error_t::success);
  EXPECT_EQ(u32, 0x07081112u);
  ASSERT_EQ(tlcrash_async_task_read_uint64(task, little, 0x1000, 0, &u64),
            tlcrash_error_t::success);
  EXPECT_EQ(u64, 0x0807060504030201u);
  ASSERT_EQ(tlcrash_async_task_read_uint64(task, big, 0x1000, 0, &u64), tlcrash_error_t::success);
  EXPECT_EQ(u64, 0x0102030405060708u);
}

TEST_F(TaskMemoryTest, AFailedTypedReadLeavesTheResultAlone) {
  std::uint64_t u64 = 42;
  EXPECT_EQ(tlcrash_async_task_read_uint64(task, tlcrash_async_byteorder_direct(), 0x100C, 0, &u64),
            tlcrash_error_t::notFound);
  EXPECT_EQ(u64, 42u);
}

TEST(ByteOrderTest, TheSwappedTableReversesEachWidthAndTheDirectOneKeepsIt) {
  const auto* swapped = tlcrash_async_byteorder_swapped();
  const auto* direct = tlcrash_async_byteorder_direct();
  EXPECT_EQ(swapped->swap16(0x1234), 0x3412);
  EXPECT_EQ(swapped->swap32(0x12345678u), 0x78563412u);
  EXPECT_EQ(swapped->swap64(0x0102030405060708u), 0x0807060504030201u);
  EXPECT_EQ(direct->swap16(0x1234), 0x1234);
  EXPECT_EQ(direct->swap32(0x12345678u), 0x12345678u);
  EXPECT_EQ(direct->swap64(0x0102030405060708u), 0x0102030405060708u);
}

TEST(SelfTaskMemoryTest, ReadsTheOwnProcessAndAnswersAnErrorForUnmappedMemory) {
  SelfTask self;
  const long page = ::sysconf(_SC_PAGESIZE);
  void* mapping = ::mmap(nullptr, static_cast<std::size_t>(2 * page), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  auto* bytes = static_cast<std::uint8_t*>(mapping);
  bytes[page - 1] = 0xAB;
  ASSERT_EQ(::munmap(bytes + page, static_cast<std::size_t>(page)), 0);
  const auto base = reinterpret_cast<std::uint64_t>(bytes);

  std::uint8_t byte = 0;
  EXPECT_EQ(tlcrash_async_task_read_uint8(self, base, page - 1, &byte), tlcrash_error_t::success);
  EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(tlcrash_async_task_read_uint8(self, base, page, &byte), tlcrash_error_t::notFound);
  std::uint16_t across = 0;
  EXPECT_EQ(tlcrash_async_task_read_uint16(self, tlcrash_async_byteorder_direct(), base, page - 1,
                                           &across),
            tlcrash_error_t::notFound);
  EXPECT_EQ(tlcrash_async_task_read_uint8(self, 0, 0, &byte), tlcrash_error_t::notFound);
  ::munmap(bytes, static_cast<std::size_t>(page));
}

}  // namespace
}  // namespace tlcrash
