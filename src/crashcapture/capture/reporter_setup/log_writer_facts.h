#pragma once

// The facts of this host and process that every report carries, gathered
// outside the crash path for the report writer's record.

#include <cstdint>
#include <optional>
#include <string>

#include "crashcapture/capture/reporter_setup/crash_platform.h"
#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

// Fills `writer` for a report of this process by the application
// `applicationIdentifier`, with a new random report identifier; the system
// facts come from `platform`. invalidArgument when the process's own
// information cannot be read (the machine, system and process values then
// stay empty; the record is usable all the same).
tlcrash_error_t tlcrash_log_writer_init(tlcrash_log_writer* writer, TLCrashPlatform& platform,
                                        const std::string& applicationIdentifier,
                                        const std::string& applicationVersion,
                                        const std::optional<std::string>& marketingVersion,
                                        std::uint32_t symbolicationStrategy, bool userRequested);

}  // namespace tlcrash
