// The object-runtime parser on small images built here: 32- and 64-bit
// class lists, __objc_const in __DATA_CONST, the old module-info form, and
// metadata damaged in each way the parser checks. A damaged record ends the
// look-up with an error; nothing outside the mapped sections or the task's
// memory is read (the ASan build checks the reads).

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/objc.h"
#include "macho_builder.h"

namespace tlcrash {
namespace {

using test::MachOBuilder;

constexpr tlcrash_vm_address_t kText = 0x2000;     // __TEXT,__text: the methods' code
constexpr tlcrash_vm_address_t kStrings = 0x2800;  // __TEXT,__cstring
constexpr tlcrash_vm_address_t kFirstData = 0x3000;
constexpr tlcrash_vm_address_t kHeap = 0x40000000;  // the runtime's records
constexpr std::uint32_t kRealized = 0x80000000;

// Lays out an image at MachOBuilder::kTextAddress: the header page, a page of
// code and strings, then one page per data section, in the order given
// (sections of one segment next to each other). A section's size is what was
// put into it.
class ObjcImageBuilder {
 public:
  ObjcImageBuilder(bool is64, std::vector<std::pair<std::string, std::string>> sections)
      : is64_(is64), word_(is64 ? 8 : 4) {
    tlcrash_vm_address_t at = kFirstData;
    for (auto& [segname, sectname] : sections) {
      order_.push_back(sectname);
      sections_[sectname] = {segname, at, {}};
      at += 0x1000;
    }
  }

  std::size_t word() const { return word_; }

  tlcrash_vm_address_t string(const std::string& text) {
    const tlcrash_vm_address_t at = kStrings + strings_.size();
    strings_.insert(strings_.end(), text.begin(), text.end());
    strings_.push_back(0);
    return at;
  }

  // Appends `bytes` to `sectname` (8-byte aligned); their address.
  tlcrash_vm_address_t put(const std::string& sectname, const std::vector<std::uint8_t>& bytes) {
    Section& section = sections_.at(sectname);
    section.bytes.resize((section.bytes.size() + 7) & ~std::size_t{7}, 0);
    const tlcrash_vm_address_t at = section.address + section.bytes.size();
    section.bytes.insert(section.bytes.end(), bytes.begin(), bytes.end());
    return at;
  }

  // Record encoders, in the image's pointer size.
  void u32(std::vector<std::uint8_t>& out, std::uint32_t value) const {
    for (int index = 0; index < 4; ++index)
      out.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
  }
  void pointer(std::vector<std::uint8_t>& out, std::uint64_t value) const {
    for (std::size_t index = 0; index < word_; ++index)
      out.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
  }
  std::vector<std::uint8_t> pointers(std::initializer_list<std::uint64_t> values) const {
    std::vector<std::uint8_t> out;
    for (const std::uint64_t value : values)
      pointer(out, value);
    return out;
  }
  // A method list of (name, implementation) entries; `entsize` replaces the
  // entry-size word, `count` the count.
  std::vector<std::uint8_t> methodList(
      const std::vector<std::pair<tlcrash_vm_address_t, tlcrash_vm_address_t>>& methods,
      std::optional<std::uint32_t> entsize = std::nullopt,
      std::optional<std::uint32_t> count = std::nullopt) const {
    std::vector<std::uint8_t> out;
    u32(out, entsize.value_or(static_cast<std::uint32_t>(3 * word_)));
    u32(out, count.value_or(static_cast<std::uint32_t>(methods.size())));
    for (const auto& [name, imp] : methods) {
      pointer(out, name);
      pointer(out, 0);  // types
      pointer(out, imp);
    }
    return out;
  }
  // Read-only class data: flags, instance start and size (and a reserved
  // word), then ivar layout, name, base methods and four more pointers.
  std::vector<std::uint8_t> classRo(tlcrash_vm_address_t name, tlcrash_vm_address_t methods) const {
    std::vector<std::uint8_t> out;
    for (int index = 0; index < (is64_ ? 4 : 3); ++index)
      u32(out, 0);
    for (const std::uint64_t value : {std::uint64_t{0}, name, methods})
      pointer(out, value);
    for (int index = 0; index < 4; ++index)
      pointer(out, 0);
    return out;
  }
  // The runtime's read-write class data.
  std::vector<std::uint8_t> classRw(std::uint32_t flags, tlcrash_vm_address_t ro) const {
    std::vector<std::uint8_t> out;
    u32(out, flags);
    u32(out, 0);
    pointer(out, ro);
    return out;
  }

  std::vector<std::uint8_t> build() const {
    MachOBuilder builder(is64_, false);
    builder.segment("__TEXT", MachOBuilder::kTextAddress, 0x2000,
                    {{"__text", "__TEXT", kText, 0x800},
                     {"__cstring", "__TEXT", kStrings, std::max<std::size_t>(strings_.size(), 1)}});
    std::size_t first = 0;
    while (first < order_.size()) {
      const std::string& segname = sections_.at(order_[first]).segname;
      std::vector<MachOBuilder::Section> records;
      std::size_t last = first;
      for (; last < order_.size() && sections_.at(order_[last]).segname == segname; ++last) {
        const Section& section = sections_.at(order_[last]);
        records.push_back({order_[last], segname, section.address,
                           std::max<std::size_t>(section.bytes.size(), 1)});
      }
      builder.segment(segname, sections_.at(order_[first]).address, (last - first) * 0x1000,
                      records);
      first = last;
    }
    std::vector<std::uint8_t> image = builder.build();
    image.resize(kFirstData - MachOBuilder::kTextAddress + order_.size() * 0x1000, 0);
    std::copy(strings_.begin(), strings_.end(), image.begin() + (kStrings - 0x1000));
    for (const auto& [name, section] : sections_)
      std::copy(section.bytes.begin(), section.bytes.end(),
                image.begin() + static_cast<std::ptrdiff_t>(section.address - 0x1000));
    return image;
  }

 private:
  struct Section {
    std::string segname;
    tlcrash_vm_address_t address = 0;
    std::vector<std::uint8_t> bytes;
  };
  bool is64_;
  std::size_t word_;
  std::vector<std::string> order_;
  std::map<std::string, Section> sections_;
  std::vector<std::uint8_t> strings_;
};

struct Found {
  int calls = 0;
  std::string name;
  bool is_class_method = false;
  tlcrash_vm_address_t address = 0;
};

void onMethod(bool is_class_method, const char* class_name, std::size_t class_name_length,
              const char* method_name, std::size_t method_name_length, tlcrash_vm_address_t address,
              void* context) {
  auto* found = static_cast<Found*>(context);
  ++found->calls;
  found->is_class_method = is_class_method;
  found->name = std::string(class_name, class_name_length) + " " +
                std::string(method_name, method_name_length);
  found->address = address;
}

// Ways to damage the standard image.
enum class Damage {
  none,
  constInDataConst,      // __objc_const in __DATA_CONST: not damage, another layout
  methodListOutside,     // the instance method list lies in __spare
  relativeMethodList,    // the entry-size word has the relative flag
  methodCountTooLarge,   // more entries than the section holds
  entrySizeTooSmall,     // entries shorter than three pointers
  classOutsideData,      // a class-list entry points into __spare
  categoryOutsideConst,  // a category-list entry points into __spare
  roOutsideConst,        // read-only data inside the image, outside __objc_const
  classDataUnreadable,   // the class-data word points at nothing
};

// The methods of the standard image.
constexpr tlcrash_vm_address_t kSpin = kText;          // -[Widget spin]
constexpr tlcrash_vm_address_t kMake = kText + 0x10;   // +[Widget make]
constexpr tlcrash_vm_address_t kExtra = kText + 0x20;  // -[Widget extra], category

// An image with the realized class Widget (-spin; +make) and the category
// Widget(Extra) (-extra), damaged as asked; its read-write records go into
// `heap`.
std::vector<std::uint8_t> standardImage(bool is64, Damage damage, std::vector<std::uint8_t>* heap) {
  std::vector<std::pair<std::string, std::string>> sections;
  if (damage == Damage::constInDataConst) {
    sections = {{"__DATA_CONST", "__objc_const"},
                {"__DATA_CONST", "__objc_classlist"},
                {"__DATA_CONST", "__objc_catlist"},
                {"__DATA", "__objc_data"},
                {"__DATA", "__spare"}};
  } else {
    sections = {{"__DATA_CONST", "__objc_classlist"},
                {"__DATA_CONST", "__objc_catlist"},
                {"__DATA", "__objc_const"},
                {"__DATA", "__objc_data"},
                {"__DATA", "__spare"}};
  }
  ObjcImageBuilder image(is64, sections);
  const auto widget = image.string("Widget");
  const auto spin = image.string("spin");
  const auto make = image.string("make");
  const auto extra = image.string("extra");

  std::optional<std::uint32_t> entsize;
  std::optional<std::uint32_t> count;
  if (damage == Damage::relativeMethodList)
    entsize = 0x80000000 | static_cast<std::uint32_t>(3 * image.word());
  if (damage == Damage::entrySizeTooSmall) entsize = static_cast<std::uint32_t>(image.word());
  if (damage == Damage::methodCountTooLarge) count = 1000;
  const auto instanceMethods =
      image.put(damage == Damage::methodListOutside ? "__spare" : "__objc_const",
                image.methodList({{spin, kSpin}}, entsize, count));
  const auto classMethods = image.put("__objc_const", image.methodList({{make, kMake}}));
  const auto ro = image.put(damage == Damage::roOutsideConst ? "__spare" : "__objc_const",
                            image.classRo(widget, instanceMethods));
  const auto metaRo = image.put("__objc_const", image.classRo(widget, classMethods));

  // The runtime's read-write records in the heap.
  const auto rwOf = [&](tlcrash_vm_address_t roAddress) {
    const auto at = kHeap + heap->size();
    const auto bytes = image.classRw(kRealized, roAddress);
    heap->insert(heap->end(), bytes.begin(), bytes.end());
    heap->resize((heap->size() + 15) & ~std::size_t{15}, 0);
    return at;
  };
  const auto rw = damage == Damage::classDataUnreadable ? 0x10 : rwOf(ro);
  const auto metaRw = rwOf(metaRo);
  // isa, superclass, cache, vtable, data.
  const auto meta = image.put("__objc_data", image.pointers({0, 0, 0, 0, metaRw}));
  const auto klass = image.put(damage == Damage::classOutsideData ? "__spare" : "__objc_data",
                               image.pointers({meta, 0, 0, 0, rw}));
  image.put("__objc_classlist", image.pointers({klass}));

  const auto categoryMethods = image.put("__objc_const", image.methodList({{extra, kExtra}}));
  // name, class, instance methods, class methods, protocols, properties.
  const auto category =
      image.put(damage == Damage::categoryOutsideConst ? "__spare" : "__objc_const",
                image.pointers({image.string("Extra"), klass, categoryMethods, 0, 0, 0}));
  image.put("__objc_catlist", image.pointers({category}));
  return image.build();
}

// An image mapped at MachOBuilder::kTextAddress of a task of its own, with
// the runtime's records at kHeap, and a cache for its look-ups.
class Loaded {
 public:
  explicit Loaded(const std::vector<std::uint8_t>& bytes,
                  const std::vector<std::uint8_t>& heap = {}) {
    EXPECT_TRUE(task_.map(MachOBuilder::kTextAddress, bytes));
    if (!heap.empty()) {
      EXPECT_TRUE(task_.map(kHeap, heap));
    }
    EXPECT_EQ(tlcrash_async_macho_init(&image_, task_, "image", MachOBuilder::kTextAddress),
              tlcrash_error_t::success);
    tlcrash_async_objc_cache_init(&cache_);
  }
  ~Loaded() {
    tlcrash_async_objc_cache_free(&cache_);
    tlcrash_async_macho_free(&image_);
  }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;

  tlcrash_error_t find(tlcrash_vm_address_t pc, Found* found) {
    return tlcrash_async_objc_find_method(&image_, &cache_, pc, onMethod, found);
  }
  const tlcrash_async_objc_cache& cache() const { return cache_; }

 private:
  FakeTask task_;
  tlcrash_async_macho image_;
  tlcrash_async_objc_cache cache_;
};

class ObjcSyntheticTest : public ::testing::TestWithParam<bool> {};

TEST_P(ObjcSyntheticTest, ClassAndCategoryMethodsAreNamedInEitherLayout) {
  for (const Damage layout : {Damage::none, Damage::constInDataConst}) {
    std::vector<std::uint8_t> heap;
    const auto bytes = standardImage(GetParam(), layout, &heap);
    Loaded loaded(bytes, heap);
    const std::tuple<tlcrash_vm_address_t, const char*, bool> cases[] = {
        {kSpin, "Widget spin", false},
        {kMake + 4, "Widget make", true},
        {kExtra + 0x100, "Widget extra", false},
    };
    for (const auto& [pc, name, isClassMethod] : cases) {
      Found found;
      ASSERT_EQ(loaded.find(pc, &found), tlcrash_error_t::success) << name;
      EXPECT_EQ(found.name, name);
      EXPECT_EQ(found.is_class_method, isClassMethod);
      EXPECT_EQ(found.calls, 1);
    }
    EXPECT_TRUE(loaded.cache().classlist_form_known);
  }
}

TEST_P(ObjcSyntheticTest, DamagedMetadataAnswersAnError) {
  const std::pair<Damage, tlcrash_error_t> cases[] = {
      {Damage::methodListOutside, tlcrash_error_t::invalidData},
      {Damage::relativeMethodList, tlcrash_error_t::invalidData},
      {Damage::methodCountTooLarge, tlcrash_error_t::invalidData},
      {Damage::entrySizeTooSmall, tlcrash_error_t::invalidData},
      {Damage::classOutsideData, tlcrash_error_t::invalidData},
      {Damage::categoryOutsideConst, tlcrash_error_t::invalidData},
      {Damage::roOutsideConst, tlcrash_error_t::invalidData},
      // Unreadable class data is taken as a class not realized: skipped,
      // with its category; the metaclass is still read.
      {Damage::classDataUnreadable, tlcrash_error_t::notFound},
  };
  for (const auto& [damage, expected] : cases) {
    std::vector<std::uint8_t> heap;
    const auto bytes = standardImage(GetParam(), damage, &heap);
    Loaded loaded(bytes, heap);
    Found found;
    EXPECT_EQ(loaded.find(kSpin + 1, &found), expected) << static_cast<int>(damage);
    EXPECT_EQ(found.calls, 0);
    if (damage == Damage::classDataUnreadable) {
      Found make;
      EXPECT_EQ(loaded.find(kMake, &make), tlcrash_error_t::success);
      EXPECT_EQ(make.name, "Widget make");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, ObjcSyntheticTest, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "64bit" : "32bit"; });

TEST(ObjcImageTest, AnImageWithoutMetadataAnswersNotFound) {
  Loaded loaded(MachOBuilder::standard(true, false, {}).build());
  Found found;
  EXPECT_EQ(loaded.find(0x1800, &found), tlcrash_error_t::notFound);
}

// The old form: module records name symbol tables, whose classes are read
// from the task. Old is a class with one method list; its metaclass has an
// array of lists ended by all bits set.
std::vector<std::uint8_t> moduleInfoImage() {
  ObjcImageBuilder image(false, {{"__OBJC", "__module_info"},
                                 {"__OBJC", "__symbols"},
                                 {"__OBJC", "__class"},
                                 {"__OBJC", "__meth"}});
  const auto name = image.string("Old");
  const auto oldList = [&](std::vector<std::pair<tlcrash_vm_address_t, tlcrash_vm_address_t>> m) {
    std::vector<std::uint8_t> out;
    image.u32(out, 0);  // obsolete
    image.u32(out, static_cast<std::uint32_t>(m.size()));
    for (const auto& [method, imp] : m) {
      image.u32(out, static_cast<std::uint32_t>(method));
      image.u32(out, 0);
      image.u32(out, static_cast<std::uint32_t>(imp));
    }
    return out;
  };
  const auto instanceList = image.put(
      "__meth", oldList({{image.string("first"), kText}, {image.string("second"), kText + 0x40}}));
  const auto classList = image.put("__meth", oldList({{image.string("shared"), kText + 0x20}}));
  const auto lists = image.put("__meth", image.pointers({classList, 0xffffffff}));
  // isa, superclass, name, version, info, instance size, ivars, method
  // lists, cache, protocols.
  const auto meta = image.put("__class", image.pointers({0, 0, name, 0, 2, 0, 0, lists, 0, 0}));
  const auto klass =
      image.put("__class", image.pointers({meta, 0, name, 0, 0x4001, 0, 0, instanceList, 0, 0}));
  // Symbol table: selector count, selectors, class count (16 bits) and
  // category count (16 bits), then the class pointers.
  std::vector<std::uint8_t> symtab = image.pointers({0, 0, 1, klass});
  const auto symbols = image.put("__symbols", symtab);
  // Modules: version, size, name, symbol table; the first has none.
  image.put("__module_info", image.pointers({7, 16, 0, 0, 7, 16, 0, symbols}));
  return image.build();
}

TEST(ObjcImageTest, TheModuleInfoFormOf32BitImagesIsRead) {
  Loaded loaded(moduleInfoImage());
  const std::tuple<tlcrash_vm_address_t, const char*, bool> cases[] = {
      {kText + 4, "Old first", false},
      {kText + 0x20, "Old shared", true},
      {kText + 0x48, "Old second", false},
  };
  for (const auto& [pc, name, isClassMethod] : cases) {
    Found found;
    ASSERT_EQ(loaded.find(pc, &found), tlcrash_error_t::success) << name;
    EXPECT_EQ(found.name, name);
    EXPECT_EQ(found.is_class_method, isClassMethod);
  }
  EXPECT_FALSE(loaded.cache().classlist_form_known);
}

TEST(LazyStringTest, StringsAreFoundAcrossPagesAndBoundedByWhatIsReadable) {
  FakeTask task;
  std::vector<std::uint8_t> memory(6 * 4096, 'a');
  memory[5000] = 0;                 // a string of 5000 bytes at the start
  memory[memory.size() - 1] = 'z';  // the last string has no NUL
  ASSERT_TRUE(task.map(0x10000, memory));
  std::vector<std::uint8_t> huge(TLCRASH_ASYNC_LAZY_STRING_LIMIT + 4096, 'b');
  huge.back() = 0;
  ASSERT_TRUE(task.map(0x100000, huge));

  struct Case {
    tlcrash_vm_address_t address;
    tlcrash_error_t expected;
    std::size_t length;
  };
  const Case cases[] = {
      {0x10000, tlcrash_error_t::success, 5000},
      {0x10000 + 4999, tlcrash_error_t::success, 1},
      {0x10000 + 5000, tlcrash_error_t::success, 0},
      {0x10000 + 5001, tlcrash_error_t::accessDenied, 0},  // runs to the end of the region
      {0x90000, tlcrash_error_t::noMemory, 0},             // nothing mapped
      {0x100000, tlcrash_error_t::accessDenied, 0},        // longer than the limit
  };
  for (const Case& each : cases) {
    tlcrash_async_lazy_string string;
    tlcrash_async_lazy_string_init(&string, task, each.address);
    const char* bytes = nullptr;
    std::size_t length = 0;
    EXPECT_EQ(tlcrash_async_lazy_string_get(&string, &bytes, &length), each.expected)
        << std::hex << each.address;
    if (each.expected == tlcrash_error_t::success) {
      EXPECT_EQ(length, each.length);
      EXPECT_EQ(bytes[length], '\0');
    }
    tlcrash_async_lazy_string_free(&string);
  }
}

}  // namespace
}  // namespace tlcrash
