#include "crashcapture/platform/cached_task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"

namespace tlcrash {
namespace {

// Two readable blocks, then one that is only partly mapped: reads from the
// cache give what the task gives, errors included, and small reads close
// together cost one read of the task per block.
TEST(CachedTaskTest, AnswersAsTheTaskDoesWithOneReadPerBlock) {
  constexpr tlcrash_vm_address_t kBase = 0x10000;
  constexpr std::size_t kBlock = CachedTask::kBlockSize;
  FakeTask task;
  std::vector<std::uint8_t> bytes(2 * kBlock + 100);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(task.map(kBase, bytes));
  const CachedTask cached(task);

  // Every word of the first two blocks, one at a time.
  for (std::size_t offset = 0; offset + 8 <= 2 * kBlock; offset += 8) {
    std::uint64_t word = 0;
    std::uint64_t expected = 0;
    ASSERT_EQ(cached.read(kBase + offset, &word, sizeof word), KERN_SUCCESS);
    ASSERT_EQ(task.read(kBase + offset, &expected, sizeof expected), KERN_SUCCESS);
    EXPECT_EQ(word, expected) << offset;
  }
  EXPECT_EQ(cached.baseReads(), 2u);

  // Across the two blocks, both kept.
  std::uint8_t across[16];
  ASSERT_EQ(cached.read(kBase + kBlock - 8, across, sizeof across), KERN_SUCCESS);
  EXPECT_EQ(across[0], bytes[kBlock - 8]);
  EXPECT_EQ(across[15], bytes[kBlock + 7]);
  EXPECT_EQ(cached.baseReads(), 2u);

  // The third block is mapped only in part: what is mapped reads, what is
  // not fails as it does in the task.
  std::uint8_t tail[100];
  ASSERT_EQ(cached.read(kBase + 2 * kBlock, tail, sizeof tail), KERN_SUCCESS);
  EXPECT_EQ(tail[99], bytes[2 * kBlock + 99]);
  std::uint8_t beyond[101];
  EXPECT_EQ(cached.read(kBase + 2 * kBlock, beyond, sizeof beyond),
            task.read(kBase + 2 * kBlock, beyond, sizeof beyond));
  EXPECT_NE(cached.read(kBase + 2 * kBlock, beyond, sizeof beyond), KERN_SUCCESS);
  EXPECT_EQ(cached.read(0x900000, beyond, 1), task.read(0x900000, beyond, 1));
}

}  // namespace
}  // namespace tlcrash
