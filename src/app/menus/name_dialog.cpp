#include "app/menus/name_dialog.h"

#include <memory>

#include "base/utf8.h"
#include "toolkit/alert.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"

namespace wendrix {

std::optional<std::string> askLayoutName(toolkit::Application& application,
                                         const std::string& defaultName) {
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText("Name your layout");
  alert->addButton("Done");
  alert->addButton("Cancel");
  auto field = std::make_shared<toolkit::TextField>(toolkit::Rect{{0, 0}, {320, 24}});
  field->setEditable(true);
  field->setBezeled(true);
  field->setStringValue(defaultName);
  field->setPlaceholder(defaultName);
  // Selected, so that typing a name replaces the suggestion.
  field->setSelectedRange(0, base::utf16Length(defaultName));
  alert->setAccessoryView(field);
  if (alert->runModal(application) != toolkit::kAlertFirstButtonReturn) return std::nullopt;
  return field->stringValue().empty() ? defaultName : field->stringValue();
}

}  // namespace wendrix
