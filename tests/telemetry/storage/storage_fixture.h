#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "support/telemetry_log_capture.h"
#include "support/temp_dir.h"
#include "telemetry/storage/db_storage.h"

namespace tlm::testing {

using support::TempDir;

// A direct connection to a database file, for looking behind the store.
class RawDatabase {
 public:
  explicit RawDatabase(const std::filesystem::path& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << sqlite3_errmsg(db_);
  }
  ~RawDatabase() { sqlite3_close(db_); }
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << (error ? error : "");
    }
    sqlite3_free(error);
  }
  TLMStorageRows rows(const std::string& sql) {
    int result = SQLITE_OK;
    auto rows = TLMDBStorage::executeSelectionQuery(sql, db_, &result, TLMStorageBindableArray());
    EXPECT_EQ(result, SQLITE_OK) << sql;
    return rows;
  }
  std::optional<std::string> text(const std::string& sql) {
    const auto all = rows(sql);
    if (all.empty()) return std::nullopt;
    const auto* value = std::get_if<std::string>(&all.front().front());
    return value ? std::optional<std::string>(*value) : std::nullopt;
  }
  std::int64_t number(const std::string& sql) {
    const auto all = rows(sql);
    if (all.empty()) return -1;
    const auto* value = std::get_if<std::int64_t>(&all.front().front());
    return value ? *value : -1;
  }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace tlm::testing
