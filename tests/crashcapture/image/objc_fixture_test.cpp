// Method names from the object-runtime metadata of the committed image that
// clang and ld64.lld built from objc.m (tests/fixtures/macho). No runtime
// runs here, so the tests do what it does when it realizes a class: they
// give the class a read-write record (realized flag, read-only pointer) in
// the task's heap and point the class's data word at it. The image is loaded
// with a slide, its pointers slid as the loader does from the rebase dump;
// method addresses come from the symbol-table dump.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "crashcapture/platform/fake/fake_macho.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/objc.h"
#include "crashcapture/readers/image/symbol_lookup.h"

namespace tlcrash {
namespace {

const std::string kFixtures = TLCRASH_MACHO_FIXTURES;
constexpr tlcrash_vm_off_t kSlide = 0x20000000;
constexpr tlcrash_vm_address_t kHeap = 0x7f0000000000;
constexpr std::uint32_t kRealized = 0x80000000;
constexpr std::uint32_t kCopiedRo = 0x08000000;

struct Method {
  bool is_class_method = false;
  std::string name;
  tlcrash_vm_address_t address = 0;
  int calls = 0;
};

void onMethod(bool is_class_method, const char* class_name, std::size_t class_name_length,
              const char* method_name, std::size_t method_name_length, tlcrash_vm_address_t address,
              void* context) {
  auto* found = static_cast<Method*>(context);
  ++found->calls;
  found->is_class_method = is_class_method;
  found->name = std::string(class_name ? class_name : "?", class_name ? class_name_length : 1) +
                " " +
                std::string(method_name ? method_name : "?", method_name ? method_name_length : 1);
  found->address = address;
}

void onSymbol(tlcrash_vm_address_t address, const char* name, void* context) {
  auto* found = static_cast<Method*>(context);
  ++found->calls;
  found->name = name;
  found->address = address;
}

std::vector<std::uint8_t> bytesOf(std::uint64_t value) {
  std::vector<std::uint8_t> bytes(8);
  for (int index = 0; index < 8; ++index)
    bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
  return bytes;
}

class ObjcFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto file = readFileBytes(kFixtures + "/objc_x86_64");
    ASSERT_FALSE(file.empty());
    const auto header = loadMachO(task_, file, kSlide);
    ASSERT_TRUE(header.has_value());
    // The loader's work: every pointer of the rebase table moves by the slide.
    std::ifstream rebases(kFixtures + "/objc_x86_64.rebase.txt");
    std::string line;
    const std::regex rebase(R"(^\S+\s+\S+\s+0x([0-9A-Fa-f]+)\s+pointer)");
    int slid = 0;
    while (std::getline(rebases, line)) {
      std::smatch match;
      if (!std::regex_search(line, match, rebase)) continue;
      const tlcrash_vm_address_t at = std::stoull(match[1], nullptr, 16) + kSlide;
      ASSERT_TRUE(task_.write(at, bytesOf(read64(at) + kSlide)));
      ++slid;
    }
    ASSERT_GT(slid, 40);
    std::ifstream syms(kFixtures + "/objc_x86_64.syms.txt");
    const std::regex symbol(R"(^([0-9a-f]{16}) .* \S+,\S+ (.+)$)");
    while (std::getline(syms, line)) {
      std::smatch match;
      if (std::regex_search(line, match, symbol))
        symbols_[match[2]] = std::stoull(match[1], nullptr, 16) + kSlide;
    }
    ASSERT_EQ(symbols_.count("-[Shape sides]"), 1u);
    ASSERT_TRUE(task_.map(kHeap, std::vector<std::uint8_t>(0x4000, 0)));
    ASSERT_EQ(tlcrash_async_macho_init(&image_, task_, "objc_x86_64", *header),
              tlcrash_error_t::success);
    tlcrash_async_objc_cache_init(&cache_);
  }
  void TearDown() override {
    tlcrash_async_objc_cache_free(&cache_);
    tlcrash_async_macho_free(&image_);
  }

  std::uint64_t read64(tlcrash_vm_address_t address) const {
    std::uint64_t value = 0;
    EXPECT_EQ(tlcrash_async_task_read_uint64(task_, tlcrash_async_byteorder_little_endian(),
                                             address, 0, &value),
              tlcrash_error_t::success);
    return value;
  }
  void write64(tlcrash_vm_address_t address, std::uint64_t value) {
    ASSERT_TRUE(task_.write(address, bytesOf(value)));
  }
  // Room in the heap region.
  tlcrash_vm_address_t allocate(std::size_t size) {
    const tlcrash_vm_address_t at = kHeap + heapUsed_;
    heapUsed_ += (size + 15) & ~std::size_t{15};
    return at;
  }
  std::uint64_t classAddress(const std::string& name, bool meta) {
    return symbols_.at((meta ? "_OBJC_METACLASS_$_" : "_OBJC_CLASS_$_") + name);
  }
  // The read-write record the runtime makes for a class, pointing at `ro`.
  tlcrash_vm_address_t realizeWith(tlcrash_vm_address_t klass, std::uint32_t flags,
                                   std::uint64_t ro) {
    const tlcrash_vm_address_t rw = allocate(16);
    write64(rw, flags);  // flags, then version 0
    write64(rw + 8, ro);
    write64(klass + 32, rw);
    return rw;
  }
  void realize(const std::string& name) {
    for (const bool meta : {false, true}) {
      const tlcrash_vm_address_t klass = classAddress(name, meta);
      realizeWith(klass, kRealized, read64(klass + 32));
    }
  }
  tlcrash_error_t findMethod(tlcrash_vm_address_t pc, Method* found) {
    return tlcrash_async_objc_find_method(&image_, &cache_, pc, onMethod, found);
  }
  tlcrash_error_t findSymbol(std::uint32_t strategy, tlcrash_vm_address_t pc, Method* found) {
    return tlcrash_async_find_symbol(&image_, strategy, &cache_, pc, onSymbol, found);
  }

  FakeTask task_;
  std::map<std::string, tlcrash_vm_address_t> symbols_;
  std::size_t heapUsed_ = 0;
  tlcrash_async_macho image_;
  tlcrash_async_objc_cache cache_;
};

TEST_F(ObjcFixtureTest, UnrealizedClassesNameNoMethod) {
  for (const auto& [name, address] : symbols_) {
    if (name[0] != '-' && name[0] != '+') continue;
    Method found;
    EXPECT_EQ(findMethod(address + 2, &found), tlcrash_error_t::notFound) << name;
    EXPECT_EQ(found.calls, 0);
  }
}

TEST_F(ObjcFixtureTest, MethodsOfRealizedClassesAndTheirCategoriesAreNamed) {
  realize("Shape");
  realize("Dormant");
  struct Case {
    const char* symbol;
    const char* method;
    bool is_class_method;
  };
  const Case cases[] = {
      {"-[Shape sides]", "Shape sides", false},
      {"-[Shape setSides:]", "Shape setSides:", false},
      {"+[Shape unit]", "Shape unit", true},
      {"-[Dormant sleep]", "Dormant sleep", false},
      {"-[Shape(Drawing) draw]", "Shape draw", false},
      {"+[Shape(Drawing) canvas]", "Shape canvas", true},
      {"-[Dormant(Waking) wake]", "Dormant wake", false},
  };
  for (const Case& each : cases) {
    const tlcrash_vm_address_t start = symbols_.at(each.symbol);
    // At the first byte and inside the method; twice, as later look-ups of
    // a report use the mapped sections and the class-data cache.
    for (const tlcrash_vm_address_t pc : {start, start + 5, start + 5}) {
      Method found;
      ASSERT_EQ(findMethod(pc, &found), tlcrash_error_t::success) << each.symbol;
      EXPECT_EQ(found.calls, 1);
      EXPECT_EQ(found.name, each.method);
      EXPECT_EQ(found.is_class_method, each.is_class_method);
      EXPECT_EQ(found.address, start);
    }
  }
  Method below;
  EXPECT_EQ(findMethod(symbols_.at("-[Shape sides]") - 1, &below), tlcrash_error_t::notFound);
}

TEST_F(ObjcFixtureTest, UnrealizedClassesAndTheirCategoriesAreSkipped) {
  realize("Shape");
  // Dormant stays unrealized: its methods and its category's fall to the
  // closest method of Shape below them.
  const std::pair<const char*, const char*> cases[] = {
      {"-[Dormant sleep]", "+[Shape unit]"},
      {"-[Shape(Drawing) draw]", "-[Shape(Drawing) draw]"},
      {"-[Dormant(Waking) wake]", "+[Shape(Drawing) canvas]"},
  };
  for (const auto& [symbol, expected] : cases) {
    Method found;
    ASSERT_EQ(findMethod(symbols_.at(symbol) + 1, &found), tlcrash_error_t::success) << symbol;
    EXPECT_EQ(found.address, symbols_.at(expected)) << symbol;
  }
}

TEST_F(ObjcFixtureTest, TheRuntimesRecordLayoutsAreFollowed) {
  // A non-pointer isa leads to the metaclass through bits 3 to 46.
  const tlcrash_vm_address_t shape = classAddress("Shape", false);
  write64(shape, read64(shape) | 0x0100000000000001ULL);
  // The metaclass's read-only pointer goes through an extension record.
  const tlcrash_vm_address_t meta = classAddress("Shape", true);
  const tlcrash_vm_address_t extension = allocate(16);
  write64(extension, read64(meta + 32));
  realizeWith(meta, kRealized, extension | 1);
  // The class's read-only data was copied by the runtime, with another name:
  // the copy is read from the task.
  const tlcrash_vm_address_t copy = allocate(72);
  const tlcrash_vm_address_t originalRo = read64(shape + 32);
  for (int word = 0; word < 9; ++word)
    write64(copy + 8 * word, read64(originalRo + 8 * word));
  const tlcrash_vm_address_t name = allocate(8);
  ASSERT_TRUE(task_.write(name, std::vector<std::uint8_t>{'C', 'o', 'p', 'y', 0}));
  write64(copy + 24, name);
  realizeWith(shape, kRealized | kCopiedRo, copy);

  Method instance;
  ASSERT_EQ(findMethod(symbols_.at("-[Shape setSides:]") + 1, &instance), tlcrash_error_t::success);
  EXPECT_EQ(instance.name, "Copy setSides:");
  Method classMethod;
  ASSERT_EQ(findMethod(symbols_.at("+[Shape unit]"), &classMethod), tlcrash_error_t::success);
  EXPECT_EQ(classMethod.name, "Shape unit");
  EXPECT_TRUE(classMethod.is_class_method);
}

TEST_F(ObjcFixtureTest, TheClassDataCacheKeepsTheReadOnlyDataOfAClass) {
  realize("Shape");
  const tlcrash_vm_address_t pc = symbols_.at("-[Shape sides]");
  Method found;
  ASSERT_EQ(findMethod(pc, &found), tlcrash_error_t::success);
  // The read-write record changes after the first look-up: the cache still
  // leads to the read-only data, a fresh cache sees the change.
  const tlcrash_vm_address_t rw = read64(classAddress("Shape", false) + 32);
  write64(rw, 0);
  Method again;
  EXPECT_EQ(findMethod(pc, &again), tlcrash_error_t::success);
  EXPECT_EQ(again.name, "Shape sides");
  tlcrash_async_objc_cache_free(&cache_);
  tlcrash_async_objc_cache_init(&cache_);
  Method fresh;
  EXPECT_EQ(findMethod(pc, &fresh), tlcrash_error_t::notFound);
}

TEST_F(ObjcFixtureTest, OfAnInstanceAndAClassMethodAtOneAddressTheFirstMetIsNamed) {
  realize("Shape");
  // +[Shape unit] gets the implementation of -[Shape sides]: the instance
  // methods of a class are walked before its class methods.
  const tlcrash_vm_address_t classMethods = symbols_.at("__OBJC_$_CLASS_METHODS_Shape");
  write64(classMethods + 8 + 16, symbols_.at("-[Shape sides]"));
  Method found;
  ASSERT_EQ(findMethod(symbols_.at("-[Shape sides]") + 3, &found), tlcrash_error_t::success);
  EXPECT_EQ(found.name, "Shape sides");
  EXPECT_FALSE(found.is_class_method);
  EXPECT_EQ(found.calls, 1);
}

TEST_F(ObjcFixtureTest, FindSymbolPrefersAMethodThatDoesNotStartBelowTheSymbol) {
  realize("Shape");
  struct Case {
    std::uint32_t strategy;
    const char* symbol;  // the look-up is 2 bytes into it
    const char* expected;
    const char* start;  // the symbol whose address is answered
  };
  const Case cases[] = {
      // The symbol table names the category; the metadata names the class.
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, "-[Shape(Drawing) draw]",
       "-[Shape(Drawing) draw]", "-[Shape(Drawing) draw]"},
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, "-[Shape(Drawing) draw]", "-[Shape draw]",
       "-[Shape(Drawing) draw]"},
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, "-[Shape(Drawing) draw]", "-[Shape draw]",
       "-[Shape(Drawing) draw]"},
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, "+[Shape(Drawing) canvas]", "+[Shape canvas]",
       "+[Shape(Drawing) canvas]"},
      // Dormant is not realized: the closest method starts below the symbol.
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, "-[Dormant sleep]", "+[Shape unit]", "+[Shape unit]"},
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, "-[Dormant sleep]", "-[Dormant sleep]",
       "-[Dormant sleep]"},
      {TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, "_objc_fixture_helper", "_objc_fixture_helper",
       "_objc_fixture_helper"},
  };
  for (const Case& each : cases) {
    Method found;
    ASSERT_EQ(findSymbol(each.strategy, symbols_.at(each.symbol) + 2, &found),
              tlcrash_error_t::success)
        << each.symbol;
    EXPECT_EQ(found.name, each.expected) << each.strategy << " " << each.symbol;
    EXPECT_EQ(found.address, symbols_.at(each.start)) << each.strategy << " " << each.symbol;
  }
}

TEST_F(ObjcFixtureTest, AMethodWhoseNameCannotBeReadIsAnInternalError) {
  realize("Shape");
  // The first method of the instance list names an unmapped address.
  const tlcrash_vm_address_t instanceMethods = symbols_.at("__OBJC_$_INSTANCE_METHODS_Shape");
  write64(instanceMethods + 8, 0x10);
  Method found;
  EXPECT_EQ(findSymbol(TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL, symbols_.at("-[Shape sides]"), &found),
            tlcrash_error_t::internal);
  EXPECT_EQ(found.calls, 0);
}

}  // namespace
}  // namespace tlcrash
