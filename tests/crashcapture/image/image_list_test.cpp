// The loaded-image list: order, look-up by address, removal with parked
// nodes and their reuse, and a writer adding and removing images while a
// reader walks the list, also from inside a signal handler (the stress test
// is the one to run under the tsan preset).

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <thread>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/image/image_list.h"
#include "macho_builder.h"

namespace tlcrash {
namespace {

using test::MachOBuilder;

// Image k has its header at kBase + k * kStride and a one-page __TEXT.
constexpr tlcrash_vm_address_t kBase = 0x40000000;
constexpr tlcrash_vm_address_t kStride = 0x100000;
constexpr int kImages = 8;

tlcrash_vm_address_t headerOf(int index) {
  return kBase + static_cast<tlcrash_vm_address_t>(index) * kStride;
}

class ImageListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto bytes = MachOBuilder::standard(true, false, {{"_f", 0x1800}}).build();
    for (int index = 0; index < kImages; ++index)
      ASSERT_TRUE(task_.map(headerOf(index), bytes));
    ASSERT_EQ(tlcrash_async_image_list_init(&list_, task_), tlcrash_error_t::success);
  }
  void TearDown() override { tlcrash_async_image_list_free(&list_); }

  void append(int index) {
    ASSERT_EQ(tlcrash_async_image_list_append(&list_, headerOf(index), "image"),
              tlcrash_error_t::success);
  }

  // The header addresses in list order, read under a reader hold.
  std::vector<tlcrash_vm_address_t> headers() {
    std::vector<tlcrash_vm_address_t> found;
    tlcrash_async_image_list_set_reading(&list_, true);
    for (auto* image = tlcrash_async_image_list_next(&list_, nullptr); image != nullptr;
         image = tlcrash_async_image_list_next(&list_, image))
      found.push_back(image->header_addr);
    tlcrash_async_image_list_set_reading(&list_, false);
    return found;
  }

  FakeTask task_;
  tlcrash_async_image_list list_;
};

TEST_F(ImageListTest, ImagesKeepTheirOrderAndAreFoundByAddress) {
  append(0);
  append(1);
  append(2);
  EXPECT_EQ(headers(), (std::vector{headerOf(0), headerOf(1), headerOf(2)}));
  tlcrash_async_image_list_set_reading(&list_, true);
  auto* second = tlcrash_async_image_list_image_for_address(&list_, headerOf(1));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->header_addr, headerOf(1));
  EXPECT_EQ(tlcrash_async_image_list_image_for_address(&list_, headerOf(1) + 0xfff), second);
  // The first address past __TEXT, and one before any image.
  EXPECT_EQ(tlcrash_async_image_list_image_for_address(&list_, headerOf(1) + 0x1000), nullptr);
  EXPECT_EQ(tlcrash_async_image_list_image_for_address(&list_, headerOf(0) - 1), nullptr);
  tlcrash_async_image_list_set_reading(&list_, false);
}

TEST_F(ImageListTest, AnImageThatCannotBeReadIsNotAppended) {
  append(0);
  EXPECT_EQ(tlcrash_async_image_list_append(&list_, 0x1234, "nowhere"), tlcrash_error_t::internal);
  EXPECT_EQ(headers(), std::vector{headerOf(0)});
}

TEST_F(ImageListTest, RemovingParksTheNodeAndTheNextAppendReusesIt) {
  append(0);
  append(1);
  append(2);
  tlcrash_async_image_list_set_reading(&list_, true);
  tlcrash_async_image* removed = tlcrash_async_image_list_image_for_address(&list_, headerOf(1));
  tlcrash_async_image_list_set_reading(&list_, false);
  tlcrash_async_image_list_node* node = removed->list_node;

  tlcrash_async_image_list_remove(&list_, headerOf(1));
  EXPECT_EQ(headers(), (std::vector{headerOf(0), headerOf(2)}));
  tlcrash_async_image_list_remove(&list_, headerOf(5));  // not in the list
  EXPECT_EQ(headers(), (std::vector{headerOf(0), headerOf(2)}));

  append(3);
  EXPECT_EQ(headers(), (std::vector{headerOf(0), headerOf(2), headerOf(3)}));
  tlcrash_async_image_list_set_reading(&list_, true);
  EXPECT_EQ(tlcrash_async_image_list_image_for_address(&list_, headerOf(3))->list_node, node);
  tlcrash_async_image_list_set_reading(&list_, false);
}

TEST_F(ImageListTest, RemovingTheOnlyImageEmptiesTheList) {
  append(0);
  tlcrash_async_image_list_remove(&list_, headerOf(0));
  EXPECT_TRUE(headers().empty());
  append(1);
  append(2);
  EXPECT_EQ(headers(), (std::vector{headerOf(1), headerOf(2)}));
  tlcrash_async_image_list_remove(&list_, headerOf(2));  // the tail
  append(3);
  EXPECT_EQ(headers(), (std::vector{headerOf(1), headerOf(3)}));
}

TEST_F(ImageListTest, AReaderOnARemovedImageGoesOnToTheImagesAfterIt) {
  append(0);
  append(1);
  append(2);
  tlcrash_async_image_list_set_reading(&list_, true);
  tlcrash_async_image* first = tlcrash_async_image_list_next(&list_, nullptr);
  tlcrash_async_image* middle = tlcrash_async_image_list_next(&list_, first);
  tlcrash_async_image_list_remove(&list_, headerOf(1));
  tlcrash_async_image_list_remove(&list_, headerOf(0));
  // While the reader holds on, the removed records stay readable and an
  // append takes a fresh node rather than one a reader may stand on.
  append(4);
  EXPECT_EQ(middle->header_addr, headerOf(1));
  tlcrash_async_image* after = tlcrash_async_image_list_next(&list_, middle);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->header_addr, headerOf(2));
  EXPECT_EQ(tlcrash_async_image_list_next(&list_, after)->header_addr, headerOf(4));
  EXPECT_NE(tlcrash_async_image_list_next(&list_, after)->list_node, first->list_node);
  tlcrash_async_image_list_set_reading(&list_, false);
  EXPECT_EQ(headers(), (std::vector{headerOf(2), headerOf(4)}));
}

// What a walk saw: the number of images, and whether every one was sound.
constexpr int kMaxWalk = 1000000;
struct Walk {
  int images = 0;
  bool sound = true;
};

Walk walkList(tlcrash_async_image_list* list) {
  Walk walk;
  tlcrash_async_image_list_set_reading(list, true);
  for (auto* image = tlcrash_async_image_list_next(list, nullptr); image != nullptr;
       image = tlcrash_async_image_list_next(list, image)) {
    ++walk.images;
    const tlcrash_vm_address_t header = image->header_addr;
    const bool known =
        header >= kBase && header < headerOf(kImages) && (header - kBase) % kStride == 0;
    if (!known || !tlcrash_async_image_contains_address(image, header + 0x10)) walk.sound = false;
    // A walk may meet more images than the list ever holds at once (it can
    // follow images appended behind it), but never endlessly many: that would
    // be a cycle.
    if (walk.images > kMaxWalk) {
      walk.sound = false;
      break;
    }
  }
  tlcrash_async_image_list_set_reading(list, false);
  return walk;
}

// The list a signal handler walks, and what it found.
std::atomic<tlcrash_async_image_list*> gHandlerList{nullptr};
std::atomic<int> gHandlerWalks{0};
std::atomic<bool> gHandlerSound{true};

void walkInHandler(int) {
  const Walk walk = walkList(gHandlerList.load());
  if (!walk.sound) gHandlerSound.store(false);
  gHandlerWalks.fetch_add(1);
}

TEST_F(ImageListTest, AReaderWalksSafelyWhileAWriterAddsAndRemoves) {
  // The reader walks a fixed number of times; the writer keeps changing the
  // list until then (and for at least kRounds changes).
  constexpr int kWalks = 20000;
  constexpr int kRounds = 2000;
  bool listed[kImages] = {};
  for (int index = 0; index < kImages / 2; ++index) {
    append(index);
    listed[index] = true;
  }

  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = walkInHandler;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  gHandlerList.store(&list_);
  gHandlerWalks.store(0);
  gHandlerSound.store(true);

  std::atomic<bool> readerDone{false};
  std::atomic<bool> readerSound{true};
  std::thread reader([&] {
    // Walks from the thread itself and from a signal handler interrupting it.
    for (int walk = 0; walk < kWalks; ++walk) {
      if (!walkList(&list_).sound) readerSound.store(false);
      if (walk % 16 == 0) ::pthread_kill(::pthread_self(), SIGUSR2);
    }
    readerDone.store(true);
  });
  int rounds = 0;
  for (; rounds < kRounds || !readerDone.load(); ++rounds) {
    const int index = (rounds * 5 + rounds / kImages) % kImages;
    if (listed[index]) {
      tlcrash_async_image_list_remove(&list_, headerOf(index));
    } else {
      append(index);
    }
    listed[index] = !listed[index];
  }
  reader.join();
  ASSERT_EQ(::sigaction(SIGUSR2, &previous, nullptr), 0);

  EXPECT_TRUE(readerSound.load());
  EXPECT_TRUE(gHandlerSound.load());
  EXPECT_EQ(gHandlerWalks.load(), (kWalks + 15) / 16);
  // Afterwards the list holds exactly the images the writer left in it.
  auto final = headers();
  std::sort(final.begin(), final.end());
  std::vector<tlcrash_vm_address_t> expected;
  for (int index = 0; index < kImages; ++index)
    if (listed[index]) expected.push_back(headerOf(index));
  EXPECT_EQ(final, expected);
}

}  // namespace
}  // namespace tlcrash
