#include "engine/restore_errors.h"

#include "winsys/errors.h"

namespace wendrix {

base::Error InvalidAppError::asError() const {
  return winsys::makeDefaultError(kDomain, 1);
}
base::Error FailedToOpenApp::asError() const {
  return winsys::makeDefaultError(kDomain, 1);
}
base::Error NilWeakSelfError::asError() const {
  return winsys::makeDefaultError(kDomain, 1);
}

}  // namespace wendrix
