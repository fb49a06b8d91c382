// Saves 10,000 logs through the log store and inserts 10,000 rows of the same
// size with raw prepared SQLite statements into a database of the same shape
// and journal settings, then reports the ratio of the two rates.
//
// The databases live in a fresh folder under $LOGSTORE_BENCH_DIR, else under
// the system's temporary folder. Each insert is its own transaction on both
// sides, so on a disk that honours fsync the figure is dominated by the disk;
// a RAM-backed folder (such as /dev/shm) shows the store's own overhead.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/base64.h"
#include "telemetry/core/archive.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/storage/log_db_storage.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRows = 10000;
constexpr const char* kGroupId = "Analytics";

class NoEncryption final : public tlm::TLMTargetTokenEncrypter {
 public:
  std::optional<std::string> encryptString(std::string_view s) override { return std::string(s); }
  std::optional<std::string> decryptString(std::string_view s) override { return std::string(s); }
};

// A fresh folder, removed afterwards.
class BenchDir {
 public:
  BenchDir() {
    const char* base = getenv("LOGSTORE_BENCH_DIR");
    std::string pattern =
        ((base && *base) ? fs::path(base) : fs::temp_directory_path()) / "logstore-bench-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~BenchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A typical usage log: a few properties, about 700 bytes stored.
std::shared_ptr<tlm::TLMLogWithProperties> sampleLog() {
  auto log = std::make_shared<tlm::TLMLogWithProperties>();
  log->type = "event";
  log->timestamp = tlm::Date{};
  log->sid = "6A1F2D3C-4B5E-4F60-8172-93A4B5C6D7E8";
  log->userId = "user-0001";
  log->properties = std::map<std::string, std::string>{
      {"ErrorDescription", std::string(200, 'd')},
      {"ErrorLocation", "actions.restoreApp_000"},
      {"LayoutName", std::string(120, 'n')},
      {"Source", "restore"},
  };
  return log;
}

std::string sampleText() {
  const auto archive = tlm::archiveKeyedData(sampleLog().get());
  return archive ? base::base64Encode(*archive) : std::string(700, 'x');
}

// Raw side: the store's table, index and settings (default journal and
// synchronous mode, full auto-vacuum) with one prepared insert statement.
class RawInserter {
 public:
  RawInserter(const fs::path& file, std::string text) : text_(std::move(text)) {
    ok_ = sqlite3_open(file.c_str(), &db_) == SQLITE_OK &&
          sqlite3_exec(db_,
                       "PRAGMA auto_vacuum = FULL;"
                       "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "\"groupId\" TEXT NOT NULL, \"log\" TEXT NOT NULL, \"targetToken\" TEXT, "
                       "\"targetKey\" TEXT, \"priority\" INTEGER);"
                       "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\");",
                       nullptr, nullptr, nullptr) == SQLITE_OK &&
          sqlite3_prepare_v2(db_,
                             "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") "
                             "VALUES (?, ?, ?)",
                             -1, &insert_, nullptr) == SQLITE_OK;
  }
  ~RawInserter() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  RawInserter(const RawInserter&) = delete;
  RawInserter& operator=(const RawInserter&) = delete;

  bool ok() const { return ok_; }
  bool insert() {
    sqlite3_bind_text(insert_, 1, kGroupId, -1, SQLITE_STATIC);
    sqlite3_bind_text(insert_, 2, text_.data(), static_cast<int>(text_.size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert_, 3, 1);
    const bool done = sqlite3_step(insert_) == SQLITE_DONE;
    sqlite3_reset(insert_);
    return done;
  }

 private:
  std::string text_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  bool ok_ = false;
};

using Clock = std::chrono::steady_clock;

// Both sides run in alternating rounds of 1,000 rows, so that a disk whose
// sync latency drifts during the run weighs on both alike.
void BM_LogStoreVersusRawSQLite(benchmark::State& state) {
  tlm::registerLogModelArchiveClasses();
  const auto log = sampleLog();
  constexpr int kRounds = 10;
  constexpr int kRowsPerRound = kRows / kRounds;
  for (auto _ : state) {
    BenchDir dir;
    if (dir.path().empty()) {
      state.SkipWithError("no bench folder");
      return;
    }
    tlm::TLMLogDBStorage store(dir.path() / "store", std::make_shared<NoEncryption>());
    RawInserter raw(dir.path() / "Raw.sqlite", sampleText());
    if (!raw.ok() || store.pageSize() == 0) {
      state.SkipWithError("database set-up failed");
      return;
    }
    Clock::duration storeTime{};
    Clock::duration rawTime{};
    const auto runStore = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < kRowsPerRound; ++i) {
        if (!store.saveLog(log, kGroupId, 1)) return false;
      }
      storeTime += Clock::now() - start;
      return true;
    };
    const auto runRaw = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < kRowsPerRound; ++i) {
        if (!raw.insert()) return false;
      }
      rawTime += Clock::now() - start;
      return true;
    };
    for (int round = 0; round < kRounds; ++round) {
      const bool ok = round % 2 == 0 ? runStore() && runRaw() : runRaw() && runStore();
      if (!ok) {
        state.SkipWithError("insert failed");
        return;
      }
    }
    const double storeRate = kRows / std::chrono::duration<double>(storeTime).count();
    const double rawRate = kRows / std::chrono::duration<double>(rawTime).count();
    state.counters["store_per_s"] = storeRate;
    state.counters["raw_per_s"] = rawRate;
    state.counters["ratio"] = storeRate / rawRate;
    std::printf("log store: %.0f saves/s, raw SQLite: %.0f inserts/s, ratio %.2f (target 0.80)\n",
                storeRate, rawRate, storeRate / rawRate);
  }
}

BENCHMARK(BM_LogStoreVersusRawSQLite)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
