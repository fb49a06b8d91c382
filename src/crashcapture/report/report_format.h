#pragma once

// The framing of a crash report file: a 7-byte magic, a version byte, then
// one tlcrash.CrashReport message (crashcapture/report/tlcrash.pb-c.h).

#include <cstddef>
#include <cstdint>
#include <span>

namespace tlcrash {

inline constexpr char kReportFileMagic[7] = {'t', 'l', 'c', 'r', 'a', 's', 'h'};
inline constexpr std::uint8_t kReportFileVersion = 1;
inline constexpr std::size_t kReportFileHeaderSize = sizeof kReportFileMagic + 1;

// The header of a report: magic and version.
struct ReportFileHeader {
  char magic[sizeof kReportFileMagic];
  std::uint8_t version;
};
static_assert(sizeof(ReportFileHeader) == kReportFileHeaderSize);

// The message bytes of `file` when it starts with the magic and version 1 and
// has at least one byte after them; an empty span otherwise.
std::span<const std::uint8_t> reportFileBody(std::span<const std::uint8_t> file);

}  // namespace tlcrash
