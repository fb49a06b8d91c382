#include "telemetry/schema/string_formatting.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>
#include <nlohmann/json.hpp>

#include "platform/crypto/aes.h"
#include "telemetry/core/json_text.h"
#include "telemetry/core/logger.h"
#include "telemetry/schema/cs_fields.h"

namespace tlm {
namespace {

constexpr std::string_view kPartSeparator = ";";
constexpr std::string_view kAppSecretMarker = "appsecret=";
constexpr std::string_view kTargetMarker = "target=";
constexpr std::string_view kPlatformMarker = "macos=";
constexpr std::string_view kTargetKeySeparator = "-";
constexpr std::string_view kIKeyPrefix = "o:";

// Splits like the platform does: n separators give n + 1 parts, empty ones
// included.
std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + separator.size());
  }
}

std::string removingAll(std::string_view text, std::string_view marker) {
  std::string out;
  for (;;) {
    const auto at = text.find(marker);
    out += text.substr(0, at);
    if (at == std::string_view::npos) return out;
    text.remove_prefix(at + marker.size());
  }
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

std::string TLMUtility_StringFormatting::sha256(std::string_view text) {
  const auto digest = platform::sha256(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0f];
  }
  return out;
}

std::optional<std::string> TLMUtility_StringFormatting::appSecretFrom(
    std::string_view secretString) {
  const bool platformMarked = contains(secretString, kPlatformMarker);
  for (std::string_view part : split(secretString, kPartSeparator)) {
    if (part.empty() || contains(part, kTargetMarker)) continue;
    std::string secret;
    if (!platformMarked) {
      secret = removingAll(part, kAppSecretMarker);
    } else if (contains(part, kPlatformMarker)) {
      secret = removingAll(part, kPlatformMarker);
    }
    if (!secret.empty()) return secret;
  }
  return std::nullopt;
}

std::optional<std::string> TLMUtility_StringFormatting::transmissionTargetTokenFrom(
    std::string_view secretString) {
  for (std::string_view part : split(secretString, kPartSeparator)) {
    if (!contains(part, kTargetMarker)) continue;
    std::string token = removingAll(part, kTargetMarker);
    if (!token.empty()) return token;
  }
  return std::nullopt;
}

std::optional<std::string> TLMUtility_StringFormatting::targetKeyFromTargetToken(
    std::string_view token) {
  const std::string_view key = split(token, kTargetKeySeparator).front();
  if (key.empty()) return std::nullopt;
  return std::string(key);
}

std::optional<std::string> TLMUtility_StringFormatting::iKeyFromTargetToken(
    std::string_view token) {
  auto key = targetKeyFromTargetToken(token);
  if (!key) return std::nullopt;
  return std::string(kIKeyPrefix) + *key;
}

std::optional<std::string> TLMUtility_StringFormatting::prettyPrintJson(
    const std::optional<std::string>& json) {
  if (!json) return std::nullopt;
  // Response bodies come from the network: one nested too deep to write back
  // safely is logged as it came.
  auto value = cs_detail::parseJsonWithinDepth(*json);
  if (!value || (!value->is_object() && !value->is_array())) return *json;
  return jsonText(*value, true).value_or(*json);
}

std::optional<std::string> TLMUtility_StringFormatting::obfuscateString(
    const std::optional<std::string>& text, std::string_view pattern,
    std::string_view replacementTemplate) {
  if (!text) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), pattern.size())),
      UREGEX_CASE_INSENSITIVE, parseError, status));
  if (U_FAILURE(status) || !compiled) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't create regular expression with pattern\"", pattern,
                  "\": ", u_errorName(status));
    return std::nullopt;
  }
  const auto input = icu::UnicodeString::fromUTF8(*text);
  std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(input, status));
  icu::UnicodeString replaced;
  if (U_SUCCESS(status) && matcher) {
    replaced = matcher->replaceAll(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                       replacementTemplate.data(), replacementTemplate.size())),
                                   status);
  }
  if (U_FAILURE(status) || !matcher) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't replace matches of pattern\"", pattern,
                  "\" with template \"", replacementTemplate, "\": ", u_errorName(status));
    return std::nullopt;
  }
  std::string out;
  replaced.toUTF8String(out);
  return out;
}

}  // namespace tlm
