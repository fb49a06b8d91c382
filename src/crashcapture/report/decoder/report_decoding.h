#pragma once

// The two steps of TLCrashReport::makeWithData, apart so that tests can
// build the model from a message no file could hold (protobuf-c refuses to
// unpack a message without its required fields, so the model's checks for
// missing sections and fields are reached only from memory).

#include <cstdint>
#include <memory>
#include <span>

#include "base/result.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/tlcrash.pb-c.h"

namespace tlcrash {

struct FreeUnpackedCrashReport {
  void operator()(Tlcrash__CrashReport* message) const {
    tlcrash__crash_report__free_unpacked(message, nullptr);
  }
};
using UnpackedCrashReport = std::unique_ptr<Tlcrash__CrashReport, FreeUnpackedCrashReport>;

// Checks the header of a report file and unpacks its message: data of 8 bytes
// or fewer, "Could not decode truncated crash log"; a magic other than
// "tlcrash", "Could not decode invalid crash log header"; a version byte other
// than 1, "Could not decode unsupported crash report version: %d" with the
// byte; a message that does not unpack, "An unknown error occured decoding
// the crash report".
base::Result<UnpackedCrashReport> decodeCrashData(std::span<const std::uint8_t> data);

// The model of `message`, built section by section in a fixed order (report
// identifier, machine, system, application, process, signal, Mach exception,
// threads, images, exception, custom data); the first missing or malformed
// section ends it with its error. Nothing of `message` is kept.
base::Result<TLCrashReport> buildCrashReport(const Tlcrash__CrashReport& message);

}  // namespace tlcrash
