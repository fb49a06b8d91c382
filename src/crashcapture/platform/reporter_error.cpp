#include "crashcapture/platform/reporter_error.h"

#include <cstring>
#include <utility>

namespace tlcrash {

void tlcrash_populate_error(ReporterError* out, TLCrashReporterError code, std::string description,
                            std::optional<base::Error> underlying) {
  if (out == nullptr) return;
  out->error = base::Error(std::string(kTLCrashReporterErrorDomain), static_cast<int>(code),
                           std::move(description));
  out->underlying = std::move(underlying);
}

void tlcrash_populate_mach_error(ReporterError* out, kern_return_t kr, std::string description) {
  tlcrash_populate_error(out, TLCrashReporterError::operatingSystem, std::move(description),
                         base::makeDefaultError(kMachErrorDomain, kr));
}

void tlcrash_populate_posix_error(ReporterError* out, int errnum, std::string description) {
  char text[256] = {};
  // The GNU strerror_r answers a pointer that may or may not be `text`.
  const char* message = ::strerror_r(errnum, text, sizeof text);
  tlcrash_populate_error(out, TLCrashReporterError::operatingSystem, std::move(description),
                         base::Error(std::string(kPOSIXErrorDomain), errnum, message));
}

}  // namespace tlcrash
