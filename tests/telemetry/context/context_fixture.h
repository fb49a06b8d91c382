#pragma once

#include <chrono>
#include <memory>

#include "dispatch/clock.h"
#include "platform/defaults/memory_user_defaults.h"
#include "telemetry/core/date_text.h"
#include "telemetry/core/sdk_user_defaults.h"

namespace tlm::testing {

// One settings store that outlives the context objects made over it, so a
// test can "restart" by making new objects over the same store.
struct ContextStore {
  std::shared_ptr<platform::MemoryUserDefaults> defaults =
      std::make_shared<platform::MemoryUserDefaults>();
  std::shared_ptr<TLMDarAvevedUserDefaults> settings =
      std::make_shared<TLMDarAvevedUserDefaults>(defaults);
  dispatch::VirtualClock clock;

  Date at(int seconds) const {
    return Date(dispatch::VirtualClock::kDefaultStart) + std::chrono::seconds(seconds);
  }
  void setTime(int seconds) { clock.set(at(seconds)); }
};

}  // namespace tlm::testing
