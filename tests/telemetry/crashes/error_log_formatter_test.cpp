#include "telemetry/crashes/error_log_formatter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/uuid.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "support/telemetry_devices.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using namespace tlcrash;
using ::testing::ElementsAre;
using testing::LogCapture;

using Formatter = TLMErrorLogFormatter;

constexpr std::uint64_t kX86_64 = 0x1000007;
constexpr std::uint64_t kArm64 = 0x100000c;
constexpr std::uint64_t kX86 = 7;
constexpr std::uint64_t kArm = 12;
constexpr std::uint64_t kMain = 0x555555554000;
constexpr std::uint64_t kLibc = 0x7ffff7c00000;
constexpr auto kMach = TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_MACH;

TLCrashReportProcessorInfo mach(std::uint64_t type, std::uint64_t subtype = 0) {
  return TLCrashReportProcessorInfo(kMach, type, subtype);
}

TLCrashReportStackFrameInfo at(std::uint64_t pc) {
  return TLCrashReportStackFrameInfo(pc, std::nullopt);
}

TLCrashReportStackFrameInfo symbolAt(std::uint64_t pc, std::string name, std::uint64_t start) {
  return TLCrashReportStackFrameInfo(pc, TLCrashReportSymbolInfo(std::move(name), start, 0));
}

TLCrashReportBinaryImageInfo image(std::uint64_t base, std::uint64_t size, std::string path,
                                   std::optional<TLCrashReportProcessorInfo> codeType = {},
                                   std::optional<std::vector<std::uint8_t>> uuid = {}) {
  return TLCrashReportBinaryImageInfo(codeType, base, size, std::move(path), uuid);
}

TLCrashReportProcessInfo process(std::optional<std::string> path) {
  return TLCrashReportProcessInfo("wendrix", 4242, std::move(path), TLCrashReportDate(1699999990s),
                                  "bash", 0, true);
}

// A Linux x86-64 crash with nothing else: no process record, no thread, no
// image. Tests add what they look at.
TLCrashReportSections bareReport(
    TLCrashReportOperatingSystem os = TLCrashReportOperatingSystem::LINUX) {
  return TLCrashReportSections{
      .systemInfo = TLCrashReportSystemInfo(os, "6.1.0", TLCrashReportArchitecture::X86_64,
                                            TLCrashReportDate(1700000000s)),
      .applicationInfo = TLCrashReportApplicationInfo("app.Wendrix", "1", std::nullopt),
      .signalInfo = TLCrashReportSignalInfo("SIGSEGV", "SEGV_MAPERR", 0x10),
      .machineInfo = TLCrashReportMachineInfo(std::nullopt, mach(kX86_64, 3), 4, 8),
  };
}

// Sources that record what the formatter asks for.
struct RecordingSources {
  std::vector<std::optional<Date>> deviceTimes;
  std::vector<std::string> wrapperLookups;
  std::shared_ptr<TLMWrapperException> storedWrapper;
  std::optional<std::string> installId = "00000000-1111-4222-8333-444444444444";

  TLMErrorLogSources sources() {
    TLMErrorLogSources s;
    s.deviceForTimestamp = [this](std::optional<Date> time) {
      deviceTimes.push_back(time);
      return testing::linuxDevice();
    };
    s.wrapperException = [this](const std::string& uuid) {
      wrapperLookups.push_back(uuid);
      return storedWrapper;
    };
    s.installId = [this] { return installId; };
    return s;
  }
};

std::shared_ptr<TLMAppleErrorLog> format(TLCrashReportSections sections) {
  RecordingSources recording;
  return Formatter::errorLogFromCrashReport(TLCrashReport(std::move(sections)),
                                            recording.sources());
}

std::vector<std::string> codesOf(const TLMThread& thread) {
  std::vector<std::string> codes;
  for (const auto& frame : *thread.frames)
    codes.push_back(frame->code.value_or("(none)"));
  return codes;
}

std::vector<std::string> namesOf(const std::vector<std::shared_ptr<TLMBinary>>& binaries) {
  std::vector<std::string> names;
  for (const auto& binary : binaries)
    names.push_back(*binary->name);
  return names;
}

TEST(ErrorLogFormatterTest, AddressTextsArePaddedByTheCrashedCodesType) {
  using Code = std::optional<TLCrashReportProcessorInfo>;
  struct Case {
    const char* what;
    Code machine;
    std::vector<Code> imageCodes;
    std::uint64_t type;
    bool padded16;
  };
  const TLCrashReportProcessorInfo unknownEncoding(
      TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_UNKNOWN, kX86_64, 3);
  const Case cases[] = {
      {"x86-64 machine", mach(kX86_64, 3), {}, kX86_64, true},
      {"arm64 machine", mach(kArm64), {}, kArm64, true},
      {"x86 machine", mach(kX86, 3), {}, kX86, false},
      {"arm machine", mach(kArm, 9), {}, kArm, false},
      {"PowerPC machine", mach(18), {}, 18, false},
      {"no machine processor", std::nullopt, {}, 0, false},
      {"an image's Mach code type wins", mach(kX86_64, 3), {mach(kX86, 3)}, kX86, false},
      {"the first image with a Mach code type wins",
       mach(kX86, 3),
       {std::nullopt, unknownEncoding, mach(kArm64), mach(kX86, 3)},
       kArm64,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TLCrashReportSections sections = bareReport();
    sections.machineInfo = TLCrashReportMachineInfo(std::nullopt, c.machine, 1, 1);
    sections.threads.emplace_back(0, std::vector{at(0x401000)}, true,
                                  std::vector{TLCrashReportRegisterInfo("rip", 0x401000)});
    sections.images.push_back(image(0x400000, 0x2000, "/usr/bin/app", std::nullopt));
    std::uint64_t base = 0x800000;
    for (const Code& code : c.imageCodes)
      sections.images.push_back(image(base += 0x1000, 0x1000, "/usr/lib/libx.so", code));
    const auto log = format(std::move(sections));
    EXPECT_EQ(log->primaryArchitectureId, c.type);
    const std::string address = c.padded16 ? "0x0000000000401000" : "0x00401000";
    EXPECT_EQ((*log->threads)[0]->frames->at(0)->address, address);
    EXPECT_EQ((*log->registers)["rip"], address);
    ASSERT_EQ(log->binaries->size(), 1u);
    EXPECT_EQ((*log->binaries)[0]->startAddress, c.padded16 ? "0x0000000000400000" : "0x00400000");
    EXPECT_EQ((*log->binaries)[0]->endAddress, c.padded16 ? "0x0000000000401fff" : "0x00401fff");
  }
  EXPECT_EQ(Formatter::formatAddress(0xffffffffffffffff, true), "0xffffffffffffffff");
  // Padding is a minimum: a 64-bit value in a 32-bit report is not cut.
  EXPECT_EQ(Formatter::formatAddress(0x7ffff7c00000, false), "0x7ffff7c00000");
  EXPECT_EQ(Formatter::formatAddress(0, false), "0x00000000");
}

TEST(ErrorLogFormatterTest, FrameCodeNamesSystemSymbolsAndApplicationImageOffsets) {
  constexpr std::uint64_t kApp = 0x100000000;
  constexpr std::uint64_t kPlugin = 0x100800000;
  constexpr std::uint64_t kSwift = 0x101000000;
  constexpr std::uint64_t kSystem = 0x7ff800000000;
  const std::string appPath = "/Applications/Wendrix.app/Contents/MacOS/Wendrix";
  struct Case {
    const char* what;
    TLCrashReportOperatingSystem os;
    TLCrashReportStackFrameInfo frame;
    const char* code;
    std::vector<std::string> warnings;
  };
  using OS = TLCrashReportOperatingSystem;
  const Case cases[] = {
      {"macOS system symbol drops its _",
       OS::MAC_OS_X,
       symbolAt(kSystem + 0x20, "_objc_msgSend", kSystem + 0x10),
       "objc_msgSend + 16",
       {}},
      {"iOS", OS::IPHONE_OS, symbolAt(kSystem + 1, "_f", kSystem), "f + 1", {}},
      {"simulator", OS::IPHONE_SIMULATOR, symbolAt(kSystem + 1, "_f", kSystem), "f + 1", {}},
      {"tvOS", OS::APPLE_TVOS, symbolAt(kSystem + 1, "_f", kSystem), "f + 1", {}},
      {"a lone _ stays", OS::MAC_OS_X, symbolAt(kSystem + 2, "_", kSystem), "_ + 2", {}},
      {"Linux keeps C++ names whole",
       OS::LINUX,
       symbolAt(kSystem + 0x2a, "_ZN7wendrix6Engine7restoreEv", kSystem),
       "_ZN7wendrix6Engine7restoreEv + 42",
       {}},
      {"unknown system keeps the _ and warns",
       OS::OS_UNKNOWN,
       symbolAt(kSystem + 8, "_start", kSystem),
       "_start + 8",
       {"Symbol \"_start\" prefix rules are unknown for this OS!"}},
      {"instruction before the symbol start",
       OS::LINUX,
       symbolAt(kSystem + 0x10, "f", kSystem + 0x18),
       "f + -8",
       {}},
      {"system frame without a symbol",
       OS::MAC_OS_X,
       at(kSystem + 0x100),
       "0x7ff800000000 + 256",
       {}},
      {"executable frame is never symbolicated",
       OS::MAC_OS_X,
       symbolAt(kApp + 0x3f00, "_main", kApp + 0x3e00),
       "0x100000000 + 16128",
       {}},
      {"bundle frame is never symbolicated",
       OS::MAC_OS_X,
       symbolAt(kPlugin + 0x10, "_plugin", kPlugin),
       "0x100800000 + 16",
       {}},
      {"bundle Swift runtime counts as system",
       OS::MAC_OS_X,
       symbolAt(kSwift + 0x10, "_swift_retain", kSwift),
       "swift_retain + 16",
       {}},
      {"outside every image",
       OS::MAC_OS_X,
       at(0xdeadbeef),
       "0x0 + 0",
       {"Cannot find image for 0xdeadbeef"}},
      {"outside every image with a symbol",
       OS::MAC_OS_X,
       symbolAt(0xdeadbeef, "_lost", 0xdeadbe00),
       "lost + 239",
       {"Cannot find image for 0xdeadbeef"}},
      {"address 0 warns nothing", OS::MAC_OS_X, at(0), "0x0 + 0", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TLCrashReportSections sections = bareReport(c.os);
    sections.processInfo = process(appPath);
    sections.images = {
        image(kApp, 0x8000, appPath),
        image(kPlugin, 0x1000, "/Applications/Wendrix.app/Contents/PlugIns/Plugin.bundle/Plugin"),
        image(kSwift, 0x1000, "/Applications/Wendrix.app/Contents/Frameworks/libswiftCore.dylib"),
        image(kSystem, 0x1000, "/usr/lib/libobjc.A.dylib"),
    };
    const TLCrashReport report(std::move(sections));
    LogCapture logs;
    EXPECT_EQ(Formatter::formatStackFrame(c.frame, report), c.code);
    EXPECT_EQ(logs.at(TLMLogLevel::Warning), c.warnings);
    if (!c.warnings.empty()) {
      EXPECT_TRUE(logs.has(TLMLogLevel::Warning, "", "DarAvevedCrashes"));
    }
  }
}

TEST(ErrorLogFormatterTest, LinuxExecutableIsTheApplicationThoughItHasNoBundle) {
  TLCrashReportSections sections = bareReport();
  sections.processInfo = process("/usr/bin/wendrix");
  sections.images = {image(kMain, 0x4000, "/usr/bin/wendrix"),
                     image(0x7f0000000000, 0x1000, "/usr/lib/libc.so.6")};
  const TLCrashReport report(std::move(sections));
  // Application frames by offset into the image, system frames by symbol.
  EXPECT_EQ(Formatter::formatStackFrame(symbolAt(kMain + 0x20, "main", kMain + 0x10), report),
            "0x555555554000 + 32");
  EXPECT_EQ(Formatter::formatStackFrame(symbolAt(0x7f0000000020, "abort", 0x7f0000000010), report),
            "abort + 16");
}

TEST(ErrorLogFormatterTest, ZeroAndOneByteImagesEndAtTheirBaseAndAreListedOnlyWhenHit) {
  struct Case {
    const char* what;
    std::uint64_t size;
    std::uint64_t address;
    bool listed;
  };
  const Case cases[] = {
      {"size 0, address at base", 0, 0x7000, true}, {"size 0, address one past", 0, 0x7001, false},
      {"size 1, address at base", 1, 0x7000, true}, {"size 1, address one past", 1, 0x7001, false},
      {"size 2, last byte", 2, 0x7001, true},       {"size 0, address below", 0, 0x6fff, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TLCrashReportSections sections = bareReport();
    // The address only as a register value, as a vDSO address often is.
    sections.threads.emplace_back(0, std::vector<TLCrashReportStackFrameInfo>{}, true,
                                  std::vector{TLCrashReportRegisterInfo("rdi", c.address)});
    sections.images = {image(0x7000, c.size, "linux-vdso.so.1")};
    const auto binaries = *format(std::move(sections))->binaries;
    ASSERT_EQ(binaries.size(), c.listed ? 1u : 0u);
    if (!c.listed) continue;
    EXPECT_EQ(binaries[0]->startAddress, "0x0000000000007000");
    EXPECT_EQ(binaries[0]->endAddress, c.size == 2 ? "0x0000000000007001" : "0x0000000000007000");
    EXPECT_EQ(binaries[0]->name, "linux-vdso.so.1");
    EXPECT_EQ(binaries[0]->path, "linux-vdso.so.1");
  }
}

TEST(ErrorLogFormatterTest, ImagesAreSortedByBaseAndUnusedSystemImagesLeftOut) {
  const std::string appPath = "/Applications/Wendrix.app/Contents/MacOS/Wendrix";
  TLCrashReportSections sections = bareReport();
  sections.processInfo = process(appPath);
  sections.exceptionInfo = TLCrashReportExceptionInfo("E", "R", std::vector{at(0x9000)});
  sections.threads.emplace_back(0, std::vector{at(0x5010)}, true,
                                std::vector{TLCrashReportRegisterInfo("rsi", 0x3008)});
  sections.images = {
      image(0x9000, 0x1000, "/usr/lib/libexception.so", mach(kArm64)),
      image(0x5000, 0x1000, "/usr/lib/libframe.so"),
      image(0x1000, 0x1000, "/usr/lib/libunused.so"),
      image(0x3000, 0x1000, "/usr/lib/libregister.so"),
      image(0x8000, 0x1000, appPath),  // never referenced, but the application's
      image(0xa000, 0x1000, "/Applications/Wendrix.app/Contents/Frameworks/Kit.framework/Kit"),
  };
  const auto log = format(std::move(sections));
  EXPECT_THAT(namesOf(*log->binaries),
              ElementsAre("libregister.so", "libframe.so", "Wendrix", "libexception.so", "Kit"));
  const TLMBinary& exceptionImage = *(*log->binaries)[3];
  EXPECT_EQ(exceptionImage.binaryId, "???");
  EXPECT_EQ(exceptionImage.primaryArchitectureId, kArm64);
  EXPECT_EQ(exceptionImage.architectureVariantId, 0u);
  EXPECT_EQ((*log->binaries)[0]->primaryArchitectureId, 0u);  // no code type
  // The first image with a Mach code type decides the architecture.
  EXPECT_EQ(log->primaryArchitectureId, kArm64);
}

TEST(ErrorLogFormatterTest, ImageIdAndPathComeFromTheReportWithTheUserRemoved) {
  TLCrashReportSections sections = bareReport();
  std::vector<std::uint8_t> buildId = {0x1f, 0x2e, 0x3d, 0x4c, 0x5b, 0x6a, 0x79, 0x88, 0x97, 0xa6,
                                       0xb5, 0xc4, 0xd3, 0xe2, 0xf1, 0x00, 0x12, 0x34, 0x56, 0x78};
  sections.threads.emplace_back(0, std::vector{at(kMain + 1), at(kLibc + 1)}, true,
                                std::vector<TLCrashReportRegisterInfo>{});
  sections.images = {
      image(kMain, 0x4000, "/home/alice/.local/bin/wendrix", mach(kX86_64, 3), buildId),
      image(kLibc, 0x1000, "")};
  const auto binaries = *format(std::move(sections))->binaries;
  ASSERT_EQ(binaries.size(), 2u);
  EXPECT_EQ(binaries[0]->binaryId, "1f2e3d4c5b6a798897a6b5c4d3e2f10012345678");
  EXPECT_EQ(binaries[0]->path, "/home/USER/.local/bin/wendrix");
  EXPECT_EQ(binaries[0]->name, "wendrix");
  EXPECT_EQ(binaries[0]->endAddress, "0x0000555555557fff");
  EXPECT_EQ(binaries[1]->path, "");
  EXPECT_EQ(binaries[1]->name, "???");
}

TEST(ErrorLogFormatterTest, ProcessFieldsWithAndWithoutAProcessRecord) {
  const auto without = format(bareReport());
  EXPECT_EQ(without->processId, 0);
  EXPECT_EQ(without->processName, "???");
  EXPECT_EQ(without->parentProcessName, "???");
  EXPECT_EQ(without->applicationPath, "???");
  EXPECT_FALSE(without->parentProcessId);
  EXPECT_FALSE(without->serializeToDictionary().contains("parentProcessId"));
  // Without a process record the launch time is the report time.
  EXPECT_EQ(without->appLaunchTimestamp, Date(1700000000s));

  TLCrashReportSections sections = bareReport();
  sections.processInfo =
      TLCrashReportProcessInfo("wendrix", 4242, "/home/alice/bin/wendrix",
                               TLCrashReportDate(1699999990s), std::nullopt, 0, true);
  const auto with = format(std::move(sections));
  EXPECT_EQ(with->processId, 4242);
  EXPECT_EQ(with->processName, "wendrix");
  EXPECT_EQ(with->applicationPath, "/home/USER/bin/wendrix");
  EXPECT_EQ(with->parentProcessName, "???");
  EXPECT_EQ(with->parentProcessId, 0);  // written even when 0
  EXPECT_EQ(with->appLaunchTimestamp, Date(1699999990s));

  TLCrashReportSections unnamed = bareReport();
  unnamed.processInfo =
      TLCrashReportProcessInfo(std::nullopt, 7, std::nullopt, std::nullopt, "init", 1, true);
  const auto partial = format(std::move(unnamed));
  EXPECT_EQ(partial->processName, "???");
  EXPECT_EQ(partial->applicationPath, "???");
  EXPECT_EQ(partial->parentProcessName, "init");
  EXPECT_FALSE(partial->appLaunchTimestamp);  // a process record without a start time
}

TEST(ErrorLogFormatterTest, WithoutACrashedThreadNothingIsAttachedOrRead) {
  TLCrashReportSections sections = bareReport();
  sections.exceptionInfo = TLCrashReportExceptionInfo("E", "R", std::vector{at(kLibc)});
  sections.threads.emplace_back(3, std::vector{at(kMain + 1)}, false,
                                std::vector{TLCrashReportRegisterInfo("rsi", kMain + 1)});
  sections.images = {image(kMain, 0x1000, "/usr/bin/wendrix"), image(kLibc, 0x1000, "/libc")};
  const auto log = format(std::move(sections));
  EXPECT_EQ(log->errorThreadId, 0);
  EXPECT_TRUE(log->registers->empty());
  EXPECT_EQ(log->serializeToDictionary()["registers"], nlohmann::ordered_json::object());
  EXPECT_FALSE(log->selectorRegisterValue);
  ASSERT_EQ(log->threads->size(), 1u);
  EXPECT_FALSE((*log->threads)[0]->exception);
  EXPECT_EQ(log->exceptionType, "E");  // the report's exception fields stay
  EXPECT_EQ(log->exceptionReason, "R");
}

TEST(ErrorLogFormatterTest, CrashedThreadCarriesTheExceptionAndItsRegisters) {
  TLCrashReportSections sections = bareReport();
  sections.exceptionInfo =
      TLCrashReportExceptionInfo("", "boom", std::vector{at(kLibc + 0x10), at(kMain + 0x20)});
  sections.threads.emplace_back(0, std::vector{at(kLibc + 1)}, false,
                                std::vector{TLCrashReportRegisterInfo("rip", 1)});
  sections.threads.emplace_back(
      5, std::vector{symbolAt(kLibc + 0x30, "abort", kLibc), at(kMain + 0x20)}, true,
      std::vector{TLCrashReportRegisterInfo("rip", kLibc + 0x30),
                  TLCrashReportRegisterInfo("rsi", kMain), TLCrashReportRegisterInfo("rip", 2)});
  sections.threads.emplace_back(5, std::vector{at(kMain)}, false,
                                std::vector<TLCrashReportRegisterInfo>{});
  sections.images = {image(kMain, 0x1000, "/usr/bin/wendrix"),
                     image(kLibc, 0x1000, "/usr/lib/libc.so.6")};
  const auto log = format(std::move(sections));

  EXPECT_EQ(log->errorThreadId, 5);
  EXPECT_TRUE(log->fatal);
  // A later register of the same name replaces an earlier one.
  EXPECT_EQ(*log->registers, (std::map<std::string, std::string>{{"rip", "0x0000000000000002"},
                                                                 {"rsi", "0x0000555555554000"}}));
  EXPECT_FALSE(log->selectorRegisterValue);  // no method-name section on Linux
  const auto& threads = *log->threads;
  ASSERT_EQ(threads.size(), 3u);
  EXPECT_FALSE(threads[0]->exception);
  EXPECT_THAT(codesOf(*threads[1]), ElementsAre("abort + 48", "0x555555554000 + 32"));
  ASSERT_TRUE(threads[1]->exception);
  // Every thread with the crashed thread's number gets it.
  EXPECT_TRUE(threads[2]->exception);
  const TLMException& exception = *threads[1]->exception;
  EXPECT_EQ(exception.type, "SIGSEGV");  // no name: the signal's
  EXPECT_EQ(exception.message, "boom");
  ASSERT_EQ(exception.frames->size(), 2u);
  EXPECT_EQ(exception.frames->at(0)->address, "0x00007ffff7c00010");
  EXPECT_FALSE(exception.frames->at(0)->code);
  EXPECT_EQ(log->exceptionType, "");
  EXPECT_FALSE(log->threads->at(1)->name);
}

TEST(ErrorLogFormatterTest, ExceptionWithoutFramesMakesNoExceptionObject) {
  TLCrashReportSections sections = bareReport();
  sections.exceptionInfo = TLCrashReportExceptionInfo("std::runtime_error", "boom");
  sections.threads.emplace_back(0, std::vector{at(kMain)}, true,
                                std::vector<TLCrashReportRegisterInfo>{});
  sections.images = {image(kMain, 0x1000, "/usr/bin/wendrix")};
  const auto log = format(std::move(sections));
  EXPECT_FALSE((*log->threads)[0]->exception);
  EXPECT_EQ(log->exceptionType, "std::runtime_error");
  EXPECT_EQ(log->exceptionReason, "boom");
}

TEST(ErrorLogFormatterTest, ReportWithoutThreadsOrImagesStillWritesTheCollections) {
  const auto log = format(bareReport());
  const auto json = log->serializeToDictionary();
  EXPECT_EQ(json["threads"], nlohmann::ordered_json::array());
  EXPECT_EQ(json["binaries"], nlohmann::ordered_json::array());
  EXPECT_EQ(json["registers"], nlohmann::ordered_json::object());
  EXPECT_EQ(json["osExceptionType"], "SIGSEGV");
  EXPECT_EQ(json["osExceptionCode"], "SEGV_MAPERR");
  EXPECT_EQ(json["osExceptionAddress"], "0x10");
  EXPECT_FALSE(json.contains("exceptionType"));
  EXPECT_FALSE(json.contains("exceptionReason"));
  EXPECT_FALSE(json.contains("errorThreadName"));
  EXPECT_FALSE(json.contains("architecture"));
  EXPECT_FALSE(json.contains("exception"));
}

TEST(ErrorLogFormatterTest, WholeSecondReportTimeEndsInNineHundredNinetyNineMilliseconds) {
  const auto log = format(bareReport());
  EXPECT_EQ(log->timestamp, Date(1700000000s + 999ms));
  EXPECT_EQ(log->serializeToDictionary()["timestamp"], "2023-11-14T22:13:20.999Z");

  // A report without a time gives none (the channel stamps the log), and a
  // time no date can hold is treated the same.
  for (const std::optional<TLCrashReportDate> time :
       {std::optional<TLCrashReportDate>(), std::optional(TLCrashReportDate::max())}) {
    TLCrashReportSections sections = bareReport();
    sections.systemInfo = TLCrashReportSystemInfo(TLCrashReportOperatingSystem::LINUX, "6.1.0",
                                                  TLCrashReportArchitecture::X86_64, time);
    const auto timeless = format(std::move(sections));
    EXPECT_FALSE(timeless->timestamp);
    EXPECT_FALSE(timeless->appLaunchTimestamp);
  }
}

TEST(ErrorLogFormatterTest, ErrorIdIsTheReportUuidOrAFreshOne) {
  TLCrashReportSections sections = bareReport();
  sections.uuidRef = std::array<std::uint8_t, 16>{0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                                                  0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
  EXPECT_EQ(format(std::move(sections))->errorId, "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");

  const auto first = format(bareReport())->errorId;
  const auto second = format(bareReport())->errorId;
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(base::isUuidString(*first));
  EXPECT_NE(first, second);
  EXPECT_FALSE(Formatter::uuidRefToString(std::nullopt));
}

TEST(ErrorLogFormatterTest, DeviceAndWrapperExceptionComeFromTheSources) {
  RecordingSources recording;
  recording.storedWrapper = std::make_shared<TLMWrapperException>();
  recording.storedWrapper->modelException = std::make_shared<TLMException>();
  recording.storedWrapper->modelException->type = "System.NullReferenceException";

  TLCrashReportSections sections = bareReport();
  sections.uuidRef =
      std::array<std::uint8_t, 16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const TLCrashReport report(std::move(sections));
  const auto log = Formatter::errorLogFromCrashReport(report, recording.sources());
  EXPECT_THAT(recording.deviceTimes, ElementsAre(Date(1700000000s + 999ms)));
  EXPECT_THAT(recording.wrapperLookups, ElementsAre("01020304-0506-0708-090A-0B0C0D0E0F00"));
  ASSERT_TRUE(log->exception);
  EXPECT_EQ(log->exception->type, "System.NullReferenceException");
  // A valid log: what the crash service sends.
  LogCapture logs;
  EXPECT_TRUE(log->isValid()) << ::testing::PrintToString(logs.messages());

  // Without a UUID nothing is looked up; without sources nothing is filled.
  recording.wrapperLookups.clear();
  Formatter::errorLogFromCrashReport(TLCrashReport(bareReport()), recording.sources());
  EXPECT_TRUE(recording.wrapperLookups.empty());
  const auto bare = Formatter::errorLogFromCrashReport(TLCrashReport(bareReport()), {});
  EXPECT_FALSE(bare->device);
  EXPECT_FALSE(bare->exception);
}

TEST(ErrorLogFormatterTest, ErrorReportSummarisesTheLog) {
  RecordingSources recording;
  TLCrashReportSections sections = bareReport();
  sections.processInfo = process("/usr/bin/wendrix");
  sections.exceptionInfo = TLCrashReportExceptionInfo("std::logic_error", "bad");
  const TLCrashReport crash(std::move(sections));
  const auto log = Formatter::errorLogFromCrashReport(crash, recording.sources());
  log->device.reset();
  recording.deviceTimes.clear();

  const auto report = Formatter::errorReportFromLog(*log, recording.sources());
  EXPECT_EQ(report->incidentIdentifier(), log->errorId);
  EXPECT_EQ(report->reporterKey(), "00000000-1111-4222-8333-444444444444");
  EXPECT_EQ(report->signal(), "SIGSEGV");
  EXPECT_EQ(report->exceptionName(), "std::logic_error");
  EXPECT_EQ(report->exceptionReason(), "bad");
  EXPECT_EQ(report->appStartTime(), Date(1699999990s));
  EXPECT_EQ(report->appErrorTime(), Date(1700000000s + 999ms));
  EXPECT_EQ(report->appProcessIdentifier(), 4242u);
  EXPECT_FALSE(report->isAppKill());
  // The device is looked up again for the log's time.
  ASSERT_TRUE(report->device());
  EXPECT_THAT(recording.deviceTimes, ElementsAre(Date(1700000000s + 999ms)));

  recording.installId.reset();
  EXPECT_EQ(Formatter::errorReportFromCrashReport(crash, recording.sources())->reporterKey(), "");
}

TEST(ErrorLogFormatterTest, AnonymisedPaths) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {"/Users/u1/Library/X", "/Users/USER/Library/X"},
      {"/Users/u1/Users/u2/X", "/Users/USER/Users/u2/X"},  // matches do not overlap
      {"/Users/u1/a/Users/u2/X", "/Users/USER/a/Users/USER/X"},
      {"/Users/u1", "/Users/u1"},  // no folder below the user's: no match
      {"/Volumes/Users/x", ""},
      {"/opt/UsersGuide/lib.so", ""},
      {"/Applications/X.app/Contents/MacOS/X", "/Applications/X.app/Contents/MacOS/X"},
      {"/home/alice/.local/bin/wendrix", "/home/USER/.local/bin/wendrix"},
      {"/home/al ice/lib/x.so", "/home/USER/lib/x.so"},
      {"/home/alice/mnt/home/bob/x.so", "/home/USER/mnt/home/USER/x.so"},
      {"/home/alice/UsersGuide/x.so", "/home/USER/UsersGuide/x.so"},
      {"/home//x.so", "/home//x.so"},
      {"/var/home/alice/bin/app", ""},
      {"/usr/lib/x86_64-linux-gnu/libc.so.6", "/usr/lib/x86_64-linux-gnu/libc.so.6"},
      {"/usr/share/homebank/libx.so", "/usr/share/homebank/libx.so"},
      {"linux-vdso.so.1", "linux-vdso.so.1"},
      {"", ""},
      {std::nullopt, ""},
  };
  for (const auto& [path, expected] : cases)
    EXPECT_EQ(Formatter::anonymizedPathFromPath(path), expected) << path.value_or("(none)");
}

TEST(ErrorLogFormatterTest, ImageTypes) {
  const std::string app = "/Applications/Wendrix.app/Contents/MacOS/Wendrix";
  const std::string linuxApp = "/usr/bin/wendrix";
  struct Case {
    std::optional<std::string> image;
    std::optional<std::string> processPath;
    TLMImageType type;
  };
  const Case cases[] = {
      {app, app, TLMImageType::executable},
      {"/APPLICATIONS/Wendrix.app/Contents/MacOS/Wendrix", app, TLMImageType::executable},
      {"/Applications/Wendrix.app/Contents/MacOS/../MacOS/./Wendrix", app,
       TLMImageType::executable},
      {"/Applications/Wendrix.app/Contents/Frameworks/Kit.framework/Kit", app,
       TLMImageType::inBundle},
      {"/Applications/Wendrix.app/Contents/Frameworks/libswiftCore.dylib", app,
       TLMImageType::other},
      {"/Applications/Wendrix.app/Contents/Frameworks/libswiftCore.so", app,
       TLMImageType::inBundle},
      {"/usr/lib/libobjc.A.dylib", app, TLMImageType::other},
      {linuxApp, linuxApp, TLMImageType::executable},
      {"/usr/bin/../bin/wendrix", linuxApp, TLMImageType::executable},
      {"/usr/bin/wendrix-helper", linuxApp, TLMImageType::other},
      {"/usr/lib/libc.so.6", linuxApp, TLMImageType::other},
      {std::nullopt, app, TLMImageType::other},
      {app, std::nullopt, TLMImageType::other},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Formatter::imageTypeForImagePath(c.image, c.processPath), c.type)
        << c.image.value_or("(none)");
  }
}

}  // namespace
}  // namespace tlm
