#pragma once

// Edits a binary property list whose top object is an array without writing
// it again: the earlier objects stay where they are (elements kept are
// referred to in place), the objects of new elements and a new top array are
// appended, and the offset table is written anew. What the earlier array
// held and no longer does stays in the file, unreferenced, until the caller
// writes the whole list again; readers never reach it. So changing one
// element of a long list costs writing its objects and an offset table, not
// an encoding of every element.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "coding/value.h"

namespace coding {

// One element of the edited array: the element at `previousIndex` of the
// earlier array, or `value` (not null) written anew.
struct PlistArrayElement {
  std::optional<std::size_t> previousIndex;
  const Value* value = nullptr;
};

// The top array's element count of a binary property list; none when it is
// not one whose top object is an array.
std::optional<std::size_t> binaryPlistArrayCount(std::span<const std::uint8_t> plist);

// An edited list: the earlier list's first `unchangedPrefix` bytes, then
// `tail`.
struct EditedPlist {
  base::Bytes tail;
  std::size_t unchangedPrefix = 0;
};

// `previous` (a binary property list whose top object is an array) with its
// top array made of `elements`. Fails when `previous` is not such a list, an
// index is out of range, a new value cannot be written, or the objects would
// outgrow the earlier references' width: the caller then writes the whole
// list.
base::Result<EditedPlist> editBinaryPlistArray(std::span<const std::uint8_t> previous,
                                               std::span<const PlistArrayElement> elements);

}  // namespace coding
