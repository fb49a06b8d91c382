#pragma once

// The symbol a look-up of the ELF readers reports through its callback
// (addresses are 64-bit target addresses).

#include <cstdint>
#include <string>

namespace tlcrash {

struct FoundSymbol {
  std::uint64_t address = 0;
  std::string name;
};

// The look-up callback; `context` is the FoundSymbol to fill.
inline void rememberSymbol(std::uint64_t address, const char* name, void* context) {
  auto* found = static_cast<FoundSymbol*>(context);
  found->address = address;
  found->name = name;
}

}  // namespace tlcrash
