#pragma once

// Errors of the crash reporter's object interface: a code in the domain
// "TLCrashReporterErrorDomain" with a description and, when an operating
// system call caused it, the underlying POSIX or Mach error. Not for the crash
// path (they allocate).

#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "crashcapture/platform/mach_types.h"

namespace tlcrash {

inline constexpr std::string_view kTLCrashReporterErrorDomain = "TLCrashReporterErrorDomain";
inline constexpr std::string_view kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr std::string_view kMachErrorDomain = "NSMachErrorDomain";

// The codes of the reporter's domain.
enum class TLCrashReporterError : int {
  unknown = 0,          // unspecified failure (writing or reading a live report)
  operatingSystem = 1,  // a system call failed; the underlying error says which
  invalidCrashReport = 2,
  alreadyEnabled = 3,
};

struct ReporterError {
  base::Error error;
  std::optional<base::Error> underlying;

  std::int64_t code() const { return error.code; }
  const std::string& description() const { return error.description; }
  friend bool operator==(const ReporterError&, const ReporterError&) = default;
};

// Each builder does nothing when `out` is null, like an absent error out-value.

// Sets `*out` to an error of the reporter's domain with `code`, `description`
// and the optional underlying error.
void tlcrash_populate_error(ReporterError* out, TLCrashReporterError code, std::string description,
                            std::optional<base::Error> underlying = std::nullopt);

// Code 1 with the Mach return code as the underlying error.
void tlcrash_populate_mach_error(ReporterError* out, kern_return_t kr, std::string description);

// Code 1 with the errno value as the underlying POSIX error.
void tlcrash_populate_posix_error(ReporterError* out, int errnum, std::string description);

}  // namespace tlcrash
