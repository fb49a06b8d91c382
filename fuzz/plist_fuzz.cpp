// Property lists as the user-defaults store and the stored layout and
// settings blobs read them: any bytes, binary or XML. A tree that decodes is
// written back in both formats and read again.

#include <cstddef>
#include <cstdint>
#include <span>

#include "coding/plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto tree = coding::decodePropertyList(std::span<const std::uint8_t>(data, size));
  if (!tree) return 0;
  for (auto format : {coding::PlistFormat::binary, coding::PlistFormat::xml}) {
    auto bytes = coding::encodePropertyList(*tree, format);
    if (bytes) (void)coding::decodePropertyList(std::span<const std::uint8_t>(*bytes));
  }
  return 0;
}
