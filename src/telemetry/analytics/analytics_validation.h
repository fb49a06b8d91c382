#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/analytics/analytics_logs.h"
#include "telemetry/analytics/event_properties.h"
#include "telemetry/channel/channel_protocols.h"

namespace tlm {

// The limits analytics logs are held to before they reach the SDK's own
// endpoint. Over-long texts are cut (with a warning), never refused; only a
// missing name drops a log. Lengths count UTF-16 code units and a cut never
// splits a surrogate pair (the text stays valid UTF-8). Messages carry the
// analytics tag.
class TLMAnalyticsValidation {
 public:
  static constexpr std::size_t kMaxNameLength = 256;
  static constexpr std::size_t kMaxTypedProperties = 20;
  static constexpr std::size_t kMaxPropertyKeyLength = 125;
  static constexpr std::size_t kMaxStringValueLength = 125;

  TLMAnalyticsValidation() = delete;

  // The channel filter: true drops the log. Only event and page logs are
  // checked; they are dropped when `validateLog` refuses them.
  static bool shouldFilterLog(const TLMLogPtr& log);

  // Checks and cuts the name, then cuts the string properties; false for a
  // missing or empty name.
  static bool validateLog(TLMLogWithNameAndProperties& log);

  // None (logged at ERROR) for a missing or empty name; a name over 256
  // units is cut (logged at WARNING).
  static std::optional<std::string> validateEventName(const std::optional<std::string>& name,
                                                      std::string_view logType);

  // The string properties of an event or page log, held to the shared limits.
  static std::map<std::string, std::string> validateProperties(
      const std::map<std::string, std::string>& properties, std::string_view logName,
      std::string_view type);

  // A new map of at most 20 properties, in the given order, keys and string
  // values cut to 125 units; two keys equal after the cut keep the later
  // value. `properties` is not changed.
  static TLMEventProperties validateDarAvevedEventProperties(const TLMEventProperties& properties);
  // The property with its name and (string) value cut.
  static TLMEventProperty validateDarAvevedTypedProperty(const TLMEventProperty& property);
  static std::string validateDarAvevedPropertyName(const std::string& key);
  static std::string validateDarAvevedStringTypedPropertyValue(const std::string& value);
};

}  // namespace tlm
