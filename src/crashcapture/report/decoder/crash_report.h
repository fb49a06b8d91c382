#pragma once

// A crash report file (crashcapture/report/report_format.h) decoded into
// the immutable model of report_info.h. Decoding checks the header and every
// section the model needs and fails as a whole with one error of the domain
// "TLCrashReporterErrorDomain", code 2 (invalid crash report): a damaged file
// never gives a partly filled report. A report may be shared between threads.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "crashcapture/report/decoder/report_info.h"

struct Tlcrash__CrashReport;

namespace tlcrash {

// Every section of a report, for a report built by hand rather than decoded
// (one the crash writer never produced, such as a test's). Nothing is
// checked: the report holds exactly these values.
struct TLCrashReportSections {
  TLCrashReportSystemInfo systemInfo;
  TLCrashReportApplicationInfo applicationInfo;
  TLCrashReportSignalInfo signalInfo;
  std::optional<TLCrashReportMachineInfo> machineInfo = {};
  std::optional<TLCrashReportProcessInfo> processInfo = {};
  std::optional<TLCrashReportMachExceptionInfo> machExceptionInfo = {};
  std::vector<TLCrashReportThreadInfo> threads = {};
  std::vector<TLCrashReportBinaryImageInfo> images = {};
  std::optional<TLCrashReportExceptionInfo> exceptionInfo = {};
  std::optional<std::vector<std::uint8_t>> customData = {};
  std::optional<std::array<std::uint8_t, 16>> uuidRef = {};
};

class TLCrashReport {
 public:
  explicit TLCrashReport(TLCrashReportSections sections);

  // The report in `data` (a whole report file), or the first error found:
  // a file of 8 bytes or fewer, a wrong magic or version, a message that
  // cannot be unpacked, or a section that is missing or malformed (the texts
  // are listed in report_decoding.cpp).
  static base::Result<TLCrashReport> makeWithData(std::span<const std::uint8_t> data);

  // The first image, in report order, whose range [base, base + size) holds
  // `address`; none when no image does.
  const TLCrashReportBinaryImageInfo* imageForAddress(std::uint64_t address) const;

  const TLCrashReportSystemInfo& systemInfo() const { return systemInfo_; }
  bool hasMachineInfo() const { return machineInfo_.has_value(); }
  const std::optional<TLCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
  const TLCrashReportApplicationInfo& applicationInfo() const { return applicationInfo_; }
  bool hasProcessInfo() const { return processInfo_.has_value(); }
  const std::optional<TLCrashReportProcessInfo>& processInfo() const { return processInfo_; }
  const TLCrashReportSignalInfo& signalInfo() const { return signalInfo_; }
  const std::optional<TLCrashReportMachExceptionInfo>& machExceptionInfo() const {
    return machExceptionInfo_;
  }
  const std::vector<TLCrashReportThreadInfo>& threads() const { return threads_; }
  const std::vector<TLCrashReportBinaryImageInfo>& images() const { return images_; }
  bool hasExceptionInfo() const { return exceptionInfo_.has_value(); }
  const std::optional<TLCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
  const std::optional<std::vector<std::uint8_t>>& customData() const { return customData_; }
  // The report's identifier (16 bytes); none when the report carries none.
  const std::optional<std::array<std::uint8_t, 16>>& uuidRef() const { return uuidRef_; }

 private:
  // Built only by the decoder, from a whole message.
  friend base::Result<TLCrashReport> buildCrashReport(const ::Tlcrash__CrashReport& message);
  TLCrashReport(TLCrashReportSystemInfo systemInfo, TLCrashReportApplicationInfo applicationInfo,
                TLCrashReportSignalInfo signalInfo)
      : systemInfo_(std::move(systemInfo)),
        applicationInfo_(std::move(applicationInfo)),
        signalInfo_(std::move(signalInfo)) {}

  TLCrashReportSystemInfo systemInfo_;
  std::optional<TLCrashReportMachineInfo> machineInfo_;
  TLCrashReportApplicationInfo applicationInfo_;
  std::optional<TLCrashReportProcessInfo> processInfo_;
  TLCrashReportSignalInfo signalInfo_;
  std::optional<TLCrashReportMachExceptionInfo> machExceptionInfo_;
  std::vector<TLCrashReportThreadInfo> threads_;
  std::vector<TLCrashReportBinaryImageInfo> images_;
  std::optional<TLCrashReportExceptionInfo> exceptionInfo_;
  std::optional<std::vector<std::uint8_t>> customData_;
  std::optional<std::array<std::uint8_t, 16>> uuidRef_;
};

}  // namespace tlcrash
