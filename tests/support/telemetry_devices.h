#pragma once

#include <memory>

#include "telemetry/model/device.h"

namespace tlm::testing {

// A valid device as the tracker would fill it on a Linux laptop.
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

// A device with only the members a valid one needs.
inline std::shared_ptr<TLMDevice> validDevice() {
  auto device = std::make_shared<TLMDevice>();
  device->sdkName = "daraveved.linux";
  device->sdkVersion = "4.1.0";
  device->osName = "Linux";
  device->osVersion = "6.1";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.0";
  device->appBuild = "1";
  return device;
}

}  // namespace tlm::testing
