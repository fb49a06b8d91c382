#include "crashcapture/capture/reporter_setup/linux/linux_crash_platform.h"

#include "crashcapture/platform/linux/host_info.h"
#include "crashcapture/platform/linux/process_info.h"
#include "crashcapture/platform/linux/system_log.h"
#include "platform/bundle/app_identity.h"

namespace tlcrash {

bool LinuxCrashPlatform::systemFacts(TLCrashLogWriterFacts* facts) {
  const auto process = TLCrashProcessInfo::currentProcessInfo();
  if (!process) return false;
  if (const auto host = TLCrashHostInfo::currentHostInfo()) {
    const TLCrashHostVersion version = host->darwinVersion();
    facts->osVersion = std::to_string(version.major) + "." + std::to_string(version.minor);
    if (version.revision > 0) facts->osVersion += "." + std::to_string(version.revision);
    facts->osBuild = host->osBuild();
    facts->model = host->model();
    facts->cpuType = host->cpuType();
    facts->cpuSubtype = host->cpuSubtype();
    facts->processorCount = host->processorCount();
    facts->logicalProcessorCount = host->logicalProcessorCount();
  }
  facts->processName = process->processName();
  facts->processId = static_cast<std::uint32_t>(process->processID());
  facts->processPath = process->processPath();
  facts->startTime = static_cast<std::uint64_t>(process->startTime().tv_sec);
  facts->parentProcessId = static_cast<std::uint32_t>(process->parentProcessID());
  if (const auto parent = TLCrashProcessInfo::makeWithProcessID(process->parentProcessID()))
    facts->parentProcessName = parent->processName();
  return true;
}

void LinuxCrashPlatform::log(const std::string& line) {
  systemLog()(line);
}

TLCrashPlatform& linuxCrashPlatform() {
  static LinuxCrashPlatform* const platform = new LinuxCrashPlatform();
  return *platform;
}

TLCrashReporter& sharedLinuxCrashReporter() {
  static TLCrashReporter* const shared =
      new TLCrashReporter(linuxCrashPlatform(), platform::AppIdentity::current(),
                          TLCrashReporterConfig::defaultConfiguration());
  return *shared;
}

}  // namespace tlcrash
