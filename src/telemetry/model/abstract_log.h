#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "telemetry/core/archive.h"
#include "telemetry/core/date_text.h"
#include "telemetry/model/device.h"

namespace tlm {

// Base of every telemetry log: the fields all logs share, their JSON form,
// validity, equality and archive form. Subclasses set `type`.
class TLMAbstractLog : public TLMArchivable {
 public:
  TLMAbstractLog() = default;
  TLMAbstractLog(const TLMAbstractLog&) = delete;
  TLMAbstractLog& operator=(const TLMAbstractLog&) = delete;

  std::optional<std::string> type;
  std::optional<Date> timestamp;
  std::optional<std::string> sid;
  std::optional<std::string> distributionGroupId;
  std::optional<std::string> userId;
  std::shared_ptr<TLMDevice> device;
  // Set by whoever routes the log; compared by identity, never serialized
  // or archived.
  std::shared_ptr<void> tag;

  // Target tokens; guarded by the log's own lock, not archived, not compared.
  std::set<std::string> transmissionTargetTokens() const;
  void setTransmissionTargetTokens(std::set<std::string> tokens);
  void addTransmissionTargetToken(const std::string& token);

  // The JSON object of the log: members only for set fields; subclasses add
  // theirs after the base members.
  virtual nlohmann::ordered_json serializeToDictionary() const;
  // Logs the first failing rule at VERBOSE and answers false.
  virtual bool isValid() const;
  virtual bool isEqual(const TLMAbstractLog& other) const;

  // JSON text of this log (compact or pretty); none when it cannot be written.
  std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;

  std::string_view className() const override { return "TLMAbstractLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;

 private:
  mutable std::mutex tokensMutex_;
  std::set<std::string> tokens_;
};

inline bool operator==(const TLMAbstractLog& a, const TLMAbstractLog& b) {
  return a.isEqual(b);
}

// A log with string properties.
class TLMLogWithProperties : public TLMAbstractLog {
 public:
  std::optional<std::map<std::string, std::string>> properties;

  // Adds "properties" only when there is at least one.
  nlohmann::ordered_json serializeToDictionary() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMLogWithProperties"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// Marks log classes that never get a session id assigned.
class TLMNoAutoAssignSessionIdLog {
 public:
  virtual ~TLMNoAutoAssignSessionIdLog() = default;
};

// Makes every class of the log model decodable from archives. Runs when this
// library is linked in; callable again (harmless).
void registerLogModelArchiveClasses();

}  // namespace tlm
