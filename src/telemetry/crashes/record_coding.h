#pragma once

// JSON, archive and equality of nested records and record arrays, shared by
// the error records and the error logs. Internal to this library.

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "telemetry/core/archive.h"

namespace tlm::crashes_detail {

// Both absent, or both set and equal.
template <class T>
bool sameRecord(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
  if (!a || !b) return !a && !b;
  return a->isEqual(*b);
}

template <class T>
bool sameRecords(const std::optional<std::vector<std::shared_ptr<T>>>& a,
                 const std::optional<std::vector<std::shared_ptr<T>>>& b) {
  if (!a || !b) return !a && !b;
  if (a->size() != b->size()) return false;
  for (std::size_t i = 0; i < a->size(); ++i) {
    if (!sameRecord((*a)[i], (*b)[i])) return false;
  }
  return true;
}

template <class T>
void putRecord(nlohmann::ordered_json& dict, const char* key, const std::shared_ptr<T>& record) {
  if (record) dict[key] = record->serializeToDictionary();
}

// An array of the records' objects, in order.
template <class T>
void putRecords(nlohmann::ordered_json& dict, const char* key,
                const std::optional<std::vector<std::shared_ptr<T>>>& records) {
  if (!records) return;
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const auto& record : *records) {
    if (record) array.push_back(record->serializeToDictionary());
  }
  dict[key] = std::move(array);
}

template <class T>
void encodeRecords(TLMKeyedArchiver& coder, std::string_view key,
                   const std::optional<std::vector<std::shared_ptr<T>>>& records) {
  if (!records) return;
  coder.encodeObjectArray(
      key, std::vector<std::shared_ptr<const TLMArchivable>>(records->begin(), records->end()));
}

}  // namespace tlm::crashes_detail
