#pragma once

// The binary property-list writer: one pass over the value tree, straight to
// bytes ("bplist00"), writing equal strings once. Same rules as
// encodePropertyList (see plist.h).

#include "base/bytes.h"
#include "base/result.h"
#include "coding/plist.h"
#include "coding/value.h"

namespace coding::detail {

base::Result<base::Bytes> writeBinaryPropertyList(const Value& value);

// The same list with the bytes of data objects of at least `inlineLimit`
// bytes left out of `bytes` and referred to in `value`.
base::Result<PlistPieces> writeBinaryPropertyListPieces(const Value& value,
                                                        std::size_t inlineLimit);

}  // namespace coding::detail
