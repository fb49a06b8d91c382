#include "crashcapture/platform/linux/system_log.h"

#include <syslog.h>

namespace tlcrash {

LogSink systemLog() {
  return [](const std::string& line) { ::syslog(LOG_INFO, "%s", line.c_str()); };
}

}  // namespace tlcrash
