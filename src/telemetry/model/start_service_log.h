#pragma once

#include <optional>
#include <string>
#include <vector>

#include "telemetry/model/abstract_log.h"

namespace tlm {

// Reports which services the application started. Never gets a session id.
class TLMStartServiceLog : public TLMAbstractLog, public TLMNoAutoAssignSessionIdLog {
 public:
  static constexpr std::string_view kType = "startService";

  TLMStartServiceLog() { type = std::string(kType); }

  std::optional<std::vector<std::string>> services;

  nlohmann::ordered_json serializeToDictionary() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMStartServiceLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

}  // namespace tlm
