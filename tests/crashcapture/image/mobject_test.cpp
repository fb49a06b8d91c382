// Memory objects: views cut to what is readable, and every access checked
// against the view.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {
namespace {

constexpr tlcrash_vm_address_t kBase = 0x10000;

class MobjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::uint8_t> bytes(0x100);
    for (std::size_t index = 0; index < bytes.size(); ++index)
      bytes[index] = static_cast<std::uint8_t>(index);
    ASSERT_TRUE(task_.map(kBase, bytes));
  }
  FakeTask task_;
};

TEST_F(MobjectTest, AViewIsCutToTheReadablePrefixUnlessAllIsRequired) {
  tlcrash_async_mobject object;
  ASSERT_EQ(tlcrash_async_mobject_init(&object, task_, kBase + 0x10, 0x1000, false),
            tlcrash_error_t::success);
  EXPECT_EQ(tlcrash_async_mobject_base_address(&object), kBase + 0x10);
  EXPECT_EQ(tlcrash_async_mobject_length(&object), 0xf0u);
  EXPECT_EQ(tlcrash_async_mobject_init(&object, task_, kBase + 0x10, 0x1000, true),
            tlcrash_error_t::noMemory);
  EXPECT_EQ(tlcrash_async_mobject_init(&object, task_, kBase + 0x200, 4, false),
            tlcrash_error_t::noMemory);
  EXPECT_EQ(tlcrash_async_mobject_init(&object, task_, kBase, 0, false), tlcrash_error_t::noMemory);
}

TEST_F(MobjectTest, ReadsInsideSucceedAndOutsideFail) {
  tlcrash_async_mobject object;
  ASSERT_EQ(tlcrash_async_mobject_init(&object, task_, kBase + 0x10, 0x20, true),
            tlcrash_error_t::success);
  const auto* order = tlcrash_async_byteorder_little_endian();
  std::uint32_t word = 0;
  EXPECT_EQ(tlcrash_async_mobject_read_uint32(&object, order, kBase + 0x10, 4, &word),
            tlcrash_error_t::success);
  EXPECT_EQ(word, 0x17161514u);
  std::uint64_t wide = 0;
  EXPECT_EQ(tlcrash_async_mobject_read_uint64(&object, order, kBase + 0x28, 0, &wide),
            tlcrash_error_t::success);
  // Crossing the end, before the start, and an offset that wraps around.
  EXPECT_EQ(tlcrash_async_mobject_read_uint64(&object, order, kBase + 0x29, 0, &wide),
            tlcrash_error_t::invalidArgument);
  EXPECT_EQ(tlcrash_async_mobject_read_uint32(&object, order, kBase + 0x10, -1, &word),
            tlcrash_error_t::invalidArgument);
  EXPECT_EQ(tlcrash_async_mobject_read_uint32(&object, order, UINT64_MAX, 2, &word),
            tlcrash_error_t::invalidArgument);
  std::uint16_t half = 0;
  EXPECT_EQ(tlcrash_async_mobject_read_uint16(&object, tlcrash_async_byteorder_big_endian(),
                                              kBase + 0x2e, 0, &half),
            tlcrash_error_t::success);
  EXPECT_EQ(half, 0x2e2f);
  std::uint8_t byte = 0;
  EXPECT_EQ(tlcrash_async_mobject_read_uint8(&object, kBase + 0x30, 0, &byte),
            tlcrash_error_t::invalidArgument);
}

TEST_F(MobjectTest, LocalPointersAreCheckedWithoutOverflow) {
  tlcrash_async_mobject object;
  ASSERT_EQ(tlcrash_async_mobject_init(&object, task_, kBase, 0x40, true),
            tlcrash_error_t::success);
  const std::uint8_t* local = tlcrash_async_mobject_remap_address(&object, kBase, 0x3c, 4);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(*local, 0x3c);
  EXPECT_EQ(tlcrash_async_mobject_remap_address(&object, kBase, 0x3d, 4), nullptr);
  EXPECT_TRUE(tlcrash_async_mobject_verify_local_pointer(&object, local, 0, 4));
  EXPECT_FALSE(tlcrash_async_mobject_verify_local_pointer(&object, local, 1, 4));
  EXPECT_FALSE(tlcrash_async_mobject_verify_local_pointer(&object, local, SIZE_MAX, 2));
  EXPECT_FALSE(tlcrash_async_mobject_verify_local_pointer(&object, local, 0, SIZE_MAX));
  EXPECT_FALSE(tlcrash_async_mobject_verify_local_pointer(&object, local - 0x3d, 0, 1));
}

TEST(MobjectSelfTaskTest, ViewsTheOwnMemoryInPlace) {
  const SelfTask task;
  static const std::uint8_t kBytes[] = {1, 2, 3, 4};
  tlcrash_async_mobject object;
  ASSERT_EQ(tlcrash_async_mobject_init(&object, task, reinterpret_cast<std::uintptr_t>(kBytes),
                                       sizeof kBytes, true),
            tlcrash_error_t::success);
  EXPECT_EQ(object.local, kBytes);
  EXPECT_EQ(tlcrash_async_mobject_init(&object, task, 8, 16, false), tlcrash_error_t::noMemory);
}

}  // namespace
}  // namespace tlcrash
