#pragma once

#include "base/bytes.h"
#include "base/result.h"
#include "crashcapture/report/decoder/crash_report.h"

namespace tlcrash {

// Renders a decoded crash report as bytes of some format.
class TLCrashReportFormatter {
 public:
  virtual ~TLCrashReportFormatter() = default;
  virtual base::Result<base::Bytes> formatReport(const TLCrashReport& report) const = 0;
};

}  // namespace tlcrash
