#include "dispatch/clock.h"

namespace dispatch {

SystemClock& SystemClock::instance() {
  static SystemClock clock;
  return clock;
}

}  // namespace dispatch
