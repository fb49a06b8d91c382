#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tlm {

// String helpers of the SDK: the parts of the secret string, target keys and
// iKeys of target tokens, hashing, and text prepared for log lines.
//
// The secret string holds an application secret, a transmission target token
// or both, as parts separated by ";": a bare secret, "appsecret=<secret>",
// "target=<token>", or platform-marked parts of which only the one marked
// "macos=" is this SDK's secret.
class TLMUtility_StringFormatting {
 public:
  // SHA-256 of the text's UTF-8 bytes as 64 lower-case hexadecimal digits.
  static std::string sha256(std::string_view text);

  // The application secret in the secret string; none when it holds none.
  static std::optional<std::string> appSecretFrom(std::string_view secretString);
  // The first non-empty "target=" part; none when there is none.
  static std::optional<std::string> transmissionTargetTokenFrom(std::string_view secretString);

  // The part of the token before its first "-"; none when that is empty.
  static std::optional<std::string> targetKeyFromTargetToken(std::string_view token);
  // "o:" and the target key; none without a target key.
  static std::optional<std::string> iKeyFromTargetToken(std::string_view token);

  // JSON text re-indented for reading; text that is not a JSON object or
  // array is given back as it is. None for none.
  static std::optional<std::string> prettyPrintJson(const std::optional<std::string>& json);

  // Every case-insensitive match of `pattern` replaced by `replacementTemplate`
  // ("$1" names a captured group, "\" escapes). None for none, and for a
  // pattern or template that cannot be used (logged at ERROR).
  static std::optional<std::string> obfuscateString(const std::optional<std::string>& text,
                                                    std::string_view pattern,
                                                    std::string_view replacementTemplate);
};

}  // namespace tlm
