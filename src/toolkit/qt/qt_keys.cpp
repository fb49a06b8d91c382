#include "toolkit/qt/qt_keys.h"

#include <QKeyEvent>

#include "platform/keyboard/linux/key_table.h"

namespace toolkit::qt {
namespace {

// X keysyms and modifier masks (the X headers' macros clash with Qt's names).
constexpr unsigned long kF1 = 0xffbe, kReturn = 0xff0d, kKeypadEnter = 0xff8d, kTab = 0xff09,
                        kBackSpace = 0xff08, kDelete = 0xffff, kEscape = 0xff1b, kLeft = 0xff51,
                        kUp = 0xff52, kRight = 0xff53, kDown = 0xff54, kHome = 0xff50,
                        kEnd = 0xff57, kPageUp = 0xff55, kPageDown = 0xff56;
constexpr unsigned kShiftMask = 1u << 0, kControlMask = 1u << 2, kMod1Mask = 1u << 3;

// The X keysym of a Qt key, for platforms that give no native key (offscreen).
std::optional<unsigned long> keysymForQtKey(int key) {
  if (key >= 0x20 && key <= 0x7e) {
    // Qt names letters in upper case; the keysym of the key itself is lower case.
    return static_cast<unsigned long>(key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key);
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
    return static_cast<unsigned long>(kF1 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Return:
      return kReturn;
    case Qt::Key_Enter:
      return kKeypadEnter;
    case Qt::Key_Tab:
      return kTab;
    case Qt::Key_Backspace:
      return kBackSpace;
    case Qt::Key_Delete:
      return kDelete;
    case Qt::Key_Escape:
      return kEscape;
    case Qt::Key_Left:
      return kLeft;
    case Qt::Key_Right:
      return kRight;
    case Qt::Key_Up:
      return kUp;
    case Qt::Key_Down:
      return kDown;
    case Qt::Key_Home:
      return kHome;
    case Qt::Key_End:
      return kEnd;
    case Qt::Key_PageUp:
      return kPageUp;
    case Qt::Key_PageDown:
      return kPageDown;
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
  if (mods & Qt::ShiftModifier) state |= kShiftMask;
  if (mods & Qt::ControlModifier) state |= kControlMask;
  if (mods & Qt::AltModifier) state |= kMod1Mask;
  return KeyChord{*code, platform::keys::flagsForModifierState(state)};
}

}  // namespace toolkit::qt
