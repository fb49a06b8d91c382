#include "winsys/errors.h"

namespace wendrix::winsys {

std::string defaultErrorDescription(std::string_view domain, std::int64_t code) {
  return "The operation couldn\u2019t be completed. (" + std::string(domain) + " error " +
         std::to_string(code) + ".)";
}

base::Error makeDefaultError(std::string_view domain, std::int64_t code) {
  return base::Error(std::string(domain), code, defaultErrorDescription(domain, code));
}

}  // namespace wendrix::winsys
