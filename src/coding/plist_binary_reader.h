#pragma once

// The binary property-list reader: "bplist00" bytes straight to a Value tree,
// with the limits and rules decodePropertyList documents (see plist.h).
// Internal to the property-list backend.

#include <cstdint>
#include <span>

#include "base/result.h"
#include "coding/value.h"

namespace coding::detail {

// `data` starts with "bplist00". Objects referred to from several places
// are copied into each; the tree may hold at most maxPlistNodesFor(its size)
// values and keys, nested at most kMaxDepth containers deep.
base::Result<Value> readBinaryPropertyList(std::span<const std::uint8_t> data);

}  // namespace coding::detail
