// Symbol look-up by strategy: the symbol table's answer, names cut to the
// 256-byte buffer, and the method-name form of the object-runtime branch
// (whose look-ups on images with metadata are in objc_fixture_test.cpp).

#include <gtest/gtest.h>

#include <string>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/objc.h"
#include "crashcapture/readers/image/symbol_lookup.h"
#include "macho_builder.h"

namespace tlcrash {
namespace {

using test::MachOBuilder;

constexpr tlcrash_vm_address_t kBase = 0x50000000;
constexpr tlcrash_vm_off_t kSlide = kBase - MachOBuilder::kTextAddress;

struct Found {
  int calls = 0;
  tlcrash_vm_address_t address = 0;
  std::string name;
};

void onSymbol(tlcrash_vm_address_t address, const char* name, void* context) {
  auto* found = static_cast<Found*>(context);
  ++found->calls;
  found->address = address;
  found->name = name;
}

class SymbolLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto bytes =
        MachOBuilder::standard(true, false, {{"_short", 0x1800}, {kLongName, 0x1900}}).build();
    ASSERT_TRUE(task_.map(kBase, bytes));
    ASSERT_EQ(tlcrash_async_macho_init(&image_, task_, "image", kBase), tlcrash_error_t::success);
    tlcrash_async_objc_cache_init(&cache_);
  }
  void TearDown() override {
    tlcrash_async_objc_cache_free(&cache_);
    tlcrash_async_macho_free(&image_);
  }

  tlcrash_error_t lookUp(std::uint32_t strategy, tlcrash_vm_address_t linked, Found* found) {
    return tlcrash_async_find_symbol(&image_, strategy, &cache_, linked + kSlide, onSymbol, found);
  }

  const std::string kLongName = "_" + std::string(299, 'x');
  FakeTask task_;
  tlcrash_async_macho image_;
  tlcrash_async_objc_cache cache_;
};

TEST_F(SymbolLookupTest, TheStrategyChoosesTheSources) {
  Found found;
  EXPECT_EQ(lookUp(TLCRASH_ASYNC_SYMBOL_STRATEGY_NONE, 0x1810, &found), tlcrash_error_t::notFound);
  EXPECT_EQ(lookUp(TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, 0x1810, &found), tlcrash_error_t::notFound);
  EXPECT_EQ(found.calls, 0);
  for (const std::uint32_t strategy :
       {TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL}) {
    Found symbol;
    ASSERT_EQ(lookUp(strategy, 0x1810, &symbol), tlcrash_error_t::success);
    EXPECT_EQ(symbol.calls, 1);
    EXPECT_EQ(symbol.name, "_short");
    EXPECT_EQ(symbol.address, 0x1800 + kSlide);
  }
  EXPECT_EQ(lookUp(TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, 0x17ff, &found), tlcrash_error_t::notFound);
}

TEST_F(SymbolLookupTest, ALongNameIsCutTo255Characters) {
  Found found;
  ASSERT_EQ(lookUp(TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, 0x1900, &found),
            tlcrash_error_t::success);
  EXPECT_EQ(found.name, kLongName.substr(0, 255));
}

TEST(ObjcLookupTest, WithoutACacheAccessIsDenied) {
  EXPECT_EQ(tlcrash_async_objc_find_method(nullptr, nullptr, 0, nullptr, nullptr),
            tlcrash_error_t::accessDenied);
}

TEST(MethodNameTest, InstanceAndClassMethodsAreNamedAndCut) {
  char buffer[TLCRASH_ASYNC_SYMBOL_NAME_SIZE];
  tlcrash_async_format_method_name(buffer, false, "Window", 6, "close:", 6);
  EXPECT_STREQ(buffer, "-[Window close:]");
  // Names come with their lengths, not terminated.
  tlcrash_async_format_method_name(buffer, true, "Windowless", 6, "shared!", 6);
  EXPECT_STREQ(buffer, "+[Window shared]");
  const std::string method(300, 'm');
  tlcrash_async_format_method_name(buffer, false, "C", 1, method.data(), method.size());
  const std::string cut(buffer);
  EXPECT_EQ(cut.size(), 255u);
  EXPECT_EQ(cut, "-[C " + method.substr(0, 251));
}

}  // namespace
}  // namespace tlcrash
