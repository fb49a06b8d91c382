#include "crashcapture/capture/reporter/async_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tlcrash {
namespace {

std::vector<int> contents(const async_list<int>& list) {
  std::vector<int> values;
  for (auto* node = list.next(nullptr); node != nullptr; node = list.next(node))
    values.push_back(node->value());
  return values;
}

TEST(AsyncListTest, PrependsAndAppendsInOrderAndRemovesAnywhere) {
  async_list<int> list;
  ASSERT_TRUE(list.append(2));
  ASSERT_TRUE(list.append(3));
  ASSERT_TRUE(list.prepend(1));
  EXPECT_EQ(contents(list), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(list.remove(2));
  EXPECT_FALSE(list.remove(7));
  EXPECT_EQ(contents(list), (std::vector<int>{1, 3}));
  EXPECT_TRUE(list.remove(3));  // the tail: the next append links after 1
  ASSERT_TRUE(list.append(4));
  EXPECT_TRUE(list.remove(1));  // the head
  EXPECT_EQ(contents(list), (std::vector<int>{4}));
  EXPECT_TRUE(list.remove(4));
  EXPECT_EQ(contents(list), (std::vector<int>{}));
  ASSERT_TRUE(list.prepend(5));
  EXPECT_EQ(contents(list), (std::vector<int>{5}));
}

TEST(AsyncListTest, ANodeRemovedUnderAReaderStaysReadableUntilTheReaderIsDone) {
  async_list<int> list;
  for (int value : {1, 2, 3})
    ASSERT_TRUE(list.append(value));
  list.set_reading(true);
  const auto* standing = list.next(list.next(nullptr));  // on 2
  ASSERT_TRUE(list.remove(2));
  EXPECT_EQ(list.parked_count(), 1);
  // An append while the reader still holds the list takes a new node.
  ASSERT_TRUE(list.append(4));
  EXPECT_EQ(list.parked_count(), 1);
  EXPECT_EQ(standing->value(), 2);
  ASSERT_NE(list.next(standing), nullptr);
  EXPECT_EQ(list.next(standing)->value(), 3);
  list.set_reading(false);

  ASSERT_TRUE(list.append(5));  // reuses the parked node now
  EXPECT_EQ(list.parked_count(), 0);
  EXPECT_EQ(contents(list), (std::vector<int>{1, 3, 4, 5}));
}

// One writer adds and removes while a reader walks; every value a reader sees
// is one that was put in, and each walk ends. (A reader standing on removed
// nodes may chase the writer through nodes made after it started, but never
// meets more nodes than were ever made: a longer walk is a cycle.) Under ASan
// a freed node that a reader follows would be reported. The writer goes on
// until the reader has walked a number of times, however the two threads are
// scheduled (on one core the writer could otherwise finish before the first
// walk).
TEST(AsyncListTest, AReaderWalksSafelyWhileAWriterChangesTheList) {
  async_list<int> list;
  for (int value = 0; value < 8; ++value)
    ASSERT_TRUE(list.append(value));
  constexpr int kMinRounds = 20000;
  constexpr int kMaxRounds = 1000000;
  constexpr long kMinWalks = 100;
  std::atomic<bool> stop{false};
  std::atomic<long> walks{0};
  std::thread writer([&] {
    for (int round = 0; round < kMaxRounds; ++round) {
      if (round >= kMinRounds && walks.load() >= kMinWalks) break;
      const int value = 8 + round % 32;
      if (round % 2 == 0) {
        list.append(value);
      } else {
        list.prepend(value);
      }
      list.remove(value);
      list.remove(round % 8);
      list.append(round % 8);
    }
    stop = true;
  });
  // Each round makes at most two nodes.
  constexpr int kMoreThanEverMade = 8 + 2 * kMaxRounds + 1;
  bool valuesInRange = true;
  bool walksEnd = true;
  while (!stop) {
    list.set_reading(true);
    int steps = 0;
    for (auto* node = list.next(nullptr); node != nullptr && steps < kMoreThanEverMade;
         node = list.next(node), ++steps) {
      if (node->value() < 0 || node->value() >= 40) valuesInRange = false;
    }
    list.set_reading(false);
    walksEnd = walksEnd && steps < kMoreThanEverMade;
    ++walks;
  }
  writer.join();
  EXPECT_TRUE(valuesInRange);
  EXPECT_TRUE(walksEnd);
  EXPECT_GE(walks.load(), kMinWalks);
}

}  // namespace
}  // namespace tlcrash
