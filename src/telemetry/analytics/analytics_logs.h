#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "telemetry/analytics/event_properties.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/typed_property.h"
#include "telemetry/schema/common_schema_log.h"
#include "telemetry/schema/log_conversion.h"

namespace tlm {

// A log with a name and string properties: the base of event and page logs.
class TLMLogWithNameAndProperties : public TLMLogWithProperties {
 public:
  std::optional<std::string> name;

  // The base members, then "name".
  nlohmann::ordered_json serializeToDictionary() const override;
  // Also needs a name.
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMLogWithNameAndProperties"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// One tracked event: a name, a random id and typed properties. Its
// common-schema form carries the properties as a nested data tree with type
// metadata.
class TLMEventLog : public TLMLogWithNameAndProperties, public TLMLogConversion {
 public:
  static constexpr std::string_view kType = "event";

  TLMEventLog() { type = std::string(kType); }

  std::optional<std::string> eventId;
  // None when the event has no properties.
  std::optional<TLMEventProperties> typedProperties;

  // The common-schema type ids of the typed property kinds that have one:
  // "long" 4, "double" 6, "dateTime" 9.
  static const std::map<std::string, std::int64_t, std::less<>>& metadataTypeIdMapping();

  // The base members, then "id" and "typedProperties" (one {type, name,
  // value} object per property, in the map's order).
  nlohmann::ordered_json serializeToDictionary() const override;
  // Also needs an id.
  bool isValid() const override;
  // Ids and base fields; the typed properties take no part.
  bool isEqual(const TLMAbstractLog& other) const override;

  // The base conversion for the token, named after the event, with the
  // typed properties as data and metadata; tagged like this log. None when
  // the base conversion gives none.
  std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                      std::uint64_t flags) override;
  // Puts the typed properties into `csLog`'s data and metadata extension.
  // Drops "baseType" / "baseData.*" entries that cannot stand from this log's
  // own properties (with a warning).
  void setPropertiesAndMetadataForCSLog(TLMCommonSchemaLog& csLog);

  std::string_view className() const override { return "TLMEventLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// One tracked page view.
class TLMPageLog : public TLMLogWithNameAndProperties {
 public:
  static constexpr std::string_view kType = "page";

  TLMPageLog() { type = std::string(kType); }

  bool isEqual(const TLMAbstractLog& other) const override;
  std::string_view className() const override { return "TLMPageLog"; }
};

// Opens a session; the session tracker gives it its session id.
class TLMStartSessionLog : public TLMAbstractLog, public TLMNoAutoAssignSessionIdLog {
 public:
  static constexpr std::string_view kType = "startSession";

  TLMStartSessionLog() { type = std::string(kType); }

  bool isEqual(const TLMAbstractLog& other) const override;
  std::string_view className() const override { return "TLMStartSessionLog"; }
};

// The typed property object of one event property (with its name).
std::shared_ptr<TLMTypedProperty> makeTypedProperty(const TLMEventProperty& property);
// The event property of a typed property; none for a kind without a value
// or without a name.
std::optional<TLMEventProperty> eventPropertyFrom(const TLMTypedProperty& property);

// Makes the analytics log classes decodable from archives and maps the
// old archived class names ("TL" prefix) to them. Callable again (harmless).
void registerAnalyticsArchiveClasses();

}  // namespace tlm
