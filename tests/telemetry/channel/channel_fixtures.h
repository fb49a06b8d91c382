#pragma once

// Shared pieces of the channel tests: a scriptable ingestion, a delegate that
// writes what it hears into a journal, log captures, and a fixture with a
// real log store in a temporary folder, a queue on virtual time and settings
// in memory.

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dispatch/manual_queue.h"
#include "platform/defaults/memory_user_defaults.h"
#include "support/telemetry_devices.h"
#include "support/telemetry_log_capture.h"
#include "support/temp_dir.h"
#include "telemetry/channel/channel_environment.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/core/logger.h"
#include "telemetry/schema/common_schema_log.h"
#include "telemetry/schema/log_conversion.h"
#include "telemetry/storage/log_db_storage.h"

namespace tlm::channeltest {

// Everything that happened, in order, as short texts.
using Journal = std::vector<std::string>;

using tlm::testing::validDevice;

// A plain log of type "test" without time or device (the unit adds them).
inline std::shared_ptr<TLMLogWithProperties> plainLog(const std::string& sid) {
  auto log = std::make_shared<TLMLogWithProperties>();
  log->type = "test";
  log->sid = sid;
  return log;
}

// An event-like log whose common-schema form carries its name.
class NamedLog : public TLMLogWithProperties, public TLMLogConversion {
 public:
  explicit NamedLog(std::string name) : name_(std::move(name)) { type = "event"; }
  std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(
      const std::string& token, std::uint64_t flags) override {
    auto csLog = tlm::toCommonSchemaLogForTargetToken(*this, token, flags);
    if (csLog) csLog->name = name_;
    return csLog;
  }

 private:
  std::string name_;
};

// A common-schema log ready for the collector (time, version, name, iKey and
// an SDK extension to stamp).
inline std::shared_ptr<TLMCommonSchemaLog> csLog(const std::string& name,
                                                 const std::string& iKey = "o:key1") {
  auto log = std::make_shared<TLMCommonSchemaLog>();
  log->ver = "3.0";
  log->name = name;
  log->iKey = iKey;
  log->ext = std::make_shared<TLMCSExtensions>();
  log->ext->sdkExt = std::make_shared<TLMSDKExtension>();
  return log;
}

inline std::string channelName(TLMChannelProtocol& channel) {
  if (auto* unit = dynamic_cast<TLMChannelUnitProtocol*>(&channel))
    return unit->configuration().groupId();
  return "group";
}

inline std::string sidOf(const TLMLogPtr& log) {
  if (auto cs = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log)) return cs->name.value_or("?");
  return log->sid.value_or("?");
}

// Records batches and lets the test answer each one. Thread-safe.
class FakeIngestion final : public TLMIngestionProtocol {
 public:
  struct Sent {
    std::string batchId;
    std::vector<TLMLogPtr> logs;
    CompletionHandler handler;
  };

  explicit FakeIngestion(Journal* journal = nullptr) : journal_(journal) {}

  bool isReadyToSend() const override {
    std::lock_guard lock(mutex_);
    return ready_;
  }
  void setReady(bool ready) {
    std::lock_guard lock(mutex_);
    ready_ = ready;
  }
  void sendAsync(const TLMLogContainer* container, CompletionHandler handler) override {
    std::lock_guard lock(mutex_);
    sent_.push_back({container->batchId.value_or(""), container->logs, std::move(handler)});
  }
  void sendAsync(const TLMLogContainer* container, const std::optional<std::string>&,
                 CompletionHandler handler) override {
    sendAsync(container, std::move(handler));
  }
  void setEnabled(bool enabled, bool deleteData) override {
    if (journal_)
      journal_->push_back("ingestion enabled:" + std::to_string(enabled) +
                          std::to_string(deleteData));
  }

  std::vector<Sent> sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::size_t sentCount() const { return sent().size(); }
  // Answers batch `index` with an HTTP status (0: no response at all).
  void answer(std::size_t index, std::int64_t status) {
    const auto batch = sent().at(index);
    std::optional<TLMHttpResponse> response;
    if (status != 0) response = TLMHttpResponse{status, {}};
    batch.handler(batch.batchId, response, std::nullopt, std::nullopt);
  }

 private:
  mutable std::mutex mutex_;
  Journal* journal_;
  bool ready_ = true;
  std::vector<Sent> sent_;
};

// Writes every callback into the journal; can filter logs.
class RecordingDelegate final : public TLMChannelDelegate {
 public:
  explicit RecordingDelegate(Journal& journal, std::string name = "d")
      : journal_(journal), name_(std::move(name)) {}

  std::function<bool(const TLMLogPtr&)> filter;
  std::vector<std::string> internalIds;
  std::vector<base::Error> errors;

  void didAddChannelUnit(TLMChannelGroupProtocol&,
                         const std::shared_ptr<TLMChannelUnitProtocol>& unit) override {
    note("added " + unit->configuration().groupId());
  }
  void prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override {
    note("prepare " + channelName(channel) + " " + sidOf(log));
  }
  void didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                     const std::string& internalId, std::uint64_t flags) override {
    internalIds.push_back(internalId);
    note("didPrepare " + channelName(channel) + " " + sidOf(log) + " " + std::to_string(flags));
  }
  void didCompleteEnqueueingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                const std::string&) override {
    note("complete " + channelName(channel) + " " + sidOf(log));
  }
  void willSendLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override {
    note("willSend " + channelName(channel) + " " + sidOf(log));
  }
  void didSucceedSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override {
    note("succeed " + channelName(channel) + " " + sidOf(log));
  }
  void didFailSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                         const std::optional<base::Error>& error) override {
    if (error) errors.push_back(*error);
    note("fail " + channelName(channel) + " " + sidOf(log) + " " +
         (error ? std::to_string(error->code) : "none"));
  }
  void didSetEnabled(TLMChannelProtocol& channel, bool enabled, bool deleteData) override {
    note("enabled " + channelName(channel) + " " + std::to_string(enabled) +
         std::to_string(deleteData));
  }
  void didPauseWithIdentifyingObject(TLMChannelProtocol& channel,
                                     const TLMIdentifyingObject&) override {
    note("pause " + channelName(channel));
  }
  void didResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                      const TLMIdentifyingObject&) override {
    note("resume " + channelName(channel));
  }
  bool shouldFilterLog(TLMChannelUnitProtocol& unit, const TLMLogPtr& log) override {
    note("filter? " + unit.configuration().groupId() + " " + sidOf(log));
    return filter && filter(log);
  }

 private:
  void note(const std::string& text) {
    std::lock_guard lock(mutex_);
    journal_.push_back(name_ + ": " + text);
  }
  std::mutex mutex_;
  Journal& journal_;
  std::string name_;
};

// Collects every logger line while alive; has() matches a whole message.
class LogLines : public tlm::testing::LogCapture {
 public:
  bool has(TLMLogLevel level, const std::string& text) const {
    for (const auto& line : lines())
      if (line.level == level && line.message == text) return true;
    return false;
  }
};

// Reversible fake of the token encrypter.
class SealingEncrypter final : public TLMTargetTokenEncrypter {
 public:
  std::optional<std::string> encryptString(std::string_view text) override {
    return "sealed:" + std::string(text);
  }
  std::optional<std::string> decryptString(std::string_view text) override {
    if (!text.starts_with("sealed:")) return std::nullopt;
    return std::string(text.substr(7));
  }
};

// A queue on virtual time, the real store in a temporary folder, settings in
// memory, a fake ingestion and the logger captured.
class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() {
    registerLogModelArchiveClasses();
    registerCommonSchemaArchiveClasses();
    storage = std::make_shared<TLMLogDBStorage>(directory, std::make_shared<SealingEncrypter>());
  }

  TLMChannelEnvironment environment() {
    return {settings, [] { return validDevice(); }};
  }
  // Stored rows of a group, in flight or not.
  std::size_t stored(const std::string& groupId) {
    return storage->logsFromDBWithGroupId(groupId).size();
  }
  std::vector<std::string> sids(const std::vector<TLMLogPtr>& logs) {
    std::vector<std::string> out;
    for (const auto& log : logs)
      out.push_back(sidOf(log));
    return out;
  }

  LogLines logLines;
  Journal journal;
  support::TempDir folder{"channel"};
  std::filesystem::path directory = folder.path();
  std::shared_ptr<dispatch::ManualQueue> queue = std::make_shared<dispatch::ManualQueue>();
  std::shared_ptr<TLMDarAvevedUserDefaults> settings =
      std::make_shared<TLMDarAvevedUserDefaults>(std::make_shared<platform::MemoryUserDefaults>());
  std::shared_ptr<TLMLogDBStorage> storage;
  std::shared_ptr<FakeIngestion> ingestion = std::make_shared<FakeIngestion>(&journal);
};

}  // namespace tlm::channeltest
