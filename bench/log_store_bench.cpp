// Saves logs through the log store and inserts as many rows of the same size
// with raw prepared SQLite statements into a database of the same shape and
// journal settings, then reports the ratio of the two rates, in two folders:
//
// - RAM: under /dev/shm, which shows the store's own overhead (10,000 rows);
// - disk: under $LOGSTORE_BENCH_DIR, else beside this program (in the build
//   folder), where each transaction's syncs dominate (1,000 rows, as a disk
//   that honours fsync manages only some tens of transactions a second).
//
// Each insert is its own transaction on both sides. The line printed for each
// folder names the file system, so a "disk" folder that is RAM-backed shows.

#include <benchmark/benchmark.h>
#include <linux/magic.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/vfs.h>

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

constexpr const char* kGroupId = "Analytics";

class NoEncryption final : public tlm::TLMTargetTokenEncrypter {
 public:
  std::optional<std::string> encryptString(std::string_view s) override { return std::string(s); }
  std::optional<std::string> decryptString(std::string_view s) override { return std::string(s); }
};

// A fresh folder inside `base`, removed afterwards.
class BenchDir {
 public:
  explicit BenchDir(const fs::path& base) {
    std::string pattern = base / "logstore-bench-XXXXXX";
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

struct Folder {
  const char* label;
  fs::path base;
  int rows;
};

fs::path diskBase() {
  const char* base = getenv("LOGSTORE_BENCH_DIR");
  if (base && *base) return base;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : program.parent_path();
}

std::string fileSystemKind(const fs::path& path) {
  struct statfs info {};
  if (statfs(path.c_str(), &info) != 0) return "unknown file system";
  return info.f_type == TMPFS_MAGIC ? "tmpfs, RAM-backed" : "not RAM-backed";
}

// Both sides run in alternating rounds of a tenth of the rows, so that a disk
// whose sync latency drifts during the run weighs on both alike.
void BM_LogStoreVersusRawSQLite(benchmark::State& state, const Folder& folder) {
  tlm::registerLogModelArchiveClasses();
  const auto log = sampleLog();
  constexpr int kRounds = 10;
  const int rowsPerRound = folder.rows / kRounds;
  for (auto _ : state) {
    BenchDir dir(folder.base);
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
      for (int i = 0; i < rowsPerRound; ++i) {
        if (!store.saveLog(log, kGroupId, 1)) return false;
      }
      storeTime += Clock::now() - start;
      return true;
    };
    const auto runRaw = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < rowsPerRound; ++i) {
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
    const int rows = rowsPerRound * kRounds;
    const double storeRate = rows / std::chrono::duration<double>(storeTime).count();
    const double rawRate = rows / std::chrono::duration<double>(rawTime).count();
    state.counters["store_per_s"] = storeRate;
    state.counters["raw_per_s"] = rawRate;
    state.counters["ratio"] = storeRate / rawRate;
    std::printf("%s (%s, %s): log store %.0f saves/s, raw SQLite %.0f inserts/s, ratio %.2f\n",
                folder.label, folder.base.c_str(), fileSystemKind(folder.base).c_str(), storeRate,
                rawRate, storeRate / rawRate);
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const Folder folders[] = {{"RAM", "/dev/shm", 10000}, {"disk", diskBase(), 1000}};
  for (const Folder& folder : folders) {
    benchmark::RegisterBenchmark(
        (std::string("BM_LogStoreVersusRawSQLite/") + folder.label).c_str(),
        [&folder](benchmark::State& state) { BM_LogStoreVersusRawSQLite(state, folder); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
