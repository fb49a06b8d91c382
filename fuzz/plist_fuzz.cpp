// Property lists as the user-defaults store and the stored layout and
// settings blobs read them: any bytes, binary or XML. A tree that decodes is
// written back in both formats and read again. A view in place opens
// exactly the binary lists that decode.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "coding/plist.h"
#include "coding/plist_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto tree = coding::decodePropertyList(std::span<const std::uint8_t>(data, size));
  const bool binary = size >= 8 && std::memcmp(data, "bplist00", 8) == 0;
  if (coding::PlistView::open({data, size}).has_value() != (binary && tree.ok())) __builtin_trap();
  if (!tree) return 0;
  for (auto format : {coding::PlistFormat::binary, coding::PlistFormat::xml}) {
    auto bytes = coding::encodePropertyList(*tree, format);
    if (bytes) (void)coding::decodePropertyList(std::span<const std::uint8_t>(*bytes));
  }
  return 0;
}
