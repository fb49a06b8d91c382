#pragma once

#include <functional>
#include <memory>

#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/model/device.h"

namespace tlm {

// What channel units take from the rest of the SDK: the settings store (for
// the start time of long flush intervals) and the current device record
// (for logs enqueued without one). Time comes from the units' queue clock.
struct TLMChannelEnvironment {
  std::shared_ptr<TLMDarAvevedUserDefaults> settings;
  std::function<std::shared_ptr<TLMDevice>()> currentDevice;

  // The shared settings store and the shared device tracker.
  static TLMChannelEnvironment standard();
};

}  // namespace tlm
