#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/model/abstract_log.h"
#include "telemetry/schema/common_schema_log.h"

namespace tlm {

// Implemented by log classes whose common-schema form adds to the base
// conversion (the event log adds its name and data). An implementation
// usually starts from `tlm::toCommonSchemaLogForTargetToken(*this, token,
// flags)` and completes the result.
class TLMLogConversion {
 public:
  virtual ~TLMLogConversion() = default;
  virtual std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(
      const std::string& token, std::uint64_t flags) = 0;
};

// The base conversion of `log` for one target token: version "3.0", the
// log's time, the token's iKey, the flags, and the extensions filled from the
// log's user id and device. None when the log has no device.
std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(const TLMAbstractLog& log,
                                                                    const std::string& token,
                                                                    std::uint64_t flags);

// One common-schema log per target token of `log` (in token order), made by
// the log's own conversion when it implements TLMLogConversion and by the
// base conversion otherwise. Empty for a log without tokens.
std::vector<std::shared_ptr<TLMCommonSchemaLog>> toCommonSchemaLogsWithFlags(TLMAbstractLog& log,
                                                                             std::uint64_t flags);

// "Version V (Build B)"; "Version V" without a build, "(Build B)" without a
// version; none when both are empty.
std::optional<std::string> combineOsVersion(const std::optional<std::string>& version,
                                            const std::optional<std::string>& build);

// "name-version" when both are non-empty; none otherwise.
std::optional<std::string> combineSDKLibVer(const std::optional<std::string>& name,
                                            const std::optional<std::string>& version);

// Minutes east of UTC as "+HH:MM" / "-HH:MM" (0 gives "+00:00").
std::string convertTimeZoneOffsetToISO8601(std::int64_t minutes);

}  // namespace tlm
