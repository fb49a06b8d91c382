#pragma once

#include "crashcapture/platform/log_sink.h"

namespace tlcrash {

// The system log (syslog, informational level).
LogSink systemLog();

}  // namespace tlcrash
