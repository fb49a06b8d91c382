#include "crashcapture/report/decoder/crash_report.h"

#include <utility>

#include "crashcapture/report/decoder/report_decoding.h"

namespace tlcrash {

TLCrashReport::TLCrashReport(TLCrashReportSections sections)
    : systemInfo_(std::move(sections.systemInfo)),
      machineInfo_(std::move(sections.machineInfo)),
      applicationInfo_(std::move(sections.applicationInfo)),
      processInfo_(std::move(sections.processInfo)),
      signalInfo_(std::move(sections.signalInfo)),
      machExceptionInfo_(std::move(sections.machExceptionInfo)),
      threads_(std::move(sections.threads)),
      images_(std::move(sections.images)),
      exceptionInfo_(std::move(sections.exceptionInfo)),
      customData_(std::move(sections.customData)),
      uuidRef_(sections.uuidRef) {}

base::Result<TLCrashReport> TLCrashReport::makeWithData(std::span<const std::uint8_t> data) {
  auto message = decodeCrashData(data);
  if (!message) return message.error();
  return buildCrashReport(**message);
}

const TLCrashReportBinaryImageInfo* TLCrashReport::imageForAddress(std::uint64_t address) const {
  for (const auto& image : images_) {
    if (address >= image.imageBaseAddress() &&
        address - image.imageBaseAddress() < image.imageSize())
      return &image;
  }
  return nullptr;
}

}  // namespace tlcrash
