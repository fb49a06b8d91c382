#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "support/telemetry_devices.h"
#include "telemetry/core/date_text.h"
#include "telemetry/model/abstract_log.h"

namespace tlm::schematest {

// 2024-05-01T10:00:00.123Z.
inline Date fixedDate() {
  return Date(std::chrono::milliseconds(1714557600123));
}

using tlm::testing::linuxDevice;

// An event-like log with properties, ready to be converted.
inline std::shared_ptr<TLMLogWithProperties> eventLog() {
  auto log = std::make_shared<TLMLogWithProperties>();
  log->type = "event";
  log->timestamp = fixedDate();
  log->sid = "S1";
  log->userId = "alice";
  log->device = linuxDevice();
  log->properties = std::map<std::string, std::string>{{"k", "v"}};
  return log;
}

}  // namespace tlm::schematest
