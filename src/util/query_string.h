#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace wendrix {

// The parameters of a URL query ("name=Work+Setup&x=1"): pieces split at
// every "&", each split at "="; a piece without exactly one "=" is skipped.
// Keys are taken as written; values have "+" read as a space and are then
// percent-decoded, a malformed escape (or one that decodes to text that is
// not UTF-8) giving "". A later piece with the same key wins.
std::map<std::string, std::string> parseQueryString(std::string_view query);

// `text` with every "%XX" escape decoded; none when an escape is malformed
// or the result is not valid UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace wendrix
