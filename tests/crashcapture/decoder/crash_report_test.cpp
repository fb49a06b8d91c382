#include "crashcapture/report/decoder/crash_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "crashcapture/report/decoder/report_decoding.h"
#include "crashcapture/report/tlcrash.pb-c.h"
#include "crashcapture/report_builder.h"

namespace tlcrash {
namespace {

using test::Bytes;
using test::ReportSetup;
using testing::ElementsAre;

base::Result<TLCrashReport> decode(const Bytes& file) {
  return TLCrashReport::makeWithData(file);
}

base::Result<TLCrashReport> decode(const ReportSetup& setup) {
  return decode(test::reportFile(setup));
}

Bytes withHeader(std::string header, const Bytes& body) {
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

TEST(CrashReportTest, DecodesEverySectionOfAFullReport) {
  const auto report = decode(test::fullReport());
  ASSERT_TRUE(report.ok()) << report.error();

  ASSERT_TRUE(report->uuidRef());
  EXPECT_THAT(*report->uuidRef(), ElementsAre(0x6B, 0xA7, 0xB8, 0x10, 0x9D, 0xAD, 0x11, 0xD1, 0x80,
                                              0xB4, 0x00, 0xC0, 0x4F, 0xD4, 0x30, 0xC8));

  const auto& system = report->systemInfo();
  EXPECT_EQ(system.operatingSystem(), TLCrashReportOperatingSystem::LINUX);
  EXPECT_EQ(system.operatingSystemVersion(), "6.1.0");
  EXPECT_EQ(system.operatingSystemBuild(), "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1");
  EXPECT_EQ(system.architecture(), TLCrashReportArchitecture::X86_64);
  EXPECT_EQ(system.timestamp(), TLCrashReportDate(std::chrono::seconds(1700000000)));
  const TLCrashReportProcessorInfo x86_64(TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_MACH,
                                          0x1000007, 3);
  EXPECT_EQ(system.processorInfo(), x86_64);

  ASSERT_TRUE(report->hasMachineInfo());
  EXPECT_EQ(report->machineInfo()->modelName(), "Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(report->machineInfo()->processorInfo(), x86_64);
  EXPECT_EQ(report->machineInfo()->processorCount(), 4u);
  EXPECT_EQ(report->machineInfo()->logicalProcessorCount(), 8u);

  EXPECT_EQ(report->applicationInfo().applicationIdentifier(), "app.Wendrix");
  EXPECT_EQ(report->applicationInfo().applicationVersion(), "42");
  EXPECT_EQ(report->applicationInfo().applicationMarketingVersion(), "0.1.0");

  ASSERT_TRUE(report->hasProcessInfo());
  const auto& process = *report->processInfo();
  EXPECT_EQ(process.processName(), "wendrix");
  EXPECT_EQ(process.processID(), 4242u);
  EXPECT_EQ(process.processPath(), "/home/alice/.local/bin/wendrix");
  EXPECT_EQ(process.processStartTime(), TLCrashReportDate(std::chrono::seconds(1699999990)));
  EXPECT_EQ(process.parentProcessName(), "bash");
  EXPECT_EQ(process.parentProcessID(), 4000u);
  EXPECT_TRUE(process.native());

  EXPECT_EQ(report->signalInfo().name(), "SIGABRT");
  EXPECT_EQ(report->signalInfo().code(), "#0");
  EXPECT_EQ(report->signalInfo().address(), 0u);
  ASSERT_TRUE(report->machExceptionInfo());
  EXPECT_EQ(report->machExceptionInfo()->type(), 1u);
  EXPECT_THAT(report->machExceptionInfo()->codes(), ElementsAre(1u, 0x10u));

  ASSERT_EQ(report->threads().size(), 2u);
  EXPECT_EQ(report->threads()[0].threadNumber(), 0);
  EXPECT_FALSE(report->threads()[0].crashed());
  EXPECT_TRUE(report->threads()[0].registers().empty());
  const auto& crashed = report->threads()[1];
  EXPECT_EQ(crashed.threadNumber(), 1);
  EXPECT_TRUE(crashed.crashed());
  ASSERT_EQ(crashed.stackFrames().size(), 5u);
  const auto& symbol = crashed.stackFrames()[0].symbolInfo();
  ASSERT_TRUE(symbol);
  EXPECT_EQ(symbol->symbolName(), "_ZN7wendrix6Engine7restoreEv");
  EXPECT_EQ(symbol->startAddress(), 0x555555556ee0u);
  EXPECT_EQ(symbol->endAddress(), 0x555555556f40u);
  EXPECT_EQ(crashed.stackFrames()[1].symbolInfo()->endAddress(), 0u);  // none recorded
  EXPECT_FALSE(crashed.stackFrames()[2].symbolInfo());
  EXPECT_EQ(crashed.stackFrames()[3].instructionPointer(), 0xdeadbeefu);
  ASSERT_EQ(crashed.registers().size(), 6u);
  EXPECT_EQ(crashed.registers()[1].registerName(), "rbx");
  EXPECT_EQ(crashed.registers()[1].registerValue(), 0x7fffffffe3a8u);

  ASSERT_EQ(report->images().size(), 4u);
  const auto& libc = report->images()[0];
  EXPECT_EQ(libc.imageName(), "/usr/lib/x86_64-linux-gnu/libc.so.6");
  EXPECT_EQ(libc.imageBaseAddress(), 0x7ffff7c00000u);
  EXPECT_EQ(libc.imageSize(), 0x1c6000u);
  EXPECT_TRUE(libc.hasImageUUID());
  EXPECT_EQ(libc.imageUUID(), "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(libc.codeType(), x86_64);
  // A GNU build id of 20 bytes is kept whole.
  EXPECT_EQ(report->images()[1].imageUUID(), "1f2e3d4c5b6a798897a6b5c4d3e2f10012345678");
  EXPECT_FALSE(report->images()[2].hasImageUUID());
  EXPECT_FALSE(report->images()[2].codeType());

  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
  EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "cannot read /home/alice/layouts.json");
  ASSERT_TRUE(report->exceptionInfo()->stackFrames());
  EXPECT_EQ(report->exceptionInfo()->stackFrames()->size(), 2u);

  EXPECT_EQ(report->customData(), (std::vector<std::uint8_t>{0xC0, 0xFF, 0xEE}));
}

TEST(CrashReportTest, OptionalSectionsAndFieldsStayAbsent) {
  ReportSetup setup = test::minimalReport();
  setup.system.timestamp = 0;
  setup.process = test::ProcessSetup{.id = 7, .parentId = 1, .native = false};
  setup.exception = test::ExceptionSetup{.name = "E", .reason = "R", .frames = {}};
  setup.reportInfo = test::ReportInfoSetup{.userRequested = true, .uuid = std::nullopt};
  const auto report = decode(setup);
  ASSERT_TRUE(report.ok()) << report.error();

  EXPECT_FALSE(report->uuidRef());
  EXPECT_FALSE(report->hasMachineInfo());
  EXPECT_FALSE(report->systemInfo().operatingSystemBuild());
  EXPECT_FALSE(report->systemInfo().timestamp());  // 0 stands for none
  EXPECT_FALSE(report->applicationInfo().applicationMarketingVersion());
  ASSERT_TRUE(report->hasProcessInfo());
  EXPECT_FALSE(report->processInfo()->processName());
  EXPECT_FALSE(report->processInfo()->processPath());
  EXPECT_FALSE(report->processInfo()->parentProcessName());
  EXPECT_FALSE(report->processInfo()->processStartTime());
  EXPECT_EQ(report->processInfo()->processID(), 7u);
  EXPECT_FALSE(report->processInfo()->native());
  EXPECT_FALSE(report->machExceptionInfo());
  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_FALSE(report->exceptionInfo()->stackFrames());  // no frames: none, not empty
  EXPECT_FALSE(report->customData());

  setup.customData = Bytes{};
  const auto withEmptyData = decode(setup);
  ASSERT_TRUE(withEmptyData.ok()) << withEmptyData.error();
  EXPECT_EQ(withEmptyData->customData(), Bytes{});
}

TEST(CrashReportTest, WithoutAMachineProcessorTheArchitectureNamesTheProcessor) {
  struct Case {
    int architecture;
    std::uint64_t type;
    std::uint64_t subtype;
  };
  const Case cases[] = {
      {TLCRASH__ARCHITECTURE__X86_32, 7, 3},        {TLCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
      {TLCRASH__ARCHITECTURE__ARMV6, 12, 6},        {TLCRASH__ARCHITECTURE__PPC, 18, 0},
      {TLCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {TLCRASH__ARCHITECTURE__ARMV7, 12, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.architecture);
    ReportSetup setup = test::minimalReport();
    setup.system.architecture = c.architecture;
    const auto report = decode(setup);
    ASSERT_TRUE(report.ok()) << report.error();
    EXPECT_EQ(report->systemInfo().processorInfo(),
              TLCrashReportProcessorInfo(TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_MACH,
                                         c.type, c.subtype));
  }

  // A machine processor wins over the architecture, even an unknown one.
  ReportSetup setup = test::minimalReport();
  setup.system.architecture = TLCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
  setup.machine =
      test::MachineSetup{.processor = {.encoding = std::nullopt, .type = 99, .subtype = 1}};
  const auto report = decode(setup);
  ASSERT_TRUE(report.ok()) << report.error();
  EXPECT_EQ(
      report->systemInfo().processorInfo(),
      TLCrashReportProcessorInfo(TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_UNKNOWN, 99, 1));
}

TEST(CrashReportTest, Arm64EAddressesKeepOnlyTheirLow36Bits) {
  const std::uint64_t signedPc = 0x8E1F000123456789;
  const auto reportOn = [&](std::uint64_t type, std::uint64_t subtype) {
    ReportSetup setup = test::minimalReport();
    setup.machine = test::MachineSetup{.processor = {.type = type, .subtype = subtype}};
    setup.threads[0].frames.push_back(
        {.pc = signedPc, .symbol = test::SymbolSetup{.name = "f", .start = 0x8E1F000123456000}});
    setup.exception =
        test::ExceptionSetup{.name = "E", .reason = "R", .frames = {{.pc = signedPc}}};
    return decode(setup);
  };

  const auto arm64e = reportOn(0x100000C, 2);
  ASSERT_TRUE(arm64e.ok()) << arm64e.error();
  EXPECT_EQ(arm64e->threads()[0].stackFrames()[1].instructionPointer(), 0x123456789u);
  EXPECT_EQ(arm64e->exceptionInfo()->stackFrames()->at(0).instructionPointer(), 0x123456789u);
  // The symbol's own addresses are stored as they are.
  EXPECT_EQ(arm64e->threads()[0].stackFrames()[1].symbolInfo()->startAddress(),
            0x8E1F000123456000u);

  for (const auto& [type, subtype] :
       {std::pair<std::uint64_t, std::uint64_t>{0x100000C, 0}, {0x100000C, 1}, {0x1000007, 2}}) {
    SCOPED_TRACE(testing::Message() << type << "/" << subtype);
    const auto report = reportOn(type, subtype);
    ASSERT_TRUE(report.ok()) << report.error();
    EXPECT_EQ(report->threads()[0].stackFrames()[1].instructionPointer(), signedPc);
  }
}

TEST(CrashReportTest, ReportTextIsRepairedToValidUtf8) {
  ReportSetup setup = test::minimalReport();
  setup.application.identifier = "app.\xFFWendrix";
  setup.images[0].name = "/usr/bin/caf\xC3\xA9";
  const auto report = decode(setup);
  ASSERT_TRUE(report.ok()) << report.error();
  EXPECT_EQ(report->applicationInfo().applicationIdentifier(), "app.\xEF\xBF\xBDWendrix");
  EXPECT_EQ(report->images()[0].imageName(), "/usr/bin/caf\xC3\xA9");
}

TEST(CrashReportTest, ImageForAddressFindsTheFirstImageHoldingTheAddress) {
  ReportSetup setup = test::minimalReport();
  setup.images = {
      {.base = 0x1000, .size = 0x1000, .name = "a"},
      {.base = 0x1800, .size = 0x1000, .name = "b"},  // overlaps a
      {.base = 0x4000, .size = 0, .name = "empty"},
      {.base = 0xFFFFFFFFFFFFF000, .size = 0x2000, .name = "top"},  // its end wraps around
  };
  const auto report = decode(setup);
  ASSERT_TRUE(report.ok()) << report.error();
  struct Case {
    std::uint64_t address;
    const char* image;
  };
  const Case cases[] = {
      {0xFFF, nullptr},
      {0x1000, "a"},
      {0x1FFF, "a"},
      {0x2000, "b"},
      {0x27FF, "b"},
      {0x2800, nullptr},
      {0x4000, nullptr},
      {0xFFFFFFFFFFFFEFFF, nullptr},
      {0xFFFFFFFFFFFFF000, "top"},
      {0xFFFFFFFFFFFFFFFF, "top"},
      {0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address);
    const auto* image = report->imageForAddress(c.address);
    if (c.image == nullptr) {
      EXPECT_EQ(image, nullptr);
    } else {
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->imageName(), c.image);
    }
  }
}

// Every way a file can be refused, each with its message.
TEST(CrashReportTest, RefusesDamagedFilesWithOneDescriptiveError) {
  const Bytes body = test::ReportMessage(test::minimalReport()).body();
  const auto change = [](std::function<void(ReportSetup&)> edit) {
    ReportSetup setup = test::minimalReport();
    edit(setup);
    return test::reportFile(setup);
  };
  struct Case {
    const char* name;
    Bytes file;
    std::string message;
  };
  const std::string truncated = "Could not decode truncated crash log";
  const std::string unknown = "An unknown error occured decoding the crash report";
  const std::string uuid = "Report UUID value is not a standard 16 bytes";
  const std::string architecture = "Crash report has an unknown architecture";
  const Case cases[] = {
      {"empty", {}, truncated},
      {"the header alone", withHeader(std::string("tlcrash\x01", 8), {}), truncated},
      {"a short header", withHeader("tlcra", {}), truncated},
      {"a wrong magic", withHeader(std::string("tlcrasH\x01", 8), body),
       "Could not decode invalid crash log header"},
      {"version 2", withHeader(std::string("tlcrash\x02", 8), body),
       "Could not decode unsupported crash report version: 2"},
      {"version 0", withHeader(std::string("tlcrash\x00", 8), body),
       "Could not decode unsupported crash report version: 0"},
      {"version 255", withHeader(std::string("tlcrash\xFF", 8), body),
       "Could not decode unsupported crash report version: 255"},
      {"an empty message", withHeader(std::string("tlcrash\x01", 8), {0x00}), unknown},
      {"a required field missing", withHeader(std::string("tlcrash\x01", 8), {0x0A, 0x00}),
       unknown},
      {"a cut message",
       withHeader(std::string("tlcrash\x01", 8), Bytes(body.begin(), body.end() - 1)), unknown},
      {"a 15-byte report uuid", change([](ReportSetup& s) {
         s.reportInfo = test::ReportInfoSetup{.uuid = test::countingBytes(15)};
       }),
       uuid},
      {"a 17-byte report uuid", change([](ReportSetup& s) {
         s.reportInfo = test::ReportInfoSetup{.uuid = test::countingBytes(17)};
       }),
       uuid},
      {"an empty report uuid",
       change([](ReportSetup& s) { s.reportInfo = test::ReportInfoSetup{.uuid = Bytes{}}; }), uuid},
      {"the unknown architecture", change([](ReportSetup& s) {
         s.system.architecture = TLCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
       }),
       architecture},
      {"an architecture outside the enumeration",
       change([](ReportSetup& s) { s.system.architecture = 42; }), architecture},
      {"a negative architecture", change([](ReportSetup& s) { s.system.architecture = -1; }),
       architecture},
      {"256 Mach exception codes", change([](ReportSetup& s) {
         s.signal.machException =
             test::MachExceptionSetup{.type = 1, .codes = std::vector<std::uint64_t>(256, 7)};
       }),
       "Crash report includes too many Mach Exception codes"},
      {"no thread", change([](ReportSetup& s) { s.threads.clear(); }),
       "Crash report is missing thread state information"},
      {"no image", change([](ReportSetup& s) { s.images.clear(); }),
       "Crash report is missing binary image information"},
      {"two faults: the first in building order decides", change([](ReportSetup& s) {
         s.images.clear();
         s.reportInfo = test::ReportInfoSetup{.uuid = test::countingBytes(3)};
       }),
       uuid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto report = decode(c.file);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error(), base::Error("TLCrashReporterErrorDomain", 2, c.message));
  }

  // The limits themselves are accepted.
  const auto at255 = decode(change([](ReportSetup& s) {
    s.signal.machException =
        test::MachExceptionSetup{.type = 1, .codes = std::vector<std::uint64_t>(255, 7)};
  }));
  ASSERT_TRUE(at255.ok()) << at255.error();
  EXPECT_EQ(at255->machExceptionInfo()->codes().size(), 255u);
  EXPECT_TRUE(decode(change([](ReportSetup& s) {
                s.reportInfo = test::ReportInfoSetup{.uuid = test::countingBytes(16)};
              })).ok());
}

// What no packed file can hold (protobuf-c refuses a message whose required
// fields are missing) still ends the model with its own message.
TEST(CrashReportTest, RefusesMessagesMissingARequiredPart) {
  using Message = Tlcrash__CrashReport;
  ReportSetup withException = test::minimalReport();
  withException.exception = test::ExceptionSetup{.name = "E", .reason = "R", .frames = {{.pc = 1}}};
  withException.threads[0].registers = {{"rip", 1}};
  withException.threads[0].frames[0].symbol = test::SymbolSetup{.name = "f", .start = 0x401000};
  struct Case {
    std::string message;
    std::function<void(Message&)> edit;
  };
  const Case cases[] = {
      {"Crash report is missing System Information section",
       [](Message& m) { m.system_info = nullptr; }},
      {"Crash report is missing System Information OS version field",
       [](Message& m) { m.system_info->os_version = nullptr; }},
      {"Crash report is missing Application Information section",
       [](Message& m) { m.application_info = nullptr; }},
      {"Crash report is missing Application Information app identifier field",
       [](Message& m) { m.application_info->identifier = nullptr; }},
      {"Crash report is missing Application Information app version field",
       [](Message& m) { m.application_info->version = nullptr; }},
      {"Crash report is missing Signal Information section",
       [](Message& m) { m.signal = nullptr; }},
      {"Crash report is missing signal name field", [](Message& m) { m.signal->name = nullptr; }},
      {"Crash report is missing signal code field", [](Message& m) { m.signal->code = nullptr; }},
      {"Crash report is missing stack frame information",
       [](Message& m) { m.threads[0]->frames[0] = nullptr; }},
      {"Crash report is missing symbol information",
       [](Message& m) { m.threads[0]->frames[0]->symbol->name = nullptr; }},
      {"Missing register name in register value",
       [](Message& m) { m.threads[0]->registers[0]->name = nullptr; }},
      {"Crash report is missing thread state information",
       [](Message& m) { m.threads[0] = nullptr; }},
      {"Missing image name in image record",
       [](Message& m) { m.binary_images[0]->name = nullptr; }},
      {"Crash report is missing exception name field",
       [](Message& m) { m.exception->name = nullptr; }},
      {"Crash report is missing exception reason field",
       [](Message& m) { m.exception->reason = nullptr; }},
      {"Crash report is missing stack frame information",
       [](Message& m) { m.exception->frames[0] = nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    test::ReportMessage message(withException);
    ASSERT_TRUE(buildCrashReport(message.message()).ok());
    c.edit(message.message());
    const auto report = buildCrashReport(message.message());
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error(), base::Error("TLCrashReporterErrorDomain", 2, c.message));
  }

  // A machine record without its processor falls back to the architecture.
  ReportSetup setup = test::minimalReport();
  setup.machine = test::MachineSetup{};
  test::ReportMessage message(setup);
  message.message().machine_info->processor = nullptr;
  const auto report = buildCrashReport(message.message());
  ASSERT_TRUE(report.ok()) << report.error();
  EXPECT_FALSE(report->machineInfo()->processorInfo());
  EXPECT_EQ(report->systemInfo().processorInfo()->type(), 0x1000007u);
}

}  // namespace
}  // namespace tlcrash
