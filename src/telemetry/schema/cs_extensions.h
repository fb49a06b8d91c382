#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "telemetry/schema/cs_record.h"

namespace tlm {

// Each extension writes only its set members and is left out of "ext" when
// none is set.

class TLMProtocolExtension : public TLMCSRecord {
 public:
  std::optional<std::vector<std::string>> ticketKeys;
  std::optional<std::string> devMake;
  std::optional<std::string> devModel;

  std::string_view className() const override { return "TLMProtocolExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMUserExtension : public TLMCSRecord {
 public:
  std::optional<std::string> localId;
  std::optional<std::string> locale;

  std::string_view className() const override { return "TLMUserExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMDeviceExtension : public TLMCSRecord {
 public:
  std::optional<std::string> localId;

  std::string_view className() const override { return "TLMDeviceExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMOSExtension : public TLMCSRecord {
 public:
  std::optional<std::string> name;
  std::optional<std::string> ver;

  std::string_view className() const override { return "TLMOSExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMAppExtension : public TLMCSRecord {
 public:
  // Written (and archived) as "id".
  std::optional<std::string> appId;
  std::optional<std::string> ver;
  std::optional<std::string> name;
  std::optional<std::string> locale;
  std::optional<std::string> userId;

  std::string_view className() const override { return "TLMAppExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMNetExtension : public TLMCSRecord {
 public:
  std::optional<std::string> provider;

  std::string_view className() const override { return "TLMNetExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMSDKExtension : public TLMCSRecord {
 public:
  std::optional<std::string> libVer;
  std::optional<std::string> epoch;
  // Not written when 0.
  std::int64_t seq = 0;
  // UUID text; written in canonical upper case.
  std::optional<std::string> installId;

  std::string_view className() const override { return "TLMSDKExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

class TLMLocExtension : public TLMCSRecord {
 public:
  std::optional<std::string> tz;

  std::string_view className() const override { return "TLMLocExtension"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

// Type metadata of the data record's members; set and read under a lock.
class TLMMetadataExtension : public TLMCSModel {
 public:
  std::optional<nlohmann::ordered_json> metadata() const;
  // A value that is not a JSON object clears the metadata.
  void setMetadata(std::optional<nlohmann::ordered_json> metadata);

  // A copy of the metadata; none when it is not set.
  std::optional<nlohmann::ordered_json> serializeToDictionary() const override;
  bool isEqual(const TLMCSModel& other) const override;

  std::string_view className() const override { return "TLMMetadataExtension"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;

 private:
  mutable std::mutex mutex_;
  std::optional<nlohmann::ordered_json> metadata_;
};

// The extensions of a common-schema log, each optional. Valid when every set
// extension is valid; the first that is not is reported by its property name
// ("metadataExt", "protocolExt", ...).
class TLMCSExtensions : public TLMCSRecord {
 public:
  std::shared_ptr<TLMMetadataExtension> metadataExt;
  std::shared_ptr<TLMProtocolExtension> protocolExt;
  std::shared_ptr<TLMUserExtension> userExt;
  std::shared_ptr<TLMDeviceExtension> deviceExt;
  std::shared_ptr<TLMOSExtension> osExt;
  std::shared_ptr<TLMAppExtension> appExt;
  std::shared_ptr<TLMNetExtension> netExt;
  std::shared_ptr<TLMSDKExtension> sdkExt;
  std::shared_ptr<TLMLocExtension> locExt;

  // Always an object: each extension that has something to write under its
  // short key ("metadata", "protocol", "user", "device", "os", "app", "net",
  // "sdk", "loc"); {} when none has.
  std::optional<nlohmann::ordered_json> serializeToDictionary() const override;
  std::string_view className() const override { return "TLMCSExtensions"; }

 protected:
  const TLMCSFieldTable& fieldTable() const override;
};

// The data record: the event's properties, "baseType" and "baseData" first.
// Set and read under a lock.
class TLMCSData : public TLMCSModel {
 public:
  std::optional<nlohmann::ordered_json> properties() const;
  // A value that is not a JSON object clears the properties.
  void setProperties(std::optional<nlohmann::ordered_json> properties);

  // None when there are no properties; otherwise "baseType" and "baseData"
  // (when present) first, then the other members in their order.
  std::optional<nlohmann::ordered_json> serializeToDictionary() const override;
  bool isEqual(const TLMCSModel& other) const override;

  std::string_view className() const override { return "TLMCSData"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;

 private:
  mutable std::mutex mutex_;
  std::optional<nlohmann::ordered_json> properties_;
};

// The epoch of an iKey and its last sequence number.
struct TLMCSEpochAndSeq {
  explicit TLMCSEpochAndSeq(std::string value) : epoch(std::move(value)) {}

  std::string epoch;
  std::uint64_t seq = 0;
};

}  // namespace tlm
