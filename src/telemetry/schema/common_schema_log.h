#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "telemetry/model/abstract_log.h"
#include "telemetry/model/ticket_keys_provider.h"
#include "telemetry/schema/cs_extensions.h"

namespace tlm {

// A log in the common-schema form, addressed by one transmission target
// token. Its JSON members come in a fixed order: "ver", "name", "time",
// "iKey", "flags" (when not 0), "ext" (whenever set, {} when empty), "data";
// none of the base log's members is written. The ticket keys of its protocol
// extension travel with the request.
class TLMCommonSchemaLog : public TLMAbstractLog, public TLMTicketKeysProvider {
 public:
  std::optional<std::string> ver;
  std::optional<std::string> name;
  // Kept and archived, never written to JSON.
  double popSample = 0;
  std::optional<std::string> iKey;
  std::int64_t flags = 0;
  // Kept and archived, never written to JSON.
  std::optional<std::string> cV;
  std::shared_ptr<TLMCSExtensions> ext;
  std::shared_ptr<TLMCSData> data;

  nlohmann::ordered_json serializeToDictionary() const override;
  // timestamp, ver and name must be set; the base rules (type, device) and
  // the extensions are not checked.
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  // The protocol extension's ticket keys; none when it has none.
  std::vector<std::string> ticketKeys() const override;

  std::string_view className() const override { return "TLMCommonSchemaLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// Makes the common-schema log and its records decodable from archives. Runs
// when this library is linked in; callable again (harmless).
void registerCommonSchemaArchiveClasses();

}  // namespace tlm
