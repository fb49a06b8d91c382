// A report damaged anywhere decodes to an error or to a whole report, and a
// report that decodes formats: each prefix of a valid file, and the file with
// each byte changed in three ways (its low bit, its high bit, all its bits:
// values, varint continuations, tags and lengths).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/text_formatter.h"
#include "crashcapture/report_builder.h"

namespace tlcrash {
namespace {

// Decodes `file`; true when it gave a report (which must then format).
bool decodesAndFormats(const test::Bytes& file) {
  const auto report = TLCrashReport::makeWithData(file);
  if (!report.ok()) {
    EXPECT_EQ(report.error().domain, "TLCrashReporterErrorDomain");
    EXPECT_EQ(report.error().code, 2);
    EXPECT_FALSE(report.error().description.empty());
    return false;
  }
  const std::string text = TLCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
  EXPECT_NE(text.find("Binary Images:\n"), std::string::npos);
  return true;
}

TEST(DamagedReportTest, EveryPrefixOfAReportDecodesToAnErrorOrAWholeReport) {
  const test::Bytes file = test::reportFile(test::fullReport());
  ASSERT_TRUE(decodesAndFormats(file));
  for (std::size_t length = 0; length < file.size(); ++length) {
    SCOPED_TRACE(length);
    decodesAndFormats(test::Bytes(file.begin(), file.begin() + length));
  }
}

TEST(DamagedReportTest, EveryChangedByteOfAReportDecodesToAnErrorOrAWholeReport) {
  const test::Bytes file = test::reportFile(test::fullReport());
  int decoded = 0;
  int refused = 0;
  for (std::size_t position = 0; position < file.size(); ++position) {
    for (const std::uint8_t flip : {0x01, 0x80, 0xFF}) {
      SCOPED_TRACE(testing::Message() << "byte " << position << " ^ " << int(flip));
      test::Bytes damaged = file;
      damaged[position] ^= flip;
      (decodesAndFormats(damaged) ? decoded : refused)++;
    }
  }
  // Both outcomes occur: the loop reaches values as well as structure.
  EXPECT_GT(decoded, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace tlcrash
