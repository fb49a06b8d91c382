#include "crashcapture/decoder/crash_report.h"

#include "crashcapture/decoder/report_decoding.h"

namespace tlcrash {

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
