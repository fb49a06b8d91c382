// The reader on the committed images that ld64.lld built (tests/fixtures/
// macho), checked against the dumps llvm-objdump saved beside them: segments,
// sections, UUID and the symbol of addresses at, inside and between
// functions, loaded at the linked address, with a slide, and read from this
// process's own memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crashcapture/platform/fake/fake_macho.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/platform/macho_format.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/macho_symbols.h"

namespace tlcrash {
namespace {

const std::string kFixtures = TLCRASH_MACHO_FIXTURES;

struct DumpSegment {
  std::string name;
  std::uint64_t vmaddr = 0, vmsize = 0, fileoff = 0, filesize = 0;
};
struct DumpSection {
  std::string segname, sectname;
  std::uint64_t addr = 0, size = 0;
};
struct DumpSymbol {
  std::uint64_t value = 0;
  bool function = false;
  std::string name;
};
struct Dump {
  std::vector<DumpSegment> segments;
  std::vector<DumpSection> sections;
  std::string uuid;  // 32 hexadecimal digits, upper case
  std::vector<DumpSymbol> symbols;
};

// Reads `llvm-objdump --macho --private-headers` and `--syms` output.
Dump readDump(const std::string& image) {
  Dump dump;
  std::ifstream headers(kFixtures + "/" + image + ".headers.txt");
  std::string line;
  std::string block;  // "segment", "section" or ""
  while (std::getline(headers, line)) {
    std::istringstream words(line);
    std::string key, value;
    words >> key >> value;
    if (key == "cmd") block = value == "LC_SEGMENT_64" ? "segment" : "";
    if (key == "Section") block = "section";
    if (key == "uuid") {
      value.erase(std::remove(value.begin(), value.end(), '-'), value.end());
      dump.uuid = value;
    }
    if (block == "segment") {
      if (key == "segname") dump.segments.push_back({value});
      if (dump.segments.empty()) continue;
      auto& segment = dump.segments.back();
      if (key == "vmaddr") segment.vmaddr = std::stoull(value, nullptr, 16);
      if (key == "vmsize") segment.vmsize = std::stoull(value, nullptr, 16);
      if (key == "fileoff") segment.fileoff = std::stoull(value);
      if (key == "filesize") segment.filesize = std::stoull(value);
    } else if (block == "section") {
      if (key == "sectname") dump.sections.push_back({"", value});
      if (dump.sections.empty()) continue;
      auto& section = dump.sections.back();
      if (key == "segname") section.segname = value;
      if (key == "addr") section.addr = std::stoull(value, nullptr, 16);
      if (key == "size") section.size = std::stoull(value, nullptr, 16);
    }
  }
  std::ifstream syms(kFixtures + "/" + image + ".syms.txt");
  while (std::getline(syms, line)) {
    // "0000000100000430 l     F __TEXT,__text _framed_local"
    std::istringstream words(line);
    std::string value, scope, kind, section, name;
    if (!(words >> value >> scope >> kind >> section >> name)) continue;
    dump.symbols.push_back({std::stoull(value, nullptr, 16), kind == "F", name});
  }
  return dump;
}

struct Found {
  tlcrash_vm_address_t address = 0;
  std::string name;
};

void onSymbol(tlcrash_vm_address_t address, const char* name, void* context) {
  *static_cast<Found*>(context) = {address, name};
}

struct Case {
  const char* image;
  tlcrash_vm_off_t slide;
};

class MachOFixtureTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    dump_ = readDump(GetParam().image);
    ASSERT_FALSE(dump_.segments.empty());
    ASSERT_FALSE(dump_.symbols.empty());
    const auto file = readFileBytes(kFixtures + "/" + GetParam().image);
    const auto header = loadMachO(task_, file, GetParam().slide);
    ASSERT_TRUE(header);
    ASSERT_EQ(tlcrash_async_macho_init(&image_, task_, GetParam().image, *header),
              tlcrash_error_t::success);
  }
  void TearDown() override { tlcrash_async_macho_free(&image_); }

  tlcrash_vm_address_t slid(std::uint64_t address) const {
    return address + static_cast<std::uint64_t>(GetParam().slide);
  }

  Dump dump_;
  FakeTask task_;
  tlcrash_async_macho image_;
};

TEST_P(MachOFixtureTest, HeaderAndTextRangeMatchTheDump) {
  EXPECT_STREQ(tlcrash_async_macho_name(&image_), GetParam().image);
  EXPECT_EQ(tlcrash_async_macho_cpu_type(&image_), CPU_TYPE_X86_64);
  // The executable's subtype carries the LIB64 capability bit (the dump's
  // "caps LIB64").
  EXPECT_EQ(tlcrash_async_macho_cpu_subtype(&image_) & 0x00ffffff, CPU_SUBTYPE_X86_ALL);
  EXPECT_EQ(tlcrash_async_macho_header_size(&image_), 32u);
  EXPECT_EQ(image_.vmaddr_slide, GetParam().slide);
  const auto text = std::find_if(dump_.segments.begin(), dump_.segments.end(),
                                 [](const DumpSegment& s) { return s.name == "__TEXT"; });
  ASSERT_NE(text, dump_.segments.end());
  const tlcrash_vm_address_t start = slid(text->vmaddr);
  EXPECT_TRUE(tlcrash_async_macho_contains_address(&image_, start));
  EXPECT_TRUE(tlcrash_async_macho_contains_address(&image_, start + text->vmsize - 1));
  EXPECT_FALSE(tlcrash_async_macho_contains_address(&image_, start + text->vmsize));
  EXPECT_FALSE(tlcrash_async_macho_contains_address(&image_, start - 1));
}

TEST_P(MachOFixtureTest, SegmentsAndSectionsMatchTheDump) {
  for (const DumpSegment& expected : dump_.segments) {
    SCOPED_TRACE(expected.name);
    tlcrash_async_macho_mapped_segment segment;
    const tlcrash_error_t error =
        tlcrash_async_macho_map_segment(&image_, expected.name.c_str(), &segment);
    if (expected.filesize == 0) {
      // __PAGEZERO reserves addresses only: nothing there can be viewed.
      EXPECT_EQ(error, tlcrash_error_t::noMemory);
      continue;
    }
    ASSERT_EQ(error, tlcrash_error_t::success);
    EXPECT_EQ(tlcrash_async_mobject_base_address(&segment.mobj), slid(expected.vmaddr));
    EXPECT_EQ(tlcrash_async_mobject_length(&segment.mobj), expected.vmsize);
    EXPECT_EQ(segment.fileoff, expected.fileoff);
    EXPECT_EQ(segment.filesize, expected.filesize);
    tlcrash_async_macho_mapped_segment_free(&segment);
  }
  ASSERT_GE(dump_.sections.size(), 4u);  // __text, __unwind_info, __eh_frame, __data
  for (const DumpSection& expected : dump_.sections) {
    SCOPED_TRACE(expected.segname + "," + expected.sectname);
    tlcrash_async_mobject section;
    ASSERT_EQ(tlcrash_async_macho_map_section(&image_, expected.segname.c_str(),
                                              expected.sectname.c_str(), &section),
              tlcrash_error_t::success);
    EXPECT_EQ(tlcrash_async_mobject_base_address(&section), slid(expected.addr));
    EXPECT_EQ(tlcrash_async_mobject_length(&section), expected.size);
    tlcrash_async_mobject_free(&section);
  }
  tlcrash_async_mobject missing;
  EXPECT_EQ(tlcrash_async_macho_map_section(&image_, "__TEXT", "__objc_const", &missing),
            tlcrash_error_t::notFound);
  EXPECT_EQ(tlcrash_async_macho_map_section(&image_, "__OBJC", "__module_info", &missing),
            tlcrash_error_t::notFound);
}

TEST_P(MachOFixtureTest, UuidMatchesTheDump) {
  const std::uint8_t* cmd = tlcrash_async_macho_find_command(&image_, macho::LC_UUID);
  ASSERT_NE(cmd, nullptr);
  ASSERT_EQ(tlcrash_async_macho_cmd_uint32(&image_, cmd, 4), macho::kUuidCommandSize);
  std::string hex;
  for (int index = 0; index < 16; ++index) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", cmd[8 + index]);
    hex += digits;
  }
  EXPECT_EQ(hex, dump_.uuid);
}

TEST_P(MachOFixtureTest, EverySymbolIsFoundAtInsideAndByName) {
  for (const DumpSymbol& symbol : dump_.symbols) {
    SCOPED_TRACE(symbol.name);
    for (const std::uint64_t offset : {0, 1}) {
      Found found;
      ASSERT_EQ(tlcrash_async_macho_find_symbol_by_pc(&image_, slid(symbol.value) + offset,
                                                      onSymbol, &found),
                tlcrash_error_t::success);
      EXPECT_EQ(found.name, symbol.name);
      EXPECT_EQ(found.address, slid(symbol.value));
    }
    tlcrash_vm_address_t address = 0;
    ASSERT_EQ(tlcrash_async_macho_find_symbol_by_name(&image_, symbol.name.c_str(), &address),
              tlcrash_error_t::success);
    EXPECT_EQ(address, slid(symbol.value));
  }
  tlcrash_vm_address_t address = 0;
  EXPECT_EQ(tlcrash_async_macho_find_symbol_by_name(&image_, "_no_such_symbol", &address),
            tlcrash_error_t::notFound);
  EXPECT_EQ(tlcrash_async_macho_find_symbol_by_name(&image_, "_dwarf_r1", &address),
            tlcrash_error_t::notFound);
}

TEST_P(MachOFixtureTest, AnAddressBetweenFunctionsBelongsToTheOneBefore) {
  std::map<std::uint64_t, std::string> functions;
  for (const DumpSymbol& symbol : dump_.symbols)
    if (symbol.function && symbol.name != "__mh_execute_header")
      functions[symbol.value] = symbol.name;
  ASSERT_GE(functions.size(), 7u);
  // The padding before each function (and the unnamed gap after _dwarf_r11)
  // is named after the function before it.
  for (auto next = std::next(functions.begin()); next != functions.end(); ++next) {
    const auto before = std::prev(next);
    SCOPED_TRACE(before->second);
    Found found;
    ASSERT_EQ(
        tlcrash_async_macho_find_symbol_by_pc(&image_, slid(next->first - 1), onSymbol, &found),
        tlcrash_error_t::success);
    EXPECT_EQ(found.name, before->second);
    EXPECT_EQ(found.address, slid(before->first));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, MachOFixtureTest,
                         ::testing::Values(Case{"unwind_x86_64", 0},
                                           Case{"unwind_x86_64", 0x7f0000000},
                                           Case{"unwind_x86_64.dylib", 0x10000000}),
                         [](const auto& instance) {
                           std::string name = instance.param.image;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name + (instance.param.slide != 0 ? "_slid" : "");
                         });

// The executable's file is laid out as it is mapped, so a copy of it in this
// process's memory reads as a loaded image through the real task.
TEST(MachOSelfTaskTest, AnImageInTheOwnProcessIsReadInPlace) {
  const auto file = readFileBytes(kFixtures + "/unwind_x86_64");
  ASSERT_FALSE(file.empty());
  const SelfTask task;
  const auto header = reinterpret_cast<tlcrash_vm_address_t>(file.data());
  tlcrash_async_macho image;
  ASSERT_EQ(tlcrash_async_macho_init(&image, task, "self", header), tlcrash_error_t::success);
  EXPECT_EQ(image.load_cmds.local, file.data() + macho::kHeaderSize64);  // viewed, not copied
  const tlcrash_vm_address_t slide = header - 0x100000000;
  Found found;
  ASSERT_EQ(tlcrash_async_macho_find_symbol_by_pc(&image, slide + 0x100000505, onSymbol, &found),
            tlcrash_error_t::success);
  EXPECT_EQ(found.name, "_dwarf_r11");
  EXPECT_EQ(found.address, slide + 0x100000500);
  tlcrash_async_macho_free(&image);
}

}  // namespace
}  // namespace tlcrash
