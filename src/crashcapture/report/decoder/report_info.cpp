#include "crashcapture/report/decoder/report_info.h"

#include <utility>

namespace tlcrash {

TLCrashReportSystemInfo::TLCrashReportSystemInfo(
    TLCrashReportOperatingSystem operatingSystem, std::string operatingSystemVersion,
    std::optional<std::string> operatingSystemBuild, TLCrashReportArchitecture architecture,
    std::optional<TLCrashReportProcessorInfo> processorInfo,
    std::optional<TLCrashReportDate> timestamp)
    : operatingSystem_(operatingSystem),
      operatingSystemVersion_(std::move(operatingSystemVersion)),
      operatingSystemBuild_(std::move(operatingSystemBuild)),
      architecture_(architecture),
      processorInfo_(processorInfo),
      timestamp_(timestamp) {}

TLCrashReportSystemInfo::TLCrashReportSystemInfo(TLCrashReportOperatingSystem operatingSystem,
                                                 std::string operatingSystemVersion,
                                                 TLCrashReportArchitecture architecture,
                                                 std::optional<TLCrashReportDate> timestamp)
    : TLCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion), std::nullopt,
                              architecture, std::nullopt, timestamp) {}

TLCrashReportSystemInfo::TLCrashReportSystemInfo(TLCrashReportOperatingSystem operatingSystem,
                                                 std::string operatingSystemVersion,
                                                 std::optional<std::string> operatingSystemBuild,
                                                 TLCrashReportArchitecture architecture,
                                                 std::optional<TLCrashReportDate> timestamp)
    : TLCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion),
                              std::move(operatingSystemBuild), architecture, std::nullopt,
                              timestamp) {}

TLCrashReportBinaryImageInfo::TLCrashReportBinaryImageInfo(
    std::optional<TLCrashReportProcessorInfo> codeType, std::uint64_t baseAddress,
    std::uint64_t size, std::string name, const std::optional<std::vector<std::uint8_t>>& uuid)
    : codeType_(codeType),
      imageBaseAddress_(baseAddress),
      imageSize_(size),
      imageName_(std::move(name)) {
  if (!uuid) return;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(uuid->size() * 2);
  for (const std::uint8_t byte : *uuid) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  imageUUID_ = std::move(text);
}

}  // namespace tlcrash
