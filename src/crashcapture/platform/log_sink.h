#pragma once

#include <functional>
#include <string>

namespace tlcrash {

// Where the crash capture code outside the crash path writes its log lines
// (each already carries its "[TLCrashReporter]" prefix). The Linux layer's
// systemLog() is the one the program uses; tests collect the lines.
using LogSink = std::function<void(const std::string& line)>;

}  // namespace tlcrash
