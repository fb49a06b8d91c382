#pragma once

// A decoded crash report as a readable crash log in the classic layout
// ("Report Version:  104"): a header of the process, system and signal, the
// uncaught exception, every thread's frames, the crashed thread's registers
// and the list of images. Every value a report lacks prints as "???".
// Paths under /home/<user>/, wherever they appear, print with the user's
// name replaced ("/home/USER/..."), so the text can leave the machine.
//
// Pure functions of the report; safe on any thread. Lines it logs go to the
// given sink, none when it is empty.

#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "base/result.h"
#include "crashcapture/platform/log_sink.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/report_formatter.h"

namespace tlcrash {

// The encoding of formatReport's bytes. Characters the encoding cannot hold
// become "?" (ASCII).
enum class TLCrashReportStringEncoding { utf8, ascii };

class TLCrashReportTextFormatter : public TLCrashReportFormatter {
 public:
  // `textFormat` is kept and passed on; the layout does not depend on it.
  TLCrashReportTextFormatter(std::int32_t textFormat, TLCrashReportStringEncoding stringEncoding,
                             LogSink log = {});

  // The text of stringValueForCrashReport in the formatter's encoding; never
  // fails.
  base::Result<base::Bytes> formatReport(const TLCrashReport& report) const override;

  // The whole crash log, each line ended by a newline.
  static std::string stringValueForCrashReport(const TLCrashReport& report, std::int32_t textFormat,
                                               const LogSink& log = {});

  // One frame line without its newline: the index, the name of the image
  // holding the address ("???" for none), the address in 16 hex digits (8
  // when not `lp64`) and the symbol + offset, or the image base + offset.
  // Logs "[TLCrashReporter] Cannot find image for 0x%llx" for a non-zero
  // address outside every image, and "[TLCrashReporter] Symbol \"%s\" prefix
  // rules are unknown for this OS!" for a "_" symbol of a system whose rule
  // is not known (Apple systems drop the "_", Linux keeps it).
  static std::string formatStackFrame(const TLCrashReportStackFrameInfo& frame,
                                      std::int64_t frameIndex, const TLCrashReport& report,
                                      bool lp64, const LogSink& log = {});

 private:
  std::int32_t textFormat_;
  TLCrashReportStringEncoding stringEncoding_;
  LogSink log_;
};

}  // namespace tlcrash
