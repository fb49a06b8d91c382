#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "telemetry/core/archive.h"

namespace tlm {

// A record of the common-schema form: the extension container, its
// extensions and the data record.
class TLMCSModel : public TLMArchivable {
 public:
  // The record's JSON object; none when it has nothing to write.
  virtual std::optional<nlohmann::ordered_json> serializeToDictionary() const = 0;
  // Logs the first failing member at VERBOSE and answers false.
  virtual bool isValid() const { return true; }
  // True for a record of the same class with equal members.
  virtual bool isEqual(const TLMCSModel& other) const = 0;
};

inline bool operator==(const TLMCSModel& a, const TLMCSModel& b) {
  return a.isEqual(b);
}

struct TLMCSFieldTable;

// A record whose JSON, validity, equality and archive form come from one
// table of its members (key, kind, which forms the member takes part in).
class TLMCSRecord : public TLMCSModel {
 public:
  // The set members in table order; none when no member is set.
  std::optional<nlohmann::ordered_json> serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const TLMCSModel& other) const override;
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;

 protected:
  virtual const TLMCSFieldTable& fieldTable() const = 0;
};

}  // namespace tlm
