#include "platform/keyboard/linux/key_table.h"

#include <X11/X.h>
#include <X11/keysym.h>

#include <gtest/gtest.h>

namespace platform::keys {
namespace {

TEST(KeyTable, MapsStoredKeyCodesToKeysymsAndBack) {
  struct Row {
    std::uint16_t keyCode;
    unsigned long keysym;
  } rows[] = {{0, XK_a},      {45, XK_n},      {22, XK_6},   {23, XK_5},   {36, XK_Return},
              {49, XK_space}, {53, XK_Escape}, {126, XK_Up}, {111, XK_F12}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keyCode);
    EXPECT_EQ(keysymForKeyCode(row.keyCode), row.keysym);
    EXPECT_EQ(keyCodeForKeysym(row.keysym), row.keyCode);
  }
  EXPECT_EQ(keyCodeForKeysym(XK_N), 45);
  EXPECT_EQ(keysymForKeyCode(10), std::nullopt);  // the ISO section key
  EXPECT_EQ(keyCodeForKeysym(XK_Hyper_L), std::nullopt);
}

TEST(KeyTable, MapsModifierFlags) {
  EXPECT_EQ(modifierStateForFlags(kCommandFlag), unsigned(ControlMask));
  EXPECT_EQ(modifierStateForFlags(kControlFlag), unsigned(ControlMask));
  EXPECT_EQ(modifierStateForFlags(kCommandFlag | kShiftFlag | kOptionFlag | 0x800000),
            unsigned(ControlMask | ShiftMask | Mod1Mask));
  EXPECT_EQ(flagsForModifierState(ControlMask | ShiftMask), kCommandFlag | kShiftFlag);
  EXPECT_EQ(flagsForModifierState(Mod1Mask | LockMask), kOptionFlag);
}

}  // namespace
}  // namespace platform::keys
