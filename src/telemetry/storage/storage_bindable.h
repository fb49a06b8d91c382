#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <sqlite3.h>

namespace tlm {

// A text bound to a statement parameter; none binds NULL.
class TLMStorageTextType {
 public:
  explicit TLMStorageTextType(std::optional<std::string> text) : value(std::move(text)) {}
  // The SQLite result code of the binding (0 on success).
  int bindWithStatement(sqlite3_stmt* statement, int index) const;

  std::optional<std::string> value;
};

// A signed 64-bit number bound to a statement parameter; none binds 0.
class TLMStorageNumberType {
 public:
  explicit TLMStorageNumberType(std::optional<std::int64_t> number) : value(number) {}
  int bindWithStatement(sqlite3_stmt* statement, int index) const;

  std::optional<std::int64_t> value;
};

using TLMStorageBindableType = std::variant<TLMStorageTextType, TLMStorageNumberType>;

// The values of a statement's question-mark parameters, in order.
class TLMStorageBindableArray {
 public:
  TLMStorageBindableArray() = default;

  void addString(std::optional<std::string> value);
  void addNumber(std::optional<std::int64_t> value);
  bool empty() const { return array.empty(); }
  std::size_t size() const { return array.size(); }

  // Binds element i to parameter i + 1 and stops at the first failure, which
  // is logged with the database's message. Answers the SQLite code (0 when
  // everything was bound, also for an empty array).
  int bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const;

  std::vector<TLMStorageBindableType> array;
};

}  // namespace tlm
