#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "telemetry/core/date_text.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/device.h"

namespace tlm::schematest {

// 2024-05-01T10:00:00.123Z.
inline Date fixedDate() {
  return Date(std::chrono::milliseconds(1714557600123));
}

// The device record of a Linux laptop as the device tracker fills it.
inline std::shared_ptr<TLMDevice> linuxDevice() {
  auto d = std::make_shared<TLMDevice>();
  d->sdkName = "daraveved.linux";
  d->sdkVersion = "4.1.0";
  d->model = "X1";
  d->oemName = "LENOVO";
  d->osName = "Linux";
  d->osVersion = "6.1.0";
  d->locale = "en_US";
  d->timeZoneOffset = 60;
  d->screenSize = "1920x1080";
  d->appVersion = "1.2";
  d->appBuild = "42";
  d->appNamespace = "app.Wendrix";
  return d;
}

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
