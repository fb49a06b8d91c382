// The .eh_frame_hdr search table: binary search for the FDE of a PC, and
// damaged tables (counts past the segment, entries out of order, FDEs outside
// .eh_frame, unknown encodings) answering errors instead of an offset.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/elf_image.h"

namespace tlcrash {
namespace {

// One mapped page: .eh_frame_hdr at kHdr, .eh_frame at kEhFrame.
constexpr tlcrash_vm_address_t kBase = 0x7f0000400000;
constexpr tlcrash_vm_size_t kPage = 0x1000;
constexpr tlcrash_vm_address_t kHdr = kBase + 0x100;
constexpr tlcrash_vm_address_t kEhFrame = kBase + 0x400;
constexpr std::uint64_t kTable = 12;  // after version, encodings, pointer, count

struct Entry {
  tlcrash_vm_address_t start;
  tlcrash_vm_address_t fde;
};

// Functions at 0x1000, 0x1100, 0x1200 and 0x1300 past the base, FDEs every
// 0x20 bytes of .eh_frame.
std::vector<Entry> sortedEntries() {
  return {{kBase + 0x1000, kEhFrame + 0x00},
          {kBase + 0x1100, kEhFrame + 0x20},
          {kBase + 0x1200, kEhFrame + 0x40},
          {kBase + 0x1300, kEhFrame + 0x60}};
}

struct Table {
  std::uint8_t header[4] = {1, 0x1b, 0x03, 0x3b};  // pcrel sdata4, udata4, datarel sdata4
  std::uint32_t count = 4;
  std::vector<Entry> entries = sortedEntries();
  tlcrash_vm_size_t segmentSize = kTable + 4 * 8;
  tlcrash_vm_size_t mapped = kPage;
};

struct Case {
  const char* name;
  std::function<void(Table&)> damage;
  tlcrash_vm_address_t pc;
  tlcrash_error_t error;
  tlcrash_vm_off_t offset;
};

tlcrash_error_t lookUp(const Table& table, tlcrash_vm_address_t pc, tlcrash_vm_off_t* offset) {
  std::vector<std::uint8_t> bytes(kPage);
  auto put = [&bytes](tlcrash_vm_address_t address, const void* data, std::size_t size) {
    std::memcpy(bytes.data() + (address - kBase), data, size);
  };
  put(kHdr, table.header, 4);
  const auto toEhFrame = static_cast<std::int32_t>(kEhFrame - (kHdr + 4));
  put(kHdr + 4, &toEhFrame, 4);
  put(kHdr + 8, &table.count, 4);
  for (std::size_t i = 0; i < table.entries.size(); ++i) {
    const std::int32_t pair[2] = {static_cast<std::int32_t>(table.entries[i].start - kHdr),
                                  static_cast<std::int32_t>(table.entries[i].fde - kHdr)};
    put(kHdr + kTable + i * 8, pair, sizeof pair);
  }
  FakeTask task;
  bytes.resize(table.mapped);
  EXPECT_TRUE(task.map(kBase, bytes));

  tlcrash_async_elf_image image{};
  image.task = &task;
  image.header_address = kBase;
  image.load_start = kBase;
  image.load_end = kBase + kPage;
  image.eh_frame_hdr = kHdr;
  image.eh_frame_hdr_size = table.segmentSize;
  return tlcrash_async_elf_find_fde_offset(&image, pc, offset);
}

TEST(ElfEhFrameHdrTest, FindsTheFdeOrAnswersWhyNot) {
  using E = tlcrash_error_t;
  const Case cases[] = {
      {"the first function's start", nullptr, kBase + 0x1000, E::success, 0x00},
      {"inside the third function", nullptr, kBase + 0x12ff, E::success, 0x40},
      {"past the last start", nullptr, kBase + 0x1380, E::success, 0x60},
      {"below the first start", nullptr, kBase + 0xfff, E::notFound, 0},
      {"one entry", [](Table& t) { t.count = 1; }, kBase + 0x1300, E::success, 0x00},
      {"no entries", [](Table& t) { t.count = 0; }, kBase + 0x1000, E::notFound, 0},
      {"no table", [](Table& t) { t.header[3] = 0xff; }, kBase + 0x1000, E::notFound, 0},
      {"more entries than the segment holds", [](Table& t) { t.count = 5; }, kBase + 0x1000,
       E::invalidData, 0},
      {"a huge count", [](Table& t) { t.count = 0xffffffff; }, kBase + 0x1000, E::invalidData, 0},
      {"a segment shorter than the header", [](Table& t) { t.segmentSize = 10; }, kBase + 0x1000,
       E::invalidData, 0},
      {"a table cut by the end of the mapping (the read's error)",
       [](Table& t) { t.mapped = 0x100 + kTable + 12; }, kBase + 0x1300, E::notFound, 0},
      {"entries met out of order while searching",
       [](Table& t) {
         t.entries[1].start = kBase + 0x1300;
         t.entries[3].start = kBase + 0x1100;
       },
       kBase + 0x1350, E::invalidData, 0},
      {"the entry before the one found starts after it",
       [](Table& t) {
         t.entries[1].start = kBase + 0x1200;
         t.entries[2].start = kBase + 0x1100;
       },
       kBase + 0x1150, E::invalidData, 0},
      {"an FDE before .eh_frame", [](Table& t) { t.entries[2].fde = kHdr; }, kBase + 0x1200,
       E::invalidData, 0},
      {"an FDE past the image", [](Table& t) { t.entries[2].fde = kBase + kPage; }, kBase + 0x1200,
       E::invalidData, 0},
      {"a pc-relative table", [](Table& t) { t.header[3] = 0x1b; }, kBase + 0x1000, E::notSupported,
       0},
      {"version 2", [](Table& t) { t.header[0] = 2; }, kBase + 0x1000, E::notSupported, 0},
      {"a data-relative count", [](Table& t) { t.header[2] = 0x33; }, kBase + 0x1000,
       E::notSupported, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table table;
    if (c.damage) c.damage(table);
    tlcrash_vm_off_t offset = -1;
    EXPECT_EQ(lookUp(table, c.pc, &offset), c.error);
    if (c.error == E::success) {
      EXPECT_EQ(offset, c.offset);
    }
  }
}

TEST(ElfEhFrameHdrTest, AnImageWithoutTheHeaderHasNoTable) {
  FakeTask task;
  tlcrash_async_elf_image image{};
  image.task = &task;
  tlcrash_vm_off_t offset = 0;
  EXPECT_EQ(tlcrash_async_elf_find_fde_offset(&image, kBase, &offset), tlcrash_error_t::notFound);
  EXPECT_EQ(tlcrash_async_elf_eh_frame(&image), 0u);
}

}  // namespace
}  // namespace tlcrash
