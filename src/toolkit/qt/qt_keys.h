#pragma once

#include <optional>

#include "toolkit/controls.h"

class QKeyEvent;

namespace toolkit::qt {

// The chord of a key press in the stored numbering, through the one shared
// key-code table; none for a key the table lacks or a bare modifier.
std::optional<KeyChord> chordForKeyEvent(const QKeyEvent& event);

}  // namespace toolkit::qt
