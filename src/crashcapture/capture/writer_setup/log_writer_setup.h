#pragma once

// Setting up and freeing a report writer's record: the copies of the facts,
// the uncaught exception and the custom data it writes at crash time. All of
// it allocates and runs before a crash or after it, never on the crash path;
// the writer itself (crashcapture/capture/writer) allocates nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashcapture/capture/writer/log_writer.h"

namespace tlcrash {

// Fills the record from `facts` and publishes it with a full barrier. Not for
// the crash path.
void tlcrash_log_writer_init_with_facts(tlcrash_log_writer* writer,
                                        const TLCrashLogWriterFacts& facts);

// Records the uncaught exception: name, reason and the return addresses of
// its call stack. A second exception is a programming error and aborts. Not
// for the crash path.
void tlcrash_log_writer_set_exception(tlcrash_log_writer* writer, const std::string& name,
                                      const std::string& reason,
                                      const std::vector<std::uint64_t>& returnAddresses);

// Replaces the custom data; none removes it. Not for the crash path.
void tlcrash_log_writer_set_custom_data(tlcrash_log_writer* writer,
                                        const std::optional<std::vector<std::uint8_t>>& data);

// Frees every copy the record holds. Not for the crash path.
void tlcrash_log_writer_free(tlcrash_log_writer* writer);

}  // namespace tlcrash
