#include "crashcapture/report/formatter/text_formatter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/tlcrash.pb-c.h"
#include "crashcapture/report_builder.h"

namespace tlcrash {
namespace {

using test::ReportSetup;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;

struct Formatted {
  std::string text;
  std::vector<std::string> logged;
};

Formatted format(const ReportSetup& setup) {
  const auto report = TLCrashReport::makeWithData(test::reportFile(setup));
  EXPECT_TRUE(report.ok()) << report.error();
  if (!report.ok()) return {};
  Formatted out;
  out.text = TLCrashReportTextFormatter::stringValueForCrashReport(
      *report, 0, [&](const std::string& line) { out.logged.push_back(line); });
  return out;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

// The first line that starts with `prefix`; empty when there is none.
std::string lineStartingWith(const std::string& text, const std::string& prefix) {
  for (const std::string& line : lines(text)) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return {};
}

// The lines after the line `heading`, up to the next empty line.
std::vector<std::string> block(const std::string& text, const std::string& heading) {
  const auto all = lines(text);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] != heading) continue;
    for (++i; i < all.size() && !all[i].empty(); ++i)
      out.push_back(all[i]);
    break;
  }
  return out;
}

test::ProcessorSetup mach(std::uint64_t type, std::uint64_t subtype) {
  return {.encoding = TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH,
          .type = type,
          .subtype = subtype};
}

TEST(TextFormatterTest, MissingSectionsPrintAsQuestionMarks) {
  ReportSetup setup = test::minimalReport();
  setup.system.timestamp = 0;
  const std::string text = format(setup).text;
  EXPECT_THAT(lines(text), testing::IsSupersetOf({
                               "Incident Identifier: ???",
                               "Hardware Model:      ???",
                               "Process:         ??? [???]",
                               "Path:            ???",
                               "Identifier:      app.Wendrix",
                               "Version:         1",
                               "Parent Process:  ??? [???]",
                               "Date/Time:       ???",
                               "OS Version:      Linux 6.1.0 (??\?)",
                           }));
  // A process record without names still gives its numbers.
  setup.process = test::ProcessSetup{.id = 12, .parentId = 1};
  const std::string withProcess = format(setup).text;
  EXPECT_EQ(lineStartingWith(withProcess, "Process:"), "Process:         ??? [12]");
  EXPECT_EQ(lineStartingWith(withProcess, "Parent Process:"), "Parent Process:  ??? [1]");
}

TEST(TextFormatterTest, OperatingSystemNames) {
  const std::pair<std::optional<int>, const char*> cases[] = {
      {0, "Mac OS X"},
      {1, "iPhone OS"},
      {2, "Mac OS X"},
      {4, "Apple tvOS"},
      {5, "Linux"},
      {3, "Unknown (3)"},
      {99, "Unknown (99)"},
      {-1, "Unknown (-1)"},
      {std::nullopt, "Unknown (3)"},  // the declared default, OS_UNKNOWN
  };
  for (const auto& [os, name] : cases) {
    SCOPED_TRACE(name);
    ReportSetup setup = test::minimalReport();
    setup.system.os = os;
    setup.system.build = "b";
    EXPECT_EQ(lineStartingWith(format(setup).text, "OS Version:"),
              std::string("OS Version:      ") + name + " 6.1.0 (b)");
  }
}

TEST(TextFormatterTest, TheFirstImageOfAKnownMachCodeTypeDecidesTheCodeTypeAndWidth) {
  struct Case {
    const char* name;
    std::vector<std::optional<test::ProcessorSetup>> imageTypes;
    std::optional<test::ProcessorSetup> machine;  // the system's processor
    const char* codeType;
    bool lp64;
  };
  const test::ProcessorSetup notMach = {.encoding = std::nullopt, .type = 7, .subtype = 3};
  const Case cases[] = {
      {"x86-64 image", {mach(0x1000007, 3)}, std::nullopt, "X86-64", true},
      {"arm64 image", {mach(0x100000C, 0)}, std::nullopt, "ARM-64", true},
      {"i386 image", {mach(7, 3)}, std::nullopt, "X86", false},
      {"arm image", {mach(12, 9)}, std::nullopt, "ARM", false},
      {"powerpc image", {mach(18, 0)}, std::nullopt, "PPC", false},
      {"unknown types and other encodings are passed over",
       {mach(0x1000012, 0), notMach, std::nullopt, mach(12, 6), mach(0x1000007, 3)},
       std::nullopt,
       "ARM",
       false},
      {"no image decides: the system's processor names it, 64-bit",
       {std::nullopt},
       mach(7, 3),
       "X86",
       true},
      {"an unknown system processor",
       {std::nullopt},
       mach(0x1000012, 0),
       "Unknown (16777234)",
       true},
      {"a system processor of another encoding", {notMach}, notMach, "Unknown", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportSetup setup = test::minimalReport();
    setup.machine =
        c.machine ? std::optional(test::MachineSetup{.processor = *c.machine}) : std::nullopt;
    setup.images.clear();
    std::uint64_t base = 0x400000;
    for (const auto& type : c.imageTypes) {
      setup.images.push_back(
          {.base = base, .size = 0x2000, .name = "/usr/lib/i", .codeType = type});
      base += 0x10000;
    }
    setup.threads[0].registers = {{"r0", 0x12}};
    const std::string text = format(setup).text;
    EXPECT_EQ(lineStartingWith(text, "Code Type:"), std::string("Code Type:       ") + c.codeType);
    EXPECT_EQ(lineStartingWith(text, "Thread 0 crashed with"),
              std::string("Thread 0 crashed with ") + c.codeType + " Thread State:");
    const auto frames = block(text, "Thread 0 Crashed:");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_THAT(frames[0], HasSubstr(c.lp64 ? " 0x0000000000401000 " : " 0x00401000 "));
    EXPECT_EQ(
        block(text, "Thread 0 crashed with " + std::string(c.codeType) + " Thread State:"),
        std::vector<std::string>{c.lp64 ? "    r0: 0x0000000000000012 " : "    r0: 0x00000012 "});
    EXPECT_EQ(block(text, "Binary Images:")[0].substr(0, c.lp64 ? 40 : 24),
              c.lp64 ? "          0x400000 -           0x401fff " : "  0x400000 -   0x401fff ");
  }
}

TEST(TextFormatterTest, ImageLinesNameTheArchitecture) {
  struct Case {
    std::optional<test::ProcessorSetup> codeType;
    const char* name;
  };
  const Case cases[] = {
      {mach(7, 3), "i386"},
      {mach(12, 6), "armv6"},
      {mach(12, 9), "armv7"},
      {mach(12, 11), "armv7s"},
      {mach(12, 7), "arm-unknown"},
      {mach(18, 0), "powerpc"},
      {mach(0x1000007, 3), "x86_64"},
      {mach(0x100000C, 0), "arm64"},
      {mach(0x100000C, 1), "armv8"},
      {mach(0x100000C, 2), "arm64e"},
      {mach(0x100000C, 3), "arm64-unknown"},
      {mach(0x1000012, 0), "???"},
      {test::ProcessorSetup{.encoding = 0, .type = 7, .subtype = 3}, "???"},
      {test::ProcessorSetup{.encoding = -1, .type = 7, .subtype = 3}, "???"},
      {std::nullopt, "???"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportSetup setup = test::minimalReport();
    setup.images[0].codeType = c.codeType;
    EXPECT_THAT(block(format(setup).text, "Binary Images:")[0],
                HasSubstr(std::string(" wendrix ") + c.name + "  <??\?> /usr/bin/wendrix"));
  }
}

TEST(TextFormatterTest, ImageLinesAreSortedWithOneLinePerBaseAddress) {
  ReportSetup setup = test::minimalReport();
  setup.process = test::ProcessSetup{.path = "/usr/bin/wendrix"};
  setup.images = {
      {.base = 0x7000, .size = 0x100, .name = "/lib/c.so", .uuid = test::countingBytes(2)},
      {.base = 0x400000, .size = 0x2000, .name = "/usr/bin/wendrix"},
      {.base = 0x7000, .size = 0x900, .name = "/lib/same-base.so"},
      {.base = 0, .size = 0, .name = "/lib/at-zero.so/"},
  };
  EXPECT_THAT(block(format(setup).text, "Binary Images:"),
              ElementsAre("                 0 -                  0  at-zero.so ???  <??\?> "
                          "/lib/at-zero.so/",
                          "            0x7000 -             0x70ff  c.so ???  <0001> /lib/c.so",
                          "          0x400000 -           0x401fff +wendrix ???  <??\?> "
                          "/usr/bin/wendrix"));
}

TEST(TextFormatterTest, CrashedThreadsAndTheirRegisters) {
  ReportSetup setup = test::minimalReport();
  setup.machine = test::MachineSetup{.processor = mach(12, 9)};
  setup.images[0].codeType = mach(12, 9);
  setup.threads = {
      {.number = 3, .crashed = true, .registers = {{"r0", 1}}},
      {.number = 4, .crashed = false, .registers = {{"r1", 2}}},
      {.number = 5,
       .crashed = true,
       .registers = {{"r10", 10}, {"r11", 11}, {"r12", 12}, {"sp", 13}, {"lr", 14}}},
  };
  const std::string text = format(setup).text;
  // The first crashed thread is named; the last one's registers are shown.
  EXPECT_EQ(lineStartingWith(text, "Crashed Thread:"), "Crashed Thread:  3");
  EXPECT_THAT(lines(text),
              testing::IsSupersetOf({"Thread 3 Crashed:", "Thread 4:", "Thread 5 Crashed:"}));
  EXPECT_THAT(block(text, "Thread 5 crashed with ARM Thread State:"),
              ElementsAre("   r10: 0x0000000a    r11: 0x0000000b     ip: 0x0000000c     sp: "
                          "0x0000000d ",
                          "    lr: 0x0000000e "));
  EXPECT_THAT(text, Not(HasSubstr("Thread 3 crashed with")));

  // "r12" is ARM's alone; no thread crashed, no register block.
  setup.machine = test::MachineSetup{.processor = mach(0x1000007, 3)};
  for (auto& thread : setup.threads)
    thread.crashed = false;
  const std::string none = format(setup).text;
  EXPECT_EQ(lineStartingWith(none, "Crashed Thread:"), "");
  EXPECT_THAT(none, Not(HasSubstr("Thread State:")));
  setup.threads[2].crashed = true;
  EXPECT_THAT(format(setup).text, HasSubstr("    r12: 0x0000000c"));
}

TEST(TextFormatterTest, UncaughtExceptionAndItsBacktrace) {
  ReportSetup setup = test::minimalReport();
  setup.exception = test::ExceptionSetup{.name = "NSRangeException", .reason = "index 3 beyond"};
  const std::string withoutFrames = format(setup).text;
  EXPECT_THAT(block(withoutFrames, "Application Specific Information:"),
              ElementsAre("*** Terminating app due to uncaught exception 'NSRangeException', "
                          "reason: 'index 3 beyond'"));
  EXPECT_THAT(withoutFrames, Not(HasSubstr("Last Exception Backtrace:")));

  setup.exception->frames = {{.pc = 0x401010}, {.pc = 0x400000}};
  EXPECT_THAT(
      block(format(setup).text, "Last Exception Backtrace:"),
      ElementsAre("0   wendrix                             0x0000000000401010 0x400000 + 4112",
                  "1   wendrix                             0x0000000000400000 0x400000 + 0"));
}

TEST(TextFormatterTest, FrameLinesAndWhatTheyLog) {
  struct Case {
    const char* name;
    int os;
    test::FrameSetup frame;
    const char* line;
    std::vector<std::string> logged;
  };
  const test::SymbolSetup underscored{.name = "_restore", .start = 0x401000};
  const Case cases[] = {
      {"an Apple system drops the symbol's underscore",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X,
       {.pc = 0x401010, .symbol = underscored},
       "0   wendrix                             0x0000000000401010 restore + 16",
       {}},
      {"Linux keeps it",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX,
       {.pc = 0x401010, .symbol = test::SymbolSetup{.name = "_ZN1a1bEv", .start = 0x401000}},
       "0   wendrix                             0x0000000000401010 _ZN1a1bEv + 16",
       {}},
      {"another system keeps it and says so",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN,
       {.pc = 0x401010, .symbol = underscored},
       "0   wendrix                             0x0000000000401010 _restore + 16",
       {"[TLCrashReporter] Symbol \"_restore\" prefix rules are unknown for this OS!"}},
      {"a lone underscore stays",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN,
       {.pc = 0x401010, .symbol = test::SymbolSetup{.name = "_", .start = 0x401000}},
       "0   wendrix                             0x0000000000401010 _ + 16",
       {}},
      {"a symbol starting after the address gives a negative offset",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX,
       {.pc = 0x401010, .symbol = test::SymbolSetup{.name = "f", .start = 0x401020}},
       "0   wendrix                             0x0000000000401010 f + -16",
       {}},
      {"an address outside every image",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX,
       {.pc = 0x10},
       "0   ???                                 0x0000000000000010 0x0 + 0",
       {"[TLCrashReporter] Cannot find image for 0x10"}},
      {"address 0 logs nothing",
       TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX,
       {.pc = 0},
       "0   ???                                 0x0000000000000000 0x0 + 0",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportSetup setup = test::minimalReport();
    setup.system.os = c.os;
    setup.threads[0].frames = {c.frame};
    const auto report = TLCrashReport::makeWithData(test::reportFile(setup));
    ASSERT_TRUE(report.ok()) << report.error();
    std::vector<std::string> logged;
    EXPECT_EQ(TLCrashReportTextFormatter::formatStackFrame(
                  report->threads()[0].stackFrames()[0], 0, *report, true,
                  [&](const std::string& line) { logged.push_back(line); }),
              c.line);
    EXPECT_EQ(logged, c.logged);
  }
}

TEST(TextFormatterTest, ImageNamesArePaddedByCharacterAndIndexesByWidth) {
  ReportSetup setup = test::minimalReport();
  setup.images[0].name = "/opt/caf\xC3\xA9";
  const auto report = TLCrashReport::makeWithData(test::reportFile(setup));
  ASSERT_TRUE(report.ok()) << report.error();
  // "café" is 4 characters (5 bytes): 31 spaces fill its 35 columns.
  EXPECT_EQ(TLCrashReportTextFormatter::formatStackFrame(report->threads()[0].stackFrames()[0],
                                                         12345, *report, false),
            "12345caf\xC3\xA9" + std::string(31, ' ') + " 0x00401000 0x400000 + 4096");
}

TEST(TextFormatterTest, HomeFoldersAreShownWithoutTheUsersName) {
  ReportSetup setup = test::minimalReport();
  setup.process = test::ProcessSetup{.path = "/home/alice/bin/wendrix"};
  setup.images = {{.base = 0x400000, .size = 0x2000, .name = "/home/alice/bin/wendrix"},
                  {.base = 0x500000, .size = 0x2000, .name = "/home/bob/lib/libx.so"},
                  {.base = 0x600000, .size = 0x2000, .name = "/home/carol"}};
  setup.threads[0].frames.push_back({.pc = 0x600010});
  setup.exception = test::ExceptionSetup{.name = "E", .reason = "open(\"/home/alice/.config\")"};
  const std::string text = format(setup).text;
  EXPECT_EQ(lineStartingWith(text, "Path:"), "Path:            /home/USER/bin/wendrix");
  EXPECT_THAT(block(text, "Binary Images:"),
              ElementsAre(HasSubstr(" +wendrix ???  <??\?> /home/USER/bin/wendrix"),
                          HasSubstr("  libx.so ???  <??\?> /home/USER/lib/libx.so"),
                          HasSubstr("  USER ???  <??\?> /home/USER")));
  EXPECT_THAT(text, HasSubstr("reason: 'open(\"/home/USER/.config\")'"));
  EXPECT_THAT(block(text, "Thread 0 Crashed:")[1], HasSubstr("1   USER "));
  for (const char* name : {"alice", "bob", "carol"})
    EXPECT_THAT(text, Not(HasSubstr(name)));
}

TEST(TextFormatterTest, FormatReportEncodesTheTextLossily) {
  ReportSetup setup = test::minimalReport();
  setup.application.identifier = "app.Caf\xC3\xA9\xF0\x9F\x98\x80";
  const auto report = TLCrashReport::makeWithData(test::reportFile(setup));
  ASSERT_TRUE(report.ok()) << report.error();
  const std::string text = TLCrashReportTextFormatter::stringValueForCrashReport(*report, 0);

  const auto utf8 =
      TLCrashReportTextFormatter(0, TLCrashReportStringEncoding::utf8).formatReport(*report);
  ASSERT_TRUE(utf8.ok());
  EXPECT_EQ(std::string(utf8->begin(), utf8->end()), text);

  const auto ascii =
      TLCrashReportTextFormatter(0, TLCrashReportStringEncoding::ascii).formatReport(*report);
  ASSERT_TRUE(ascii.ok());
  const std::string asciiText(ascii->begin(), ascii->end());
  EXPECT_EQ(lineStartingWith(asciiText, "Identifier:"), "Identifier:      app.Caf??");
  EXPECT_EQ(asciiText.size(), text.size() - 4);  // é (2 bytes) and 😀 (4) became one byte each
}

TEST(TextFormatterTest, FormatterLogsToItsSink) {
  ReportSetup setup = test::minimalReport();
  setup.threads[0].frames = {{.pc = 0x10}};
  const auto report = TLCrashReport::makeWithData(test::reportFile(setup));
  ASSERT_TRUE(report.ok()) << report.error();
  std::vector<std::string> logged;
  const TLCrashReportTextFormatter formatter(
      0, TLCrashReportStringEncoding::utf8,
      [&](const std::string& line) { logged.push_back(line); });
  ASSERT_TRUE(formatter.formatReport(*report).ok());
  EXPECT_THAT(logged, ElementsAre("[TLCrashReporter] Cannot find image for 0x10"));
  // Without a sink nothing is logged, and nothing fails.
  EXPECT_THAT(TLCrashReportTextFormatter::stringValueForCrashReport(*report, 0),
              HasSubstr("0   ???"));
  EXPECT_THAT(logged, testing::SizeIs(1));
}

}  // namespace
}  // namespace tlcrash
