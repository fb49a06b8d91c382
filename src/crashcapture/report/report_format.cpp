#include "crashcapture/report/report_format.h"

#include <algorithm>

namespace tlcrash {

std::span<const std::uint8_t> reportFileBody(std::span<const std::uint8_t> file) {
  if (file.size() <= kReportFileHeaderSize) return {};
  if (!std::equal(std::begin(kReportFileMagic), std::end(kReportFileMagic), file.begin()))
    return {};
  if (file[sizeof kReportFileMagic] != kReportFileVersion) return {};
  return file.subspan(kReportFileHeaderSize);
}

}  // namespace tlcrash
