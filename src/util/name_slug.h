#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/layout.h"

namespace wendrix {

// A name as a lowercase token: the text split at every symbol, unassigned
// code point, combining mark, space or line break, empty pieces dropped, the
// rest joined with "_" and lowercased ("Work  Setup!" gives "work_setup!":
// punctuation stays). Invalid UTF-8 is read with U+FFFD in its place.
std::string nameSlug(std::string_view text);

// True when no layout of `layouts` is named exactly `name` (case-sensitive).
bool isLayoutNameFree(const std::vector<Layout>& layouts, std::string_view name);

}  // namespace wendrix
