#include "crashcapture/platform/linux/self_task.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tlcrash {
namespace {

// Three pages: readable, readable, then one that may not be read; the page
// after them is unmapped.
class SelfTaskTest : public testing::Test {
 protected:
  void SetUp() override {
    page = task.pageSize();
    void* mapping =
        ::mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    memory = static_cast<std::uint8_t*>(mapping);
    for (std::size_t i = 0; i < 2 * page; ++i)
      memory[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(::mprotect(memory + 2 * page, page, PROT_NONE), 0);
    ASSERT_EQ(::munmap(memory + 3 * page, page), 0);
  }
  void TearDown() override {
    if (memory != nullptr) ::munmap(memory, 3 * page);
  }
  std::uint64_t at(std::size_t offset) const {
    return reinterpret_cast<std::uint64_t>(memory) + offset;
  }

  SelfTask task;
  std::size_t page = 0;
  std::uint8_t* memory = nullptr;
};

TEST_F(SelfTaskTest, ReadsMemoryThatCanBeRead) {
  std::uint8_t out[64] = {};
  ASSERT_EQ(task.read(at(page - 32), out, sizeof out), KERN_SUCCESS);
  EXPECT_EQ(std::memcmp(out, memory + page - 32, sizeof out), 0);
  EXPECT_EQ(task.read(at(0), out, 0), KERN_SUCCESS);
}

TEST_F(SelfTaskTest, AnswersAnErrorForUnreadableMemoryWithoutFaulting) {
  std::uint8_t out[16] = {};
  errno = 1234;
  EXPECT_EQ(task.read(at(3 * page), out, 1), KERN_INVALID_ADDRESS);
  EXPECT_EQ(task.read(at(2 * page), out, 1), KERN_INVALID_ADDRESS);
  EXPECT_EQ(task.read(at(2 * page - 8), out, sizeof out), KERN_INVALID_ADDRESS);
  EXPECT_EQ(task.read(0, out, 1), KERN_INVALID_ADDRESS);
  EXPECT_EQ(task.read(~std::uint64_t{0} - 4, out, 8), KERN_INVALID_ADDRESS);
  EXPECT_EQ(errno, 1234);
}

TEST_F(SelfTaskTest, TheReadablePrefixEndsWhereTheReadablePagesEnd) {
  struct Case {
    std::size_t offset;
    std::size_t length;
    std::size_t prefix;
  };
  const std::size_t p = page;
  const Case cases[] = {
      {0, 2 * p, 2 * p}, {0, 3 * p, 2 * p}, {10, 4 * p, 2 * p - 10}, {p + 5, 10, 10},
      {2 * p, 8, 0},     {3 * p, 8, 0},     {2 * p - 1, 1, 1},       {0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " x" << c.length);
    EXPECT_EQ(task.readablePrefix(at(c.offset), c.length), c.prefix);
  }
}

TEST_F(SelfTaskTest, ViewsReadableMemoryInPlace) {
  EXPECT_EQ(task.localView(at(page - 4), page), memory + page - 4);
  EXPECT_EQ(task.localView(at(page), page + 1), nullptr);  // ends in the unreadable page
  EXPECT_EQ(task.localView(at(3 * page), 1), nullptr);     // unmapped
  EXPECT_EQ(task.localView(at(0), 0), nullptr);
  EXPECT_EQ(task.localView(UINT64_MAX, 2), nullptr);
}

TEST(SelfTaskLargeTest, ProbesReadableRangesLongerThanOneBatchOfPages) {
  SelfTask task;
  const std::size_t page = task.pageSize();
  const std::size_t pages = 200;
  void* mapping = ::mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  auto* memory = static_cast<std::uint8_t*>(mapping);
  ASSERT_EQ(::munmap(memory + pages * page, page), 0);
  const auto base = reinterpret_cast<std::uint64_t>(memory);
  EXPECT_EQ(task.readablePrefix(base + 3, pages * page), pages * page - 3);
  EXPECT_EQ(task.readablePrefix(base, (pages - 1) * page + 1), (pages - 1) * page + 1);
  ::munmap(memory, pages * page);
}

}  // namespace
}  // namespace tlcrash
