#include "crashcapture/platform/fake/fake_task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace tlcrash {
namespace {

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t first) {
  std::vector<std::uint8_t> out(count);
  for (std::size_t i = 0; i < count; ++i)
    out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

TEST(FakeTaskTest, RefusesRegionsThatOverlapAreEmptyOrWrapTheAddressSpace) {
  FakeTask task;
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  EXPECT_TRUE(task.map(0x100, bytes(16, 0)));
  EXPECT_FALSE(task.map(0x10F, bytes(1, 0)));
  EXPECT_FALSE(task.map(0xF8, bytes(9, 0)));
  EXPECT_FALSE(task.mapUnreadable(0x104, 2));
  EXPECT_FALSE(task.map(0x200, {}));
  EXPECT_TRUE(task.map(0xF8, bytes(8, 0)));
  EXPECT_TRUE(task.map(0x110, bytes(1, 0)));
  EXPECT_TRUE(task.map(kMax - 1, bytes(2, 0)));
  EXPECT_FALSE(task.map(kMax - 5, bytes(7, 0)));
  std::uint8_t out[2] = {};
  EXPECT_EQ(task.read(kMax - 1, out, 2), KERN_SUCCESS);
  EXPECT_EQ(task.read(kMax, out, 2), KERN_INVALID_ADDRESS);  // would wrap to 0
}

TEST(FakeTaskTest, ReadsAcrossAdjacentRegionsAndFailsWithoutCopyingOtherwise) {
  FakeTask task;
  ASSERT_TRUE(task.map(0x1000, bytes(4, 0x10)));
  ASSERT_TRUE(task.map(0x1004, bytes(4, 0x20)));
  ASSERT_TRUE(task.mapUnreadable(0x1008, 4));
  ASSERT_TRUE(task.map(0x1010, bytes(4, 0x30)));

  std::uint8_t out[6] = {};
  ASSERT_EQ(task.read(0x1002, out, 4), KERN_SUCCESS);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[3], 0x21);

  const std::uint8_t untouched[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  struct Case {
    std::uint64_t address;
    std::size_t length;
    kern_return_t expected;
  };
  const Case cases[] = {
      {0x1006, 4, KERN_PROTECTION_FAILURE},  // readable, then unreadable
      {0x100E, 4, KERN_INVALID_ADDRESS},     // unmapped gap first
      {0x1008, 1, KERN_PROTECTION_FAILURE}, {0x0FFF, 2, KERN_INVALID_ADDRESS},
      {0x1012, 4, KERN_INVALID_ADDRESS},  // runs past the last region
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address << " x" << c.length);
    std::memcpy(out, untouched, sizeof out);
    EXPECT_EQ(task.read(c.address, out, c.length), c.expected);
    EXPECT_EQ(std::memcmp(out, untouched, sizeof out), 0);
  }
  EXPECT_EQ(task.read(0x5000, out, 0), KERN_SUCCESS);
}

TEST(FakeTaskTest, TheReadablePrefixEndsAtTheFirstGapOrUnreadableByte) {
  FakeTask task;
  ASSERT_TRUE(task.map(0x1000, bytes(4, 0)));
  ASSERT_TRUE(task.map(0x1004, bytes(4, 0)));
  ASSERT_TRUE(task.mapUnreadable(0x1008, 4));
  ASSERT_TRUE(task.map(0x2000, bytes(8, 0)));
  struct Case {
    std::uint64_t address;
    std::size_t length;
    std::size_t prefix;
  };
  const Case cases[] = {
      {0x1000, 100, 8}, {0x1002, 3, 3}, {0x1006, 10, 2}, {0x1008, 4, 0},
      {0x2004, 100, 4}, {0x3000, 4, 0}, {0x1000, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address << " x" << c.length);
    EXPECT_EQ(task.readablePrefix(c.address, c.length), c.prefix);
  }
}

TEST(FakeTaskTest, LendsViewsInsideOneReadableRegionOnly) {
  FakeTask task;
  ASSERT_TRUE(task.map(0x1000, bytes(4, 10)));
  ASSERT_TRUE(task.map(0x1004, bytes(4, 20)));
  ASSERT_TRUE(task.mapUnreadable(0x1008, 4));
  const std::uint8_t* view = task.localView(0x1001, 3);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 11);
  EXPECT_EQ(view[2], 13);
  EXPECT_EQ(task.localView(0x1002, 4), nullptr);  // into the adjacent region
  EXPECT_EQ(task.localView(0x1008, 1), nullptr);  // unreadable
  EXPECT_EQ(task.localView(0x2000, 1), nullptr);  // unmapped
  EXPECT_EQ(task.localView(0x1000, 0), nullptr);
  ASSERT_TRUE(task.write(0x1002, bytes(1, 99)));
  EXPECT_EQ(view[1], 99);
}

TEST(FakeTaskTest, WritesPatchMappedBytesOnly) {
  FakeTask task;
  ASSERT_TRUE(task.map(0x1000, bytes(4, 0)));
  ASSERT_TRUE(task.map(0x1004, bytes(4, 0)));
  EXPECT_TRUE(task.write(0x1003, std::vector<std::uint8_t>{0xAA, 0xBB}));
  EXPECT_FALSE(task.write(0x1007, std::vector<std::uint8_t>{0xCC, 0xDD}));
  std::uint8_t out[8] = {};
  ASSERT_EQ(task.read(0x1000, out, 8), KERN_SUCCESS);
  EXPECT_EQ(out[3], 0xAA);
  EXPECT_EQ(out[4], 0xBB);
  EXPECT_EQ(out[7], 3);
}

}  // namespace
}  // namespace tlcrash
