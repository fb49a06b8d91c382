// Crash report files as the crash service reads them at the next start: a
// file that decodes is rendered as text in both encodings (with its log
// lines) and every frame's address is looked up among the report's images.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/text_formatter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tlcrash;
  const auto report = TLCrashReport::makeWithData(std::span<const std::uint8_t>(data, size));
  if (!report) return 0;
  std::size_t logged = 0;
  const LogSink log = [&](const std::string& line) { logged += line.size(); };
  for (const auto encoding :
       {TLCrashReportStringEncoding::utf8, TLCrashReportStringEncoding::ascii}) {
    (void)TLCrashReportTextFormatter(0, encoding, log).formatReport(*report);
  }
  for (const auto& thread : report->threads()) {
    for (const auto& frame : thread.stackFrames())
      (void)report->imageForAddress(frame.instructionPointer());
  }
  return 0;
}
