// A report file packed as the crash writer packs it, decoded and formatted
// into the log the crash service sends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report_builder.h"
#include "support/telemetry_devices.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/core/archive.h"
#include "telemetry/crashes/error_log_formatter.h"

namespace tlm {
namespace {

using ::testing::ElementsAre;

TEST(PackedReportTest, FullLinuxReportBecomesAValidCrashLog) {
  const auto decoded =
      tlcrash::TLCrashReport::makeWithData(tlcrash::test::reportFile(tlcrash::test::fullReport()));
  ASSERT_TRUE(decoded.ok()) << decoded.error();

  TLMErrorLogSources sources;
  sources.deviceForTimestamp = [](std::optional<Date>) { return testing::linuxDevice(); };
  testing::LogCapture logs;
  const auto log = TLMErrorLogFormatter::errorLogFromCrashReport(*decoded, sources);
  EXPECT_TRUE(log->isValid()) << ::testing::PrintToString(logs.messages());
  // The frame at 0xdeadbeef lies in no image.
  EXPECT_THAT(logs.at(TLMLogLevel::Warning), ElementsAre("Cannot find image for 0xdeadbeef"));

  const auto json = log->serializeToDictionary();
  EXPECT_EQ(json["type"], "appleError");
  EXPECT_EQ(json["id"], "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
  EXPECT_EQ(json["timestamp"], "2023-11-14T22:13:20.999Z");
  EXPECT_EQ(json["appLaunchTimestamp"], "2023-11-14T22:13:10.000Z");
  EXPECT_EQ(json["processId"], 4242);
  EXPECT_EQ(json["processName"], "wendrix");
  EXPECT_EQ(json["parentProcessId"], 4000);
  EXPECT_EQ(json["parentProcessName"], "bash");
  EXPECT_EQ(json["applicationPath"], "/home/USER/.local/bin/wendrix");
  EXPECT_EQ(json["errorThreadId"], 1);
  EXPECT_EQ(json["fatal"], true);
  EXPECT_EQ(json["primaryArchitectureId"], 0x1000007);
  EXPECT_EQ(json["architectureVariantId"], 3);
  EXPECT_EQ(json["osExceptionType"], "SIGABRT");
  EXPECT_EQ(json["osExceptionCode"], "#0");
  EXPECT_EQ(json["osExceptionAddress"], "0x0");
  EXPECT_EQ(json["exceptionType"], "std::runtime_error");
  // The reason is the application's own text, sent as it was thrown.
  EXPECT_EQ(json["exceptionReason"], "cannot read /home/alice/layouts.json");

  ASSERT_EQ(json["threads"].size(), 2u);
  EXPECT_FALSE(json["threads"][0].contains("exception"));
  const auto& crashed = json["threads"][1];
  EXPECT_EQ(crashed["id"], 1);
  std::vector<std::string> codes;
  for (const auto& frame : crashed["frames"])
    codes.push_back(frame["code"]);
  // The program's own frames as offsets into its image, for symbolication
  // with its build-id.
  EXPECT_THAT(codes, ElementsAre("0x555555554000 + 12042", "0x555555554000 + 4352",
                                 "0x7ffff7c00000 + 160330", "0x0 + 0", "0x0 + 0"));
  EXPECT_EQ(crashed["frames"][0]["address"], "0x0000555555556f0a");
  EXPECT_EQ(crashed["exception"]["type"], "std::runtime_error");
  EXPECT_EQ(crashed["exception"]["frames"][0],
            nlohmann::ordered_json::parse(R"({"address":"0x00007ffff7c9a1f0"})"));
  EXPECT_EQ(json["registers"]["rsi"], "0x00007fffffffe398");
  EXPECT_EQ(json["registers"].size(), 6u);

  std::vector<std::string> binaries;
  for (const auto& binary : json["binaries"])
    binaries.push_back(binary["name"].get<std::string>() + " " +
                       binary["startAddress"].get<std::string>() + " " +
                       binary["path"].get<std::string>());
  // Sorted by base; neither the alias at libc's base nor the vDSO holds an
  // address of the report.
  EXPECT_THAT(binaries,
              ElementsAre("wendrix 0x0000555555554000 /home/USER/.local/bin/wendrix",
                          "libc.so.6 0x00007ffff7c00000 /usr/lib/x86_64-linux-gnu/libc.so.6"));
  EXPECT_EQ(json["binaries"][0]["id"], "1f2e3d4c5b6a798897a6b5c4d3e2f10012345678");

  // It survives the store's archive unchanged.
  auto stored = unarchiveKeyedDataOf<TLMAppleErrorLog>(archiveKeyedData(*log));
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->isEqual(*log));
}

}  // namespace
}  // namespace tlm
