#include "telemetry/model/field_table.h"

#include <algorithm>

#include "base/base64.h"
#include "telemetry/model/model_util.h"

namespace tlm::fields {

void addToJson(const TLMArchivable& record, const Table& fields, nlohmann::ordered_json& out) {
  for (const auto& f : fields) {
    if (f.traits & inJson) f.toJson(record, f.key, out);
  }
}

nlohmann::ordered_json toJson(const TLMArchivable& record, const Table& fields) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  addToJson(record, fields, out);
  return out;
}

bool areValid(const TLMArchivable& record, const Table& fields, std::string_view className) {
  std::vector<const Field*> order;
  order.reserve(fields.size());
  for (const auto& f : fields)
    order.push_back(&f);
  std::stable_sort(order.begin(), order.end(),
                   [](const Field* a, const Field* b) { return a->checkRank < b->checkRank; });
  for (const Field* f : order) {
    const bool missing = (f->traits & required) && !f->isSet(record);
    if (missing || !f->isValid(record)) {
      model_detail::logInvalidField(className, f->property);
      return false;
    }
  }
  return true;
}

bool areEqual(const TLMArchivable& a, const TLMArchivable& b, const Table& fields) {
  return std::all_of(fields.begin(), fields.end(),
                     [&](const Field& f) { return !(f.traits & compared) || f.equal(a, b); });
}

void encode(const TLMArchivable& record, const Table& fields, TLMKeyedArchiver& coder) {
  for (const auto& f : fields) {
    if (f.traits & coded) f.encode(record, f.key, coder);
  }
}

void decode(TLMArchivable& record, const Table& fields, const TLMKeyedUnarchiver& coder) {
  for (const auto& f : fields) {
    if (f.traits & coded) f.decode(record, f.key, coder);
  }
}

void Data::toJson(const T& v, std::string_view key, nlohmann::ordered_json& out) {
  if (v) out[std::string(key)] = base::base64Encode(*v);
}

}  // namespace tlm::fields
