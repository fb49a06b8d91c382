// The ELF reader on small images laid out here in a fake address space, and
// on damaged variants of them.

#include "crashcapture/readers/core/elf_image.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/found_symbol.h"
#include "crashcapture/platform/fake/fake_task.h"

namespace tlcrash {
namespace {

constexpr tlcrash_vm_address_t kBase = 0x7f0000400000;
constexpr std::uint8_t kBuildId[] = {0xde, 0xad, 0xbe, 0xef, 1,  2,  3,  4,  5,  6,
                                     7,    8,    9,    10,   11, 12, 13, 14, 15, 16};

// Offsets (= unslid virtual addresses) of the parts of the image.
constexpr std::uint64_t kPhdrs = 64;
constexpr std::uint64_t kNote = 0x200;
constexpr std::uint64_t kEhFrameHdr = 0x300;
constexpr std::uint64_t kDynamic = 0x400;
constexpr std::uint64_t kHash = 0x580;
constexpr std::uint64_t kSymtab = 0x600;
constexpr std::uint64_t kStrtab = 0x700;
constexpr std::uint64_t kEhFrame = 0x800;
constexpr std::uint64_t kSize = 0x3000;
constexpr char kStrings[] = "\0alpha\0beta\0data\0ext";

struct ImageOptions {
  bool gnuHash = false;
  bool relocated = true;  // dynamic pointers already slid, as the loader leaves them
  std::uint16_t phentsize = sizeof(Elf64_Phdr);
  std::uint16_t phnum = 4;
  std::uint8_t elfClass = ELFCLASS64;
  std::uint64_t firstLoadOffset = 0;
  std::uint32_t noteDescSize = sizeof kBuildId;
  std::uint64_t strsz = sizeof kStrings;
  std::uint64_t symtab = kSymtab;
  bool gnuChainEnds = true;
  std::uint32_t gnuBuckets = 1;
};

class ImageBytes {
 public:
  explicit ImageBytes(std::size_t size) : bytes_(size) {}
  template <class T>
  void put(std::uint64_t offset, const T& value) {
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
  }
  void putBytes(std::uint64_t offset, const void* data, std::size_t size) {
    std::memcpy(bytes_.data() + offset, data, size);
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> makeImage(const ImageOptions& o) {
  ImageBytes image(kSize);
  Elf64_Ehdr ehdr{};
  std::memcpy(ehdr.e_ident, ELFMAG, SELFMAG);
  ehdr.e_ident[EI_CLASS] = o.elfClass;
  ehdr.e_ident[EI_DATA] = ELFDATA2LSB;
  ehdr.e_ident[EI_VERSION] = EV_CURRENT;
  ehdr.e_type = ET_DYN;
  ehdr.e_machine = EM_X86_64;
  ehdr.e_phoff = kPhdrs;
  ehdr.e_phentsize = o.phentsize;
  ehdr.e_phnum = o.phnum;
  image.put(0, ehdr);

  const Elf64_Phdr phdrs[] = {
      {PT_LOAD, PF_R | PF_X, o.firstLoadOffset, 0, 0, kSize, kSize, 0x1000},
      {PT_NOTE, PF_R, kNote, kNote, kNote, 0x24, 0x24, 4},
      {PT_GNU_EH_FRAME, PF_R, kEhFrameHdr, kEhFrameHdr, kEhFrameHdr, 12, 12, 4},
      {PT_DYNAMIC, PF_R, kDynamic, kDynamic, kDynamic, 16 * 8, 16 * 8, 8},
  };
  for (std::size_t i = 0; i < std::size(phdrs); ++i)
    image.put(kPhdrs + i * sizeof(Elf64_Phdr), phdrs[i]);

  image.put(kNote, Elf64_Nhdr{4, o.noteDescSize, NT_GNU_BUILD_ID});
  image.putBytes(kNote + 12, "GNU", 4);
  image.putBytes(kNote + 16, kBuildId, sizeof kBuildId);

  // version 1, .eh_frame pointer pc-relative sdata4, count udata4, table
  // datarel sdata4.
  const std::uint8_t hdr[4] = {1, 0x1b, 0x03, 0x3b};
  image.putBytes(kEhFrameHdr, hdr, 4);
  image.put(kEhFrameHdr + 4, static_cast<std::int32_t>(kEhFrame - (kEhFrameHdr + 4)));

  const std::uint64_t slide = o.relocated ? kBase : 0;
  // A chain without an end is put last in the image, so that it runs off it.
  const std::uint64_t hash = o.gnuChainEnds ? kHash : kSize - 32;
  const Elf64_Dyn dynamic[] = {
      {o.gnuHash ? DT_GNU_HASH : DT_HASH, {hash + slide}},
      {DT_SYMTAB, {o.symtab + slide}},
      {DT_STRTAB, {kStrtab + slide}},
      {DT_STRSZ, {o.strsz}},
      {DT_SYMENT, {sizeof(Elf64_Sym)}},
      {DT_NULL, {0}},
  };
  for (std::size_t i = 0; i < std::size(dynamic); ++i)
    image.put(kDynamic + i * sizeof(Elf64_Dyn), dynamic[i]);

  // 0: null, 1: alpha (function), 2: beta (function), 3: data (object,
  // between them), 4: ext (undefined).
  const Elf64_Sym symbols[] = {
      {},
      {1, ELF64_ST_INFO(STB_GLOBAL, STT_FUNC), 0, 10, 0x1000, 0x80},
      {7, ELF64_ST_INFO(STB_GLOBAL, STT_FUNC), 0, 10, 0x1100, 0x80},
      {12, ELF64_ST_INFO(STB_GLOBAL, STT_OBJECT), 0, 11, 0x1050, 8},
      {17, ELF64_ST_INFO(STB_GLOBAL, STT_FUNC), 0, SHN_UNDEF, 0, 0},
  };
  for (std::size_t i = 0; i < std::size(symbols); ++i)
    image.put(kSymtab + i * sizeof(Elf64_Sym), symbols[i]);
  image.putBytes(kStrtab, kStrings, sizeof kStrings);

  if (o.gnuHash) {
    // One bucket starting at symbol 1, a one-word bloom filter, chains for
    // symbols 1 to 4 with the last one marked.
    const std::uint32_t header[4] = {o.gnuBuckets, 1, 1, 6};
    image.putBytes(hash, header, sizeof header);
    image.put(hash + 16, std::uint64_t{~0ull});
    image.put(hash + 24, std::uint32_t{1});
    const std::uint32_t chain[4] = {2, 4, 6, 9};
    image.putBytes(hash + 28, chain, o.gnuChainEnds ? sizeof chain : 4);
  } else {
    const std::uint32_t table[] = {1, 5, 1, 0, 2, 3, 4, 0};  // nbucket, nchain, ...
    image.putBytes(kHash, table, sizeof table);
  }
  return image.bytes();
}

class ElfImageTest : public ::testing::Test {
 protected:
  tlcrash_error_t load(const ImageOptions& options) {
    task_ = FakeTask();
    if (!task_.map(kBase, makeImage(options))) return tlcrash_error_t::internal;
    return tlcrash_async_elf_image_init(&image_, task_, kBase);
  }

  FakeTask task_;
  tlcrash_async_elf_image image_{};
};

TEST_F(ElfImageTest, ReadsTheRangesBuildIdAndUnwindTables) {
  ASSERT_EQ(load({}), tlcrash_error_t::success);
  EXPECT_EQ(image_.slide, kBase);
  EXPECT_EQ(image_.text_start, kBase);
  EXPECT_EQ(image_.text_size, kSize);
  EXPECT_EQ(image_.cpu_type, CPU_TYPE_X86_64);
  EXPECT_EQ(image_.cpu_subtype, CPU_SUBTYPE_X86_ALL);
  ASSERT_EQ(image_.build_id_size, sizeof kBuildId);
  EXPECT_EQ(std::memcmp(image_.build_id, kBuildId, sizeof kBuildId), 0);
  EXPECT_EQ(image_.eh_frame_hdr, kBase + kEhFrameHdr);
  EXPECT_EQ(image_.eh_frame_hdr_size, 12u);
  EXPECT_EQ(tlcrash_async_elf_eh_frame(&image_), kBase + kEhFrame);
  EXPECT_EQ(image_.dynamic, kBase + kDynamic);
  EXPECT_TRUE(tlcrash_async_elf_image_contains_address(&image_, kBase + kSize - 1));
  EXPECT_FALSE(tlcrash_async_elf_image_contains_address(&image_, kBase + kSize));
  EXPECT_FALSE(tlcrash_async_elf_image_contains_address(&image_, kBase - 1));
}

TEST_F(ElfImageTest, FindsTheNearestFunctionAtOrBelowAnAddress) {
  struct Case {
    const char* label;
    ImageOptions options;
  };
  ImageOptions gnu;
  gnu.gnuHash = true;
  ImageOptions unrelocated;
  unrelocated.relocated = false;
  const Case tables[] = {{"DT_HASH", {}}, {"DT_GNU_HASH", gnu}, {"unrelocated", unrelocated}};
  struct Lookup {
    std::uint64_t offset;
    const char* name;  // null: not found
  };
  const Lookup lookups[] = {
      {0x1000, "alpha"}, {0x107f, "alpha"},  // the object symbol between is no function
      {0x1080, nullptr},                     // past alpha's end: a function not exported
      {0x1100, "beta"},  {0x117f, "beta"},  {0x2fff, nullptr}, {0xfff, nullptr}, {kSize, nullptr},
  };
  for (const Case& table : tables) {
    ASSERT_EQ(load(table.options), tlcrash_error_t::success) << table.label;
    for (const Lookup& lookup : lookups) {
      SCOPED_TRACE(std::string(table.label) + " +" + std::to_string(lookup.offset));
      FoundSymbol found;
      const tlcrash_error_t result = tlcrash_async_elf_find_symbol_by_pc(
          &image_, kBase + lookup.offset, rememberSymbol, &found);
      if (lookup.name == nullptr) {
        EXPECT_EQ(result, tlcrash_error_t::notFound);
      } else {
        EXPECT_EQ(result, tlcrash_error_t::success);
        EXPECT_EQ(found.name, lookup.name);
        EXPECT_EQ(found.address, kBase + (found.name == "alpha" ? 0x1000 : 0x1100));
      }
    }
  }
}

TEST_F(ElfImageTest, DamagedImagesAnswerErrors) {
  struct Case {
    const char* label;
    ImageOptions options;
    tlcrash_error_t init;
    tlcrash_error_t lookup;  // of an address inside alpha, when init succeeds
    std::size_t buildIdSize = sizeof kBuildId;
  };

  auto with = [](auto change) {
    ImageOptions options;
    change(options);
    return options;
  };
  const Case cases[] = {
      {"32-bit",
       with([](ImageOptions& o) { o.elfClass = ELFCLASS32; }),
       tlcrash_error_t::notSupported,
       {}},
      {"program header size",
       with([](ImageOptions& o) { o.phentsize = 32; }),
       tlcrash_error_t::invalidData,
       {}},
      {"program headers past the image",
       with([](ImageOptions& o) { o.phnum = 4000; }),
       tlcrash_error_t::notFound,
       {}},
      {"no load segment at offset 0",
       with([](ImageOptions& o) { o.firstLoadOffset = 0x1000; }),
       tlcrash_error_t::invalidData,
       {}},
      {"build id too long", with([](ImageOptions& o) { o.noteDescSize = 0x10000; }),
       tlcrash_error_t::success, tlcrash_error_t::success, 0},
      {"a name running past the string table", with([](ImageOptions& o) { o.strsz = 4; }),
       tlcrash_error_t::success, tlcrash_error_t::invalidData},
      {"names beyond the string table", with([](ImageOptions& o) { o.strsz = 1; }),
       tlcrash_error_t::success, tlcrash_error_t::notFound},
      {"symbol table outside the image", with([](ImageOptions& o) { o.symtab = kSize * 4; }),
       tlcrash_error_t::success, tlcrash_error_t::invalidData},
      {"GNU hash chain without an end", with([](ImageOptions& o) {
         o.gnuHash = true;
         o.gnuChainEnds = false;
       }),
       tlcrash_error_t::success, tlcrash_error_t::notFound},
      {"huge GNU hash bucket count", with([](ImageOptions& o) {
         o.gnuHash = true;
         o.gnuBuckets = 0x7fffffff;
       }),
       tlcrash_error_t::success, tlcrash_error_t::invalidData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(load(c.options), c.init);
    if (c.init != tlcrash_error_t::success) continue;
    EXPECT_EQ(image_.build_id_size, c.buildIdSize);
    FoundSymbol found;
    const tlcrash_error_t result =
        tlcrash_async_elf_find_symbol_by_pc(&image_, kBase + 0x1010, rememberSymbol, &found);
    EXPECT_EQ(result, c.lookup);
  }

  // Not an ELF header at all, and nothing mapped.
  FakeTask task;
  ASSERT_TRUE(task.map(kBase, std::vector<std::uint8_t>(64, 0x7f)));
  EXPECT_EQ(tlcrash_async_elf_image_init(&image_, task, kBase), tlcrash_error_t::invalidData);
  EXPECT_EQ(tlcrash_async_elf_image_init(&image_, task, kBase + 0x10000),
            tlcrash_error_t::notFound);
}

}  // namespace
}  // namespace tlcrash
