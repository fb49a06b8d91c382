#pragma once

#include <optional>
#include <string>

namespace toolkit {
class Application;
}  // namespace toolkit

namespace wendrix {

// Asks for a layout's name in a modal alert ("Name your layout", buttons
// "Done" and "Cancel") with a 320 x 24 text field that holds `defaultName` as
// text and placeholder. Done gives the field's text, or `defaultName` when
// the field is empty; anything else gives none. The text is not checked
// further.
std::optional<std::string> askLayoutName(toolkit::Application& application,
                                         const std::string& defaultName);

}  // namespace wendrix
