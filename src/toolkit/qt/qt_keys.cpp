#include "toolkit/qt/qt_keys.h"

#include <X11/X.h>
#include <X11/keysym.h>
#include <QKeyEvent>

#include "platform/keyboard/linux/key_table.h"

namespace toolkit::qt {
namespace {

// The X keysym of a Qt key, for platforms that give no native key (offscreen).
std::optional<unsigned long> keysymForQtKey(int key) {
  if (key >= 0x20 && key <= 0x7e) {
    // Qt names letters in upper case; the keysym of the key itself is lower case.
    return static_cast<unsigned long>(key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key);
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
    return static_cast<unsigned long>(XK_F1 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Return:
      return XK_Return;
    case Qt::Key_Enter:
      return XK_KP_Enter;
    case Qt::Key_Tab:
      return XK_Tab;
    case Qt::Key_Backspace:
      return XK_BackSpace;
    case Qt::Key_Delete:
      return XK_Delete;
    case Qt::Key_Escape:
      return XK_Escape;
    case Qt::Key_Left:
      return XK_Left;
    case Qt::Key_Right:
      return XK_Right;
    case Qt::Key_Up:
      return XK_Up;
    case Qt::Key_Down:
      return XK_Down;
    case Qt::Key_Home:
      return XK_Home;
    case Qt::Key_End:
      return XK_End;
    case Qt::Key_PageUp:
      return XK_Page_Up;
    case Qt::Key_PageDown:
      return XK_Page_Down;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<KeyChord> chordForKeyEvent(const QKeyEvent& event) {
  std::optional<unsigned long> keysym;
  if (event.nativeVirtualKey() != 0) keysym = event.nativeVirtualKey();
  if (!keysym) keysym = keysymForQtKey(event.key());
  if (!keysym) return std::nullopt;
  // With Shift held, X reports the shifted symbol ("N"); the table takes either case.
  auto code = platform::keys::keyCodeForKeysym(*keysym);
  if (!code) return std::nullopt;

  unsigned state = 0;
  const auto mods = event.modifiers();
  if (mods & Qt::ShiftModifier) state |= ShiftMask;
  if (mods & Qt::ControlModifier) state |= ControlMask;
  if (mods & Qt::AltModifier) state |= Mod1Mask;
  return KeyChord{*code, platform::keys::flagsForModifierState(state)};
}

}  // namespace toolkit::qt
