#pragma once

// Small logs for the ingestion tests: a plain log of type "test", and a
// common-schema-like log with its own JSON members and ticket keys.

#include <memory>
#include <string>
#include <vector>

#include "support/telemetry_devices.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/model/log_container.h"
#include "telemetry/model/ticket_keys_provider.h"

namespace tlmtest {

using tlm::testing::validDevice;

class TestLog : public tlm::TLMAbstractLog {
 public:
  explicit TestLog(std::string session = "S") {
    type = "test";
    timestamp = tlm::Date(std::chrono::milliseconds(1714557600500));
    device = validDevice();
    sid = std::move(session);
  }
  std::string_view className() const override { return "TestLog"; }
};

class TicketLog : public tlm::TLMAbstractLog, public tlm::TLMTicketKeysProvider {
 public:
  TicketLog(std::string name, std::vector<std::string> tokens, std::vector<std::string> keys = {})
      : name_(std::move(name)), keys_(std::move(keys)) {
    for (const auto& token : tokens)
      addTransmissionTargetToken(token);
  }
  nlohmann::ordered_json serializeToDictionary() const override {
    return {{"ver", "3.0"}, {"name", name_}, {"iKey", "o:k/x"}};
  }
  bool isValid() const override { return true; }
  std::vector<std::string> ticketKeys() const override { return keys_; }
  std::string_view className() const override { return "TicketLog"; }

 private:
  std::string name_;
  std::vector<std::string> keys_;
};

inline tlm::TLMLogContainer container(std::string batchId,
                                      std::vector<std::shared_ptr<tlm::TLMAbstractLog>> logs) {
  return tlm::TLMLogContainer(std::move(batchId), std::move(logs));
}

}  // namespace tlmtest
