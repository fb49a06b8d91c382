#pragma once

// Nesting checks run before property-list data reaches libplist, whose binary
// reader and tree release recurse once per level and so overflow the stack on
// deeply nested input. Internal to the property-list backend.

#include <cstdint>
#include <span>

namespace coding::detail {

// True when the binary property list `data` ("bplist00...") is well formed
// enough to walk and nests containers at most `maxDepth` deep. Objects shared
// between containers are measured once; a reference cycle fails.
bool binaryPlistDepthWithin(std::span<const std::uint8_t> data, int maxDepth);

// True when the XML text nests elements at most `maxDepth` deep. Comments,
// CDATA sections, declarations and processing instructions are skipped.
bool xmlDepthWithin(std::span<const std::uint8_t> data, int maxDepth);

}  // namespace coding::detail
