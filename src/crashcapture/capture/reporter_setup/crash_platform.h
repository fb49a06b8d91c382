#pragma once

// What the crash reporter needs of the system it runs on: the own process's
// memory, threads and images that the crash path reads, and for its set-up
// the host and process facts of a report and a log. An implementation
// (linux/) makes one per process and keeps it for the life of the process.
// The crash path never calls through this interface: enabling hands it the
// objects the platform returns.

#include <string>

#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/capture/writer/thread_source.h"
#include "crashcapture/platform/reporter_error.h"
#include "crashcapture/platform/task.h"

namespace tlcrash {

class TLCrashPlatform {
 public:
  virtual ~TLCrashPlatform() = default;

  // The own process's memory and threads, as the crash path reads them.
  virtual const Task& task() = 0;
  virtual TLCrashThreadSource& threads() = 0;
  // Readies the thread source to stop the other threads; false with the
  // error when it cannot.
  virtual bool armThreads(ReporterError* error) = 0;

  // Brings the image list in line with the images loaded now.
  virtual void refreshImages() = 0;
  // The image list the writer reports (null when it could not be made).
  virtual tlcrash_log_writer_images images() = 0;

  // Fills the machine, system and process values of `facts`; false when the
  // process's own information cannot be read (those values then stay
  // empty).
  virtual bool systemFacts(TLCrashLogWriterFacts* facts) = 0;

  // Writes `line` (with its "[TLCrashReporter]" prefix) to the system log.
  virtual void log(const std::string& line) = 0;
};

}  // namespace tlcrash
