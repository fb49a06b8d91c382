#pragma once

#include <string>
#include <string_view>

namespace base {

// A random (version 4) UUID in canonical upper-case text, e.g.
// "1B4E28BA-2FA1-11D2-883F-0016D3CCA427" (36 characters).
std::string makeUuidString();

// True for canonical UUID text: 8-4-4-4-12 hex digits (either case).
bool isUuidString(std::string_view text);

}  // namespace base
