#pragma once

#include <functional>
#include <string>

namespace tlcrash {

// Where the crash capture code outside the crash path writes its log lines
// (each already carries its "[TLCrashReporter]" prefix).
using LogSink = std::function<void(const std::string& line)>;

// The system log (syslog, informational level).
LogSink systemLog();

}  // namespace tlcrash
