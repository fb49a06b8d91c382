#include "rx/rx_error.h"

#include <string>

namespace wendrix::rx {

Error RxError::make(RxErrorCode code) {
  return base::makeDefaultError(kDomain, static_cast<std::int64_t>(code));
}

}  // namespace wendrix::rx
