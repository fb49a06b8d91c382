#pragma once

// Facts about the host that a crash report records, read once outside the
// crash path: the kernel release as a three-part version, the kernel build,
// the hardware model and the processors.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crashcapture/platform/linux/system_log.h"
#include "crashcapture/platform/mach_types.h"

namespace tlcrash {

struct TLCrashHostVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned revision = 0;
  friend bool operator==(const TLCrashHostVersion&, const TLCrashHostVersion&) = default;
};

class TLCrashHostInfo {
 public:
  // The host this process runs on: the release and build from uname(2), the
  // model from DMI, the processor counts from sysconf(3) and the CPU topology
  // in sysfs. None, after logging "[TLCrashReporter] Failed to fetch
  // kern.osrelease value %d: %s", when uname(2) fails.
  static std::optional<TLCrashHostInfo> currentHostInfo(const LogSink& log = systemLog());

  // The release's leading "major.minor.revision" ("6.1.0-18-amd64" gives 6, 1,
  // 0); parts missing after the first are 0, after logging "[TLCrashReporter]
  // Unexpected kern.osrelease string format: %s".
  static TLCrashHostVersion parseRelease(std::string_view release, const LogSink& log);

  // The kernel release, scanned (the name is kept from the report format).
  TLCrashHostVersion darwinVersion() const { return darwinVersion_; }
  // The kernel release and build text as uname(2) gives them.
  const std::string& osRelease() const { return osRelease_; }
  const std::string& osBuild() const { return osBuild_; }
  // The hardware model (DMI product name); none when it cannot be read.
  const std::optional<std::string>& model() const { return model_; }
  // This build's processor in Mach-O numbering.
  cpu_type_t cpuType() const { return cpuType_; }
  cpu_subtype_t cpuSubtype() const { return cpuSubtype_; }
  // Physical cores and logical processors the system is configured with.
  std::uint32_t processorCount() const { return processorCount_; }
  std::uint32_t logicalProcessorCount() const { return logicalProcessorCount_; }

 private:
  TLCrashHostVersion darwinVersion_;
  std::string osRelease_;
  std::string osBuild_;
  std::optional<std::string> model_;
  cpu_type_t cpuType_ = 0;
  cpu_subtype_t cpuSubtype_ = 0;
  std::uint32_t processorCount_ = 0;
  std::uint32_t logicalProcessorCount_ = 0;
};

}  // namespace tlcrash
