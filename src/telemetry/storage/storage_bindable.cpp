#include "telemetry/storage/storage_bindable.h"

#include "telemetry/core/logger.h"

namespace tlm {

int TLMStorageTextType::bindWithStatement(sqlite3_stmt* statement, int index) const {
  if (!value) return sqlite3_bind_null(statement, index);
  // The explicit length keeps a text with an embedded NUL whole.
  return sqlite3_bind_text64(statement, index, value->data(), value->size(), SQLITE_TRANSIENT,
                             SQLITE_UTF8);
}

int TLMStorageNumberType::bindWithStatement(sqlite3_stmt* statement, int index) const {
  return sqlite3_bind_int64(statement, index, value.value_or(0));
}

void TLMStorageBindableArray::addString(std::optional<std::string> value) {
  array.emplace_back(TLMStorageTextType(std::move(value)));
}

void TLMStorageBindableArray::addNumber(std::optional<std::int64_t> value) {
  array.emplace_back(TLMStorageNumberType(value));
}

int TLMStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* statement,
                                                        sqlite3* database) const {
  for (std::size_t i = 0; i < array.size(); ++i) {
    const int index = static_cast<int>(i) + 1;
    const int result = std::visit(
        [&](const auto& bindable) { return bindable.bindWithStatement(statement, index); },
        array[i]);
    if (result != SQLITE_OK) {
      TLM_LOG_ERROR(kTLMLogTag, "Binding query parameter ", index, " failed with error: ", result,
                    ". Message: ", sqlite3_errmsg(database));
      return result;
    }
  }
  return SQLITE_OK;
}

}  // namespace tlm
