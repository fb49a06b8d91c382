// The reader on images from MachOBuilder: 32-bit and byte-swapped images, the
// symbol search rules, and damaged images, which must answer errors and never
// read outside what the task maps (FakeTask copies nothing from outside its
// regions, and the sanitizer builds check the views).

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/macho_format.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/macho_symbols.h"
#include "macho_builder.h"

namespace tlcrash {
namespace {

using test::MachOBuilder;
using Symbols = std::vector<MachOBuilder::Symbol>;

constexpr tlcrash_vm_address_t kBase = 0x50000000;
constexpr tlcrash_vm_off_t kSlide = kBase - MachOBuilder::kTextAddress;

struct Found {
  tlcrash_vm_address_t address = 0;
  std::string name;
};

void onSymbol(tlcrash_vm_address_t address, const char* name, void* context) {
  *static_cast<Found*>(context) = {address, name};
}

// An image mapped into its own task.
class Loaded {
 public:
  explicit Loaded(const std::vector<std::uint8_t>& bytes, std::size_t mapped = SIZE_MAX) {
    const std::size_t count = std::min(mapped, bytes.size());
    if (count != 0) task_.map(kBase, std::span(bytes.data(), count));
    error_ = tlcrash_async_macho_init(&image_, task_, "image", kBase);
  }
  ~Loaded() { tlcrash_async_macho_free(&image_); }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;

  tlcrash_error_t error() const { return error_; }
  const tlcrash_async_macho* image() const { return &image_; }

  tlcrash_error_t symbolAt(tlcrash_vm_address_t linked, Found* found) const {
    return tlcrash_async_macho_find_symbol_by_pc(&image_, linked + kSlide, onSymbol, found);
  }

 private:
  FakeTask task_;
  tlcrash_async_macho image_;
  tlcrash_error_t error_;
};

const Symbols kSymbols = {{"_local", 0x1840, macho::N_SECT},
                          {"_first", 0x1800},
                          {"_second", 0x1880},
                          {"_undefined", 0x18c0, macho::N_EXT},  // not in a section
                          {"_stab", 0x18d0, 0x24 /* N_FUN */},
                          {"_thumb", 0x1900, macho::N_SECT | macho::N_EXT, macho::N_ARM_THUMB_DEF}};

struct Variant {
  bool is64;
  bool swapped;
};

class MachOVariantTest : public ::testing::TestWithParam<Variant> {};

TEST_P(MachOVariantTest, HeaderSectionsAndSymbolsReadInEveryWidthAndOrder) {
  const auto [is64, swapped] = GetParam();
  auto builder = MachOBuilder::standard(is64, swapped, kSymbols);
  builder.dysymtab(0, 1, 1, 5);  // the local, then the rest as globals
  const Loaded loaded(builder.build());
  ASSERT_EQ(loaded.error(), tlcrash_error_t::success);
  const tlcrash_async_macho* image = loaded.image();
  EXPECT_EQ(tlcrash_async_macho_header_size(image), is64 ? 32u : 28u);
  EXPECT_EQ(tlcrash_async_macho_cpu_type(image), is64 ? CPU_TYPE_X86_64 : CPU_TYPE_X86);
  EXPECT_EQ(image->vmaddr_slide, kSlide);
  EXPECT_TRUE(tlcrash_async_macho_contains_address(image, kBase + 0xfff));
  EXPECT_FALSE(tlcrash_async_macho_contains_address(image, kBase + 0x1000));

  tlcrash_async_mobject text;
  ASSERT_EQ(tlcrash_async_macho_map_section(image, "__TEXT", "__text", &text),
            tlcrash_error_t::success);
  EXPECT_EQ(tlcrash_async_mobject_base_address(&text), 0x1800 + kSlide);
  EXPECT_EQ(tlcrash_async_mobject_length(&text), 0x100u);

  struct Expectation {
    tlcrash_vm_address_t linked;
    const char* name;
    tlcrash_vm_address_t start;
  };
  for (const Expectation& expected : {
           Expectation{0x1800, "_first", 0x1800},   // exactly at the symbol
           Expectation{0x1850, "_local", 0x1840},   // locals are searched too
           Expectation{0x18c8, "_second", 0x1880},  // undefined symbols are no candidates
           Expectation{0x18d8, "_second", 0x1880},  // nor are debugging entries
           Expectation{0x1904, "_thumb", 0x1901},   // a Thumb definition starts at value | 1
       }) {
    SCOPED_TRACE(expected.name);
    Found found;
    ASSERT_EQ(loaded.symbolAt(expected.linked, &found), tlcrash_error_t::success);
    EXPECT_EQ(found.name, expected.name);
    EXPECT_EQ(found.address, expected.start + kSlide);
  }
  Found found;
  EXPECT_EQ(loaded.symbolAt(0x17ff, &found), tlcrash_error_t::notFound);
  tlcrash_vm_address_t address = 0;
  ASSERT_EQ(tlcrash_async_macho_find_symbol_by_name(image, "_local", &address),
            tlcrash_error_t::success);
  EXPECT_EQ(address, 0x1840 + kSlide);
  EXPECT_EQ(tlcrash_async_macho_find_symbol_by_name(image, "_undefined", &address),
            tlcrash_error_t::notFound);
}

INSTANTIATE_TEST_SUITE_P(Widths, MachOVariantTest,
                         ::testing::Values(Variant{true, false}, Variant{true, true},
                                           Variant{false, false}, Variant{false, true}),
                         [](const auto& instance) {
                           return std::string(instance.param.is64 ? "m64" : "m32") +
                                  (instance.param.swapped ? "_swapped" : "_host");
                         });

TEST(MachOSymbolTest, OfEqualValuesTheFirstMetWinsAndGlobalsComeFirst) {
  auto builder = MachOBuilder::standard(
      true, false,
      {{"_local_alias", 0x1800, macho::N_SECT}, {"_global", 0x1800}, {"_global_alias", 0x1800}});
  builder.dysymtab(0, 1, 1, 2);
  const Loaded loaded(builder.build());
  Found found;
  ASSERT_EQ(loaded.symbolAt(0x1810, &found), tlcrash_error_t::success);
  EXPECT_EQ(found.name, "_global");

  // Without LC_DYSYMTAB every entry is searched in order.
  const Loaded plain(
      MachOBuilder::standard(true, false,
                             {{"_local_alias", 0x1800, macho::N_SECT}, {"_global", 0x1800}})
          .build());
  ASSERT_EQ(plain.symbolAt(0x1810, &found), tlcrash_error_t::success);
  EXPECT_EQ(found.name, "_local_alias");
}

// Images whose header, load commands or symbol table are damaged.
struct Damage {
  Damage(const char* what_, std::vector<std::uint8_t> bytes_, tlcrash_error_t init_,
         std::optional<tlcrash_error_t> lookup_ = std::nullopt, std::size_t mapped_ = SIZE_MAX)
      : what(what_), bytes(std::move(bytes_)), init(init_), lookup(lookup_), mapped(mapped_) {}

  const char* what;
  std::vector<std::uint8_t> bytes;
  tlcrash_error_t init;
  // The symbol look-up at 0x1810 (only when init succeeds).
  std::optional<tlcrash_error_t> lookup;
  // How many bytes of the image are mapped.
  std::size_t mapped;
};

std::vector<std::uint8_t> withSymtab(const Symbols& symbols, MachOBuilder::SymtabDamage damage) {
  MachOBuilder builder(true, false);
  builder.segment("__TEXT", MachOBuilder::kTextAddress, 0x1000);
  builder.segment("__LINKEDIT", 0x2000, 0x1000);
  builder.symtab(symbols, damage);
  return builder.build();
}

std::vector<Damage> damages() {
  const Symbols one = {{"_first", 0x1800}};
  std::vector<Damage> list;
  list.push_back({"unknown magic", MachOBuilder(true, false).magic(0x12345678).build(),
                  tlcrash_error_t::invalidArgument});
  list.push_back({"nothing mapped", MachOBuilder::standard(true, false, one).build(),
                  tlcrash_error_t::internal, std::nullopt, 0});
  list.push_back({"truncated in the header", MachOBuilder::standard(true, false, one).build(),
                  tlcrash_error_t::internal, std::nullopt, 20});
  list.push_back({"truncated in the load commands",
                  MachOBuilder::standard(true, false, one).build(), tlcrash_error_t::noMemory,
                  std::nullopt, 100});
  list.push_back({"huge sizeofcmds",
                  MachOBuilder::standard(true, false, one).sizeofcmds(0xfffffff0).build(),
                  tlcrash_error_t::noMemory});
  list.push_back(
      {"no load commands", MachOBuilder(true, false).build(), tlcrash_error_t::noMemory});
  list.push_back({"no __TEXT segment",
                  MachOBuilder(true, false).segment("__DATA", 0x1000, 0x1000).build(),
                  tlcrash_error_t::invalidArgument});
  {
    // A first command below 8 bytes ends the iteration before __TEXT.
    MachOBuilder builder(true, false);
    builder.command(macho::LC_UUID, std::vector<std::uint8_t>(16), 4);
    builder.segment("__TEXT", 0x1000, 0x1000);
    list.push_back({"cmdsize below 8", builder.build(), tlcrash_error_t::invalidArgument});
  }
  {
    // A command of size 0 after __TEXT hides the symbol table behind it.
    MachOBuilder builder(true, false);
    builder.segment("__TEXT", 0x1000, 0x1000);
    builder.segment("__LINKEDIT", 0x2000, 0x1000);
    builder.command(0x26, std::vector<std::uint8_t>(8), 0);
    builder.symtab(one);
    list.push_back({"cmdsize 0 before the symbol table", builder.build(), tlcrash_error_t::success,
                    tlcrash_error_t::notFound});
  }
  {
    // A command running past sizeofcmds ends the iteration.
    MachOBuilder builder(true, false);
    builder.segment("__TEXT", 0x1000, 0x1000);
    builder.command(0x26, std::vector<std::uint8_t>(8), 0xffffffff);
    builder.segment("__LINKEDIT", 0x2000, 0x1000);
    builder.symtab(one);
    list.push_back({"command overlapping the end", builder.build(), tlcrash_error_t::success,
                    tlcrash_error_t::notFound});
  }
  {
    // A segment command too short for its fields is not a segment.
    MachOBuilder builder(true, false);
    builder.command(macho::LC_SEGMENT_64, std::vector<std::uint8_t>{'_', '_', 'T', 'E', 'X', 'T'});
    list.push_back({"short segment command", builder.build(), tlcrash_error_t::invalidArgument});
  }
  list.push_back({"no symbol table",
                  MachOBuilder(true, false).segment("__TEXT", 0x1000, 0x1000).build(),
                  tlcrash_error_t::success, tlcrash_error_t::notFound});
  {
    MachOBuilder builder(true, false);
    builder.segment("__TEXT", 0x1000, 0x1000);
    builder.command(macho::LC_SYMTAB, std::vector<std::uint8_t>(8));
    list.push_back({"short symtab command", builder.build(), tlcrash_error_t::success,
                    tlcrash_error_t::invalidArgument});
  }
  {
    MachOBuilder builder(true, false);
    builder.segment("__TEXT", 0x1000, 0x1000);
    builder.symtab(one);
    list.push_back(
        {"no __LINKEDIT", builder.build(), tlcrash_error_t::success, tlcrash_error_t::internal});
  }
  list.push_back({"huge symbol count", withSymtab(one, {.nsyms = 0x10000000}),
                  tlcrash_error_t::success, tlcrash_error_t::internal});
  list.push_back({"largest symbol count", withSymtab(one, {.nsyms = 0xffffffff}),
                  tlcrash_error_t::success, tlcrash_error_t::internal});
  list.push_back({"symbols before __LINKEDIT", withSymtab(one, {.symoff = 0x10}),
                  tlcrash_error_t::success, tlcrash_error_t::internal});
  list.push_back({"symbols past __LINKEDIT", withSymtab(one, {.symoff = 0xfff8}),
                  tlcrash_error_t::success, tlcrash_error_t::internal});
  list.push_back({"huge string table", withSymtab(one, {.strsize = 0xffffffff}),
                  tlcrash_error_t::success, tlcrash_error_t::internal});
  list.push_back({"string index past the table",
                  withSymtab({{"_first", 0x1800, macho::N_SECT | macho::N_EXT, 0, 0x7fffffff}}, {}),
                  tlcrash_error_t::success, tlcrash_error_t::invalidArgument});
  // The table ends inside the name: "\0_fir".
  list.push_back({"name without its NUL", withSymtab(one, {.strsize = 5}), tlcrash_error_t::success,
                  tlcrash_error_t::invalidArgument});
  {
    auto builder = MachOBuilder::standard(true, false, one);
    builder.dysymtab(0, 0, 1, 0xffffffff);
    list.push_back({"dynamic range past the symbols", builder.build(), tlcrash_error_t::success,
                    tlcrash_error_t::invalidArgument});
  }
  {
    auto builder = MachOBuilder::standard(true, false, one);
    builder.dysymtab(0xfffffff0, 0x20, 0, 1);
    list.push_back({"dynamic range wrapping around", builder.build(), tlcrash_error_t::success,
                    tlcrash_error_t::invalidArgument});
  }
  return list;
}

TEST(MachOMalformedTest, DamagedImagesAnswerErrors) {
  for (const Damage& damage : damages()) {
    SCOPED_TRACE(damage.what);
    const Loaded loaded(damage.bytes, damage.mapped);
    ASSERT_EQ(loaded.error(), damage.init);
    if (!damage.lookup) continue;
    Found found;
    EXPECT_EQ(loaded.symbolAt(0x1810, &found), *damage.lookup);
  }
}

TEST(MachOMalformedTest, SectionRecordsOutsideTheirCommandAreRefused) {
  const std::vector<MachOBuilder::Section> one = {{"__text", "__TEXT", 0x1800, 0x10}};
  struct Row {
    const char* what;
    std::uint32_t nsects;
    const char* sought;
    tlcrash_error_t expected;
  };
  for (const Row& row : {
           Row{"found before the damage", 0xffffffff, "__text", tlcrash_error_t::success},
           Row{"huge section count", 0xffffffff, "__other", tlcrash_error_t::invalidArgument},
           Row{"one record more than the command holds", 2, "__other",
               tlcrash_error_t::invalidArgument},
           Row{"section not present", 1, "__other", tlcrash_error_t::notFound},
       }) {
    SCOPED_TRACE(row.what);
    MachOBuilder builder(true, false);
    builder.segment("__TEXT", 0x1000, 0x1000, one, row.nsects);
    // A command after the segment: its bytes must not be taken for sections.
    builder.uuid({});
    const Loaded loaded(builder.build());
    ASSERT_EQ(loaded.error(), tlcrash_error_t::success);
    tlcrash_async_mobject section;
    EXPECT_EQ(tlcrash_async_macho_map_section(loaded.image(), "__TEXT", row.sought, &section),
              row.expected);
  }
}

TEST(MachOMalformedTest, ASectionOutsideTheImageCannotBeViewed) {
  MachOBuilder builder(true, false);
  builder.segment("__TEXT", 0x1000, 0x1000,
                  {{"__past", "__TEXT", 0x1f00, 0x10000}, {"__wraps", "__TEXT", ~0ull - 8, 0x10}});
  const Loaded loaded(builder.build());
  ASSERT_EQ(loaded.error(), tlcrash_error_t::success);
  tlcrash_async_mobject section;
  EXPECT_EQ(tlcrash_async_macho_map_section(loaded.image(), "__TEXT", "__past", &section),
            tlcrash_error_t::noMemory);
  EXPECT_EQ(tlcrash_async_macho_map_section(loaded.image(), "__TEXT", "__wraps", &section),
            tlcrash_error_t::invalidArgument);
  EXPECT_EQ(tlcrash_async_macho_map_section(loaded.image(), "__DATA", "__data", &section),
            tlcrash_error_t::notFound);
}

}  // namespace
}  // namespace tlcrash
