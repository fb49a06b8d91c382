#pragma once

// The SDK over a fake pipeline: a channel group and units that record what
// they are given, in-memory settings, fresh contexts and a test identity, so
// that a test can start the SDK and read what it did.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/defaults/memory_user_defaults.h"
#include "support/scoped_app_identity.h"
#include "support/telemetry_idle_http_client.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/context/session_context.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/core/logger.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/http/http_client.h"
#include "telemetry/sdk/app_delegate_forwarder.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/daraveved_instance.h"

namespace tlm::testing {

// Records what it is given. Thread-safe.
class FakeChannelUnit final : public TLMChannelUnitProtocol {
 public:
  struct Enqueued {
    TLMLogPtr log;
    std::uint64_t flags;
  };

  explicit FakeChannelUnit(TLMChannelUnitConfiguration configuration)
      : configuration_(std::move(configuration)) {}

  void enqueueItem(const TLMLogPtr& log, std::uint64_t flags) override {
    std::lock_guard lock(mutex_);
    enqueued_.push_back({log, flags});
  }
  void setEnabled(bool enabled, bool deleteDataOnDisabled) override {
    std::lock_guard lock(mutex_);
    enabledCalls_.emplace_back(enabled, deleteDataOnDisabled);
  }
  void addDelegate(const std::shared_ptr<TLMChannelDelegate>&) override {}
  void removeDelegate(const std::shared_ptr<TLMChannelDelegate>&) override {}
  void pauseWithIdentifyingObject(const TLMIdentifyingObject&) override {}
  void resumeWithIdentifyingObject(const TLMIdentifyingObject&) override {}
  void pauseSendingLogsWithToken(const std::string&) override {}
  void resumeSendingLogsWithToken(const std::string&) override {}
  void checkPendingLogs() override {}
  const TLMChannelUnitConfiguration& configuration() const override { return configuration_; }
  const std::shared_ptr<dispatch::Queue>& logsDispatchQueue() const override { return queue_; }

  std::vector<Enqueued> enqueued() const {
    std::lock_guard lock(mutex_);
    return enqueued_;
  }
  // (enabled, delete data) of each setEnabled call, in order.
  std::vector<std::pair<bool, bool>> enabledCalls() const {
    std::lock_guard lock(mutex_);
    return enabledCalls_;
  }

 private:
  const TLMChannelUnitConfiguration configuration_;
  const std::shared_ptr<dispatch::Queue> queue_;
  mutable std::mutex mutex_;
  std::vector<Enqueued> enqueued_;
  std::vector<std::pair<bool, bool>> enabledCalls_;
};

// Records what it is given; answers every storage-size request with
// `maxStorageSizeAnswer` at once. Thread-safe.
class FakeChannelGroup final : public TLMChannelGroupProtocol {
 public:
  FakeChannelGroup(std::string installId, std::string logUrl)
      : installId_(std::move(installId)), logUrl_(std::move(logUrl)) {}

  std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
      const TLMChannelUnitConfiguration& configuration) override {
    return addChannelUnitWithConfiguration(configuration, nullptr);
  }
  std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
      const TLMChannelUnitConfiguration& configuration,
      std::shared_ptr<TLMIngestionProtocol>) override {
    auto unit = std::make_shared<FakeChannelUnit>(configuration);
    std::lock_guard lock(mutex_);
    units_.push_back(unit);
    return unit;
  }
  void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> handler) override {
    {
      std::lock_guard lock(mutex_);
      maxStorageSizes_.push_back(sizeInBytes);
    }
    if (handler) handler(maxStorageSizeAnswer);
  }
  std::shared_ptr<TLMChannelUnitProtocol> channelUnitForGroupId(
      const std::string& groupId) const override {
    return unit(groupId);
  }
  std::string logUrl() const override {
    std::lock_guard lock(mutex_);
    return logUrl_;
  }
  void setLogUrl(const std::string& logUrl) override {
    std::lock_guard lock(mutex_);
    logUrl_ = logUrl;
  }
  std::string appSecret() const override {
    std::lock_guard lock(mutex_);
    return appSecret_;
  }
  void setAppSecret(const std::string& appSecret) override {
    std::lock_guard lock(mutex_);
    appSecret_ = appSecret;
  }
  void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override {
    delegates_.add(delegate);
  }
  void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override {
    delegates_.remove(delegate);
  }
  void setEnabled(bool enabled, bool deleteDataOnDisabled) override {
    std::lock_guard lock(mutex_);
    enabledCalls_.emplace_back(enabled, deleteDataOnDisabled);
  }
  void pauseWithIdentifyingObject(const TLMIdentifyingObject&) override {}
  void resumeWithIdentifyingObject(const TLMIdentifyingObject&) override {}
  void setIngestionDisabled(bool disabled) override {
    std::lock_guard lock(mutex_);
    ingestionDisabled_ = disabled;
  }

  bool ingestionDisabled() const {
    std::lock_guard lock(mutex_);
    return ingestionDisabled_;
  }
  const std::string& installId() const { return installId_; }
  // The first unit of the group id; null when there is none.
  std::shared_ptr<FakeChannelUnit> unit(const std::string& groupId) const {
    std::lock_guard lock(mutex_);
    for (const auto& unit : units_)
      if (unit->configuration().groupId() == groupId) return unit;
    return nullptr;
  }
  // The group ids of the units, in the order they were added.
  std::vector<std::string> unitGroupIds() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& unit : units_)
      ids.push_back(unit->configuration().groupId());
    return ids;
  }
  std::vector<std::pair<bool, bool>> enabledCalls() const {
    std::lock_guard lock(mutex_);
    return enabledCalls_;
  }
  // The live delegates, in the order they were added.
  std::vector<std::shared_ptr<TLMChannelDelegate>> delegates() const {
    return delegates_.snapshot();
  }
  std::vector<std::int64_t> maxStorageSizes() const {
    std::lock_guard lock(mutex_);
    return maxStorageSizes_;
  }

  bool maxStorageSizeAnswer = true;

 private:
  const std::string installId_;
  mutable std::mutex mutex_;
  std::string logUrl_;
  std::string appSecret_;
  std::vector<std::shared_ptr<FakeChannelUnit>> units_;
  std::vector<std::pair<bool, bool>> enabledCalls_;
  std::vector<std::int64_t> maxStorageSizes_;
  bool ingestionDisabled_ = false;
  TLMChannelDelegateSet delegates_;
};

// For one scope: a test identity, the SDK's settings in memory (shared by the
// SDK, its contexts and services), and the SDK's shared instance over a fake
// pipeline. Everything is forgotten afterwards.
class ScopedFakeTelemetrySdk {
 public:
  ScopedFakeTelemetrySdk() {
    TLMDarAvevedUserDefaults::setSharedForTesting(settings_);
    resetShared();
    restart();
  }
  // The same over the pipeline `makeChannelGroup` makes, with HTTP clients
  // from `makeHttpClient`; `group()` is then null, `channelGroup()` the one made.
  ScopedFakeTelemetrySdk(TLMDarAvevedDependencies::MakeChannelGroup makeChannelGroup,
                         TLMDarAvevedDependencies::MakeHttpClient makeHttpClient)
      : makeChannelGroup_(std::move(makeChannelGroup)), makeHttpClient_(std::move(makeHttpClient)) {
    TLMDarAvevedUserDefaults::setSharedForTesting(settings_);
    resetShared();
    restart();
  }
  ~ScopedFakeTelemetrySdk() {
    resetShared();
    TLMDarAvevedUserDefaults::setSharedForTesting();
  }
  ScopedFakeTelemetrySdk(const ScopedFakeTelemetrySdk&) = delete;
  ScopedFakeTelemetrySdk& operator=(const ScopedFakeTelemetrySdk&) = delete;

  // A new shared instance over the same settings, as at the next launch.
  std::shared_ptr<TLMDarAvevedInstance> restart() {
    TLMDarAvevedDependencies dependencies;
    dependencies.settings = settings_;
    dependencies.makeHttpClient = makeHttpClient_;
    if (!dependencies.makeHttpClient)
      dependencies.makeHttpClient = [] { return std::make_shared<IdleHttpClient>(); };
    dependencies.makeChannelGroup =
        [this](std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
               const std::string& logUrl) -> std::shared_ptr<TLMChannelGroupProtocol> {
      std::shared_ptr<TLMChannelGroupProtocol> made;
      std::shared_ptr<FakeChannelGroup> fake;
      if (makeChannelGroup_) {
        made = makeChannelGroup_(std::move(httpClient), installId, logUrl);
      } else {
        fake = std::make_shared<FakeChannelGroup>(installId, logUrl);
        made = fake;
      }
      std::lock_guard lock(mutex_);
      group_ = fake;
      channelGroup_ = made;
      return made;
    };
    {
      std::lock_guard lock(mutex_);
      group_.reset();
      channelGroup_.reset();
    }
    auto instance = std::make_shared<TLMDarAvevedInstance>(std::move(dependencies));
    TLMDarAveved::setSharedForTesting(instance);
    return instance;
  }

  // The group of the current instance; null before its configuration.
  std::shared_ptr<FakeChannelGroup> group() const {
    std::lock_guard lock(mutex_);
    return group_;
  }
  std::shared_ptr<TLMChannelGroupProtocol> channelGroup() const {
    std::lock_guard lock(mutex_);
    return channelGroup_;
  }
  TLMDarAvevedUserDefaults& settings() { return *settings_; }
  platform::MemoryUserDefaults& defaults() { return *defaults_; }

 private:
  static void resetShared() {
    TLMDarAveved::setSharedForTesting();
    TLMAppDelegateForwarder::setSharedForTesting();
    TLMDelegateForwarder::resetTraceBufferForTesting();
    TLMDependencyConfiguration::setHttpClient(nullptr);
    TLMDependencyConfiguration::setHttpTransportFactory(nullptr);
    TLMSessionContext::setSharedForTesting();
    TLMUserIdContext::setSharedForTesting();
    TLMDeviceTracker::setSharedForTesting();
    TLMLogger::resetForTesting();
  }

  support::ScopedAppIdentity identity_;
  std::shared_ptr<platform::MemoryUserDefaults> defaults_ =
      std::make_shared<platform::MemoryUserDefaults>();
  std::shared_ptr<TLMDarAvevedUserDefaults> settings_ =
      std::make_shared<TLMDarAvevedUserDefaults>(defaults_);
  const TLMDarAvevedDependencies::MakeChannelGroup makeChannelGroup_;
  const TLMDarAvevedDependencies::MakeHttpClient makeHttpClient_;
  mutable std::mutex mutex_;
  std::shared_ptr<FakeChannelGroup> group_;
  std::shared_ptr<TLMChannelGroupProtocol> channelGroup_;
};

}  // namespace tlm::testing
