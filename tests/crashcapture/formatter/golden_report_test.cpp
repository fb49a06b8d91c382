// A whole report formatted and compared with the committed expected text
// (full_report.txt beside this file). TLCRASH_WRITE_EXPECTED=1 rewrites that
// file from the formatter's output instead; review the difference before
// committing it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/text_formatter.h"
#include "crashcapture/report_builder.h"

namespace tlcrash {
namespace {

const std::string kExpectedFile = std::string(TLCRASH_FORMATTER_TEST_DIR) + "/full_report.txt";

TEST(GoldenReportTest, AFullLinuxReportFormatsAsTheExpectedText) {
  const auto report = TLCrashReport::makeWithData(test::reportFile(test::fullReport()));
  ASSERT_TRUE(report.ok()) << report.error();
  std::vector<std::string> logged;
  const std::string text = TLCrashReportTextFormatter::stringValueForCrashReport(
      *report, 0, [&](const std::string& line) { logged.push_back(line); });

  if (const char* write = std::getenv("TLCRASH_WRITE_EXPECTED");
      write && std::string(write) == "1") {
    std::ofstream(kExpectedFile, std::ios::binary) << text;
    GTEST_SKIP() << "wrote " << kExpectedFile;
  }
  std::ifstream in(kExpectedFile, std::ios::binary);
  ASSERT_TRUE(in) << "cannot read " << kExpectedFile;
  const std::string expected((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  EXPECT_EQ(text, expected);
  // The one non-zero address outside every image (address 0 logs nothing).
  EXPECT_EQ(logged, std::vector<std::string>{"[TLCrashReporter] Cannot find image for 0xdeadbeef"});
}

}  // namespace
}  // namespace tlcrash
