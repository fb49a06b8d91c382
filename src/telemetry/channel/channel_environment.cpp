#include "telemetry/channel/channel_environment.h"

#include "telemetry/context/device_tracker.h"

namespace tlm {

TLMChannelEnvironment TLMChannelEnvironment::standard() {
  return {TLMDarAvevedUserDefaults::shared(),
          [] { return TLMDeviceTracker::sharedInstance()->device(); }};
}

}  // namespace tlm
