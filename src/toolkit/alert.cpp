#include "toolkit/alert.h"

#include "toolkit/application.h"

namespace toolkit {

void Alert::beginSheetModal(Window& window, std::function<void(ModalResponse)> completion) {
  window.beginSheet(shared_from_this(), std::move(completion));
}

ModalResponse Alert::runModal(Application& application) {
  return application.runModal(*this);
}

}  // namespace toolkit
