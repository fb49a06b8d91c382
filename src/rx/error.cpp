#include "rx/error.h"

#include <string>

namespace wendrix::rx {

Error RxError::make(RxErrorCode code) {
  const auto value = static_cast<std::int64_t>(code);
  // The generic text the rest of the program uses for errors without a
  // message of their own: it names the domain and the code.
  return Error(kDomain, value,
               "The operation couldn\u2019t be completed. (" + std::string(kDomain) + " error " +
                   std::to_string(value) + ".)");
}

}  // namespace wendrix::rx
