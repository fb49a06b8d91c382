#pragma once

// The crash reporter's platform on Linux: the own process's memory read with
// process_vm_readv(2), its threads stopped by the thread suspender, its
// images as the dynamic loader lists them, the host and process facts from
// the kernel and /proc, and the system log.

#include <string>

#include "crashcapture/capture/reporter/linux/linux_thread_source.h"
#include "crashcapture/capture/reporter_setup/crash_platform.h"
#include "crashcapture/capture/reporter_setup/linux/process_images.h"
#include "crashcapture/capture/reporter_setup/tlcrash_reporter.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/platform/linux/thread_suspender.h"

namespace tlcrash {

class LinuxCrashPlatform final : public TLCrashPlatform {
 public:
  LinuxCrashPlatform() = default;
  LinuxCrashPlatform(const LinuxCrashPlatform&) = delete;
  LinuxCrashPlatform& operator=(const LinuxCrashPlatform&) = delete;

  const Task& task() override { return task_; }
  TLCrashThreadSource& threads() override { return threads_; }
  bool armThreads(ReporterError* error) override { return suspender_.arm(error); }
  void refreshImages() override { images_.refresh(); }
  tlcrash_log_writer_images images() override { return images_.images(); }
  bool systemFacts(TLCrashLogWriterFacts* facts) override;
  void log(const std::string& line) override;

 private:
  SelfTask task_;
  ThreadSuspender suspender_;
  LinuxThreadSource threads_{suspender_};
  ProcessImages images_{task_};
};

// The process's platform: made at the first call, kept for the life of the
// process (the crash path reads it until the end).
TLCrashPlatform& linuxCrashPlatform();

// The process-wide reporter for the installed program identity, with the
// default configuration, on linuxCrashPlatform().
TLCrashReporter& sharedLinuxCrashReporter();

}  // namespace tlcrash
