// JSON text as the coding layer reads it (export files, the per-application
// settings file). A tree that decodes is written back compact and pretty and
// read again.

#include <cstddef>
#include <cstdint>

#include "coding/json.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto tree = coding::decodeJson(fuzz::asText(data, size));
  if (!tree) return 0;
  for (auto style : {coding::JsonStyle::compact, coding::JsonStyle::pretty}) {
    auto text = coding::encodeJson(*tree, style);
    if (text) (void)coding::decodeJson(*text);
  }
  return 0;
}
