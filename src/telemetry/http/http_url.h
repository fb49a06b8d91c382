#pragma once

#include <optional>
#include <string>

namespace tlm {

// URL helpers of the ingestions.

// `text` parsed as an absolute URL with a scheme and a host, in normal form;
// nothing when it is not one.
std::optional<std::string> TLMParseURL(const std::string& text);

// `target` with the scheme, user, password, host, port and path of `source`;
// the query and fragment of `target` stay. Nothing when either does not parse.
std::optional<std::string> TLMReplaceURLComponents(const std::string& target,
                                                   const std::string& source);

// Percent-encodes every byte outside the characters allowed in a URL query
// (letters, digits and -._~!$&'()*+,;=:@/?).
std::string TLMPercentEncodeQuery(const std::string& text);

}  // namespace tlm
