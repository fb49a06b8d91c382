#include "telemetry/schema/cs_fields.h"

#include <typeinfo>

#include "telemetry/core/json_text.h"

namespace tlm {
namespace cs_detail {

namespace {
constexpr int kMaxJsonDepth = 64;
}  // namespace

bool sameContent(const std::optional<nlohmann::ordered_json>& a,
                 const std::optional<nlohmann::ordered_json>& b) {
  if (!a || !b) return !a && !b;
  // The sorted JSON type compares objects member by member whatever their order.
  return nlohmann::json(*a) == nlohmann::json(*b);
}

void encodeJsonObject(TLMKeyedArchiver& coder, std::string_view key,
                      const std::optional<nlohmann::ordered_json>& value) {
  if (value) coder.encodeString(key, jsonText(*value, false));
}

std::optional<nlohmann::ordered_json> parseJsonWithinDepth(std::string_view text) {
  // The parser keeps its own stack; writing or comparing the value later
  // recurses, so values nested deeper than any record of ours are refused.
  bool tooDeep = false;
  auto value = nlohmann::ordered_json::parse(
      text,
      [&tooDeep](int depth, nlohmann::ordered_json::parse_event_t, nlohmann::ordered_json&) {
        if (depth > kMaxJsonDepth) tooDeep = true;
        return true;
      },
      false);
  if (tooDeep || value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<nlohmann::ordered_json> decodeJsonObject(const TLMKeyedUnarchiver& coder,
                                                       std::string_view key) {
  auto text = coder.decodeString(key);
  if (!text) return std::nullopt;
  auto value = parseJsonWithinDepth(*text);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

}  // namespace cs_detail

std::optional<nlohmann::ordered_json> TLMCSRecord::serializeToDictionary() const {
  auto dict = fields::toJson(*this, fieldTable().fields);
  if (dict.empty()) return std::nullopt;
  return dict;
}

bool TLMCSRecord::isValid() const {
  return fields::areValid(*this, fieldTable().fields, className());
}

bool TLMCSRecord::isEqual(const TLMCSModel& other) const {
  return typeid(other) == typeid(*this) && fields::areEqual(*this, other, fieldTable().fields);
}

void TLMCSRecord::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, fieldTable().fields, coder);
}

void TLMCSRecord::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, fieldTable().fields, coder);
}

}  // namespace tlm
