#pragma once

// The crash service over a fake reporter, a fake SDK pipeline, a temporary
// data directory and manual queues, as a test fixture.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "crashcapture/report_builder.h"
#include "dispatch/manual_queue.h"
#include "platform/crypto/fake/fake_random.h"
#include "platform/exceptions/uncaught_exception.h"
#include "platform/secrets/fake/memory_secret_store.h"
#include "support/scoped_environment.h"
#include "support/telemetry_devices.h"
#include "support/telemetry_fake_pipeline.h"
#include "support/telemetry_log_capture.h"
#include "support/temp_dir.h"
#include "telemetry/crashes/application_forwarder.h"
#include "telemetry/crashes/crash_buffer.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/cxx_exception_capture.h"
#include "telemetry/crashes/fake/fake_crash_reporter.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/util/utility.h"

namespace tlm::testing {

class CrashesFixture : public ::testing::Test {
 protected:
  CrashesFixture() {
    environment_.set("XDG_DATA_HOME", dir_.path().string());
    resetProcessState();
  }
  ~CrashesFixture() override {
    TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(
        &TLMCrashesExceptionRouting::uncaughtCXXExceptionHandler);
    resetProcessState();
  }

  static void resetProcessState() {
    TLMCrashesShared::reset();
    TLMUtility::resetDirectoryForTesting();
    TLMCrashesUtil::resetDirectory();
    TLMCrashesBuffer::resetForTesting();
    TLMWrapperExceptionManager::resetForTesting();
    platform::setUncaughtExceptionHandler(nullptr);
    TLMApplicationForwarder::resetForTesting();
    TLMApplicationExceptionEntries::resetForTesting();
  }

  // The service of the next "launch": a new reporter (keeping the pending
  // report, as the file would stay), the fixture's queues and fakes.
  std::shared_ptr<TLMCrashes> makeService() {
    TLMCrashesShared::reset();
    TLMCrashesUtil::resetDirectory();
    platform::setUncaughtExceptionHandler(nullptr);
    TLMCrashesEnvironment environment;
    environment.makeCrashReporter = [this](const TLMCrashReporterConfig& config) {
      ++reportersMade;
      auto made = std::make_shared<FakeCrashReporter>(config);
      if (pendingReport) made->setPendingReport(pendingReport);
      if (enableError) made->failEnablingWith(*enableError);
      reporter = made;
      return made;
    };
    environment.targetTokenEncrypter =
        std::make_shared<TLMEncrypter>(keychain_, keySettings_, queue.clock(), random_);
    environment.bufferFileQueue = bufferQueue;
    environment.processingQueue = processingQueue;
    environment.mainQueue = mainQueueForService ? mainQueueForService : mainQueue;
    environment.isMainThread = [this] { return onMainThread; };
    environment.isDebuggerAttached = [this] { return debuggerAttached; };
    environment.clock = &clock;
    environment.memoryPressure = memoryPressure;
    TLMErrorLogSources sources;
    sources.deviceForTimestamp = [](std::optional<Date>) { return linuxDevice(); };
    sources.installId = []() -> std::optional<std::string> {
      return "00000000-0000-4000-8000-000000000001";
    };
    sources.wrapperException = [](const std::string& uuid) {
      return TLMWrapperExceptionManager::loadWrapperExceptionWithUUIDString(uuid);
    };
    environment.formatterSources = sources;
    auto service = TLMCrashes::make(std::move(environment));
    bufferQueue->runUntilIdle();
    TLMCrashesShared::setForTesting(service);
    return service;
  }

  // Starts the SDK with the crash service, as the program does.
  std::shared_ptr<TLMCrashes> start() {
    auto service = makeService();
    TLMDarAveved::start("secret", {TLMCrashes::serviceClass()});
    return service;
  }

  // A new SDK instance (same settings) and a new service, as at the next launch.
  std::shared_ptr<TLMCrashes> restart() {
    TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(
        &TLMCrashesExceptionRouting::uncaughtCXXExceptionHandler);
    sdk.restart();
    return start();
  }

  std::shared_ptr<FakeChannelUnit> unit(const std::string& groupId) const {
    return sdk.group() ? sdk.group()->unit(groupId) : nullptr;
  }

  std::filesystem::path dataDir() const { return TLMUtility::darAvevedDirectoryURL(); }
  std::filesystem::path crashesDir() const { return dataDir() / "crashes"; }
  std::filesystem::path bufferDir() const { return dataDir() / "crasheslogbuffer"; }

  static std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static void writeFile(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // A report file of process `pid` with the report id ending in `idByte`.
  static base::Bytes reportBytes(std::uint32_t pid = 4242, std::uint8_t idByte = 0xC8) {
    auto setup = tlcrash::test::fullReport();
    setup.process->id = pid;
    setup.reportInfo->uuid->back() = idByte;
    return tlcrash::test::reportFile(setup);
  }
  // Report files put straight into the crashes folder.
  void storeReport(const std::string& name, const base::Bytes& bytes) {
    writeFile(crashesDir() / name, std::string(bytes.begin(), bytes.end()));
  }

  support::TempDir dir_{"crash-service-test"};
  support::ScopedEnvironment environment_;
  ScopedFakeTelemetrySdk sdk;
  LogCapture logs{TLMLogLevel::Verbose};

  dispatch::ManualQueue queue;
  dispatch::VirtualClock clock;
  std::shared_ptr<dispatch::ManualQueue> bufferQueue = std::make_shared<dispatch::ManualQueue>();
  std::shared_ptr<dispatch::ManualQueue> processingQueue =
      std::make_shared<dispatch::ManualQueue>();
  std::shared_ptr<dispatch::ManualQueue> mainQueue = std::make_shared<dispatch::ManualQueue>();
  // Replaces `mainQueue` for a test that posts to the main queue from another thread.
  std::shared_ptr<dispatch::Queue> mainQueueForService;
  std::shared_ptr<TLMManualMemoryPressureSource> memoryPressure =
      std::make_shared<TLMManualMemoryPressureSource>();
  bool onMainThread = true;
  bool debuggerAttached = false;
  std::optional<base::Bytes> pendingReport;
  std::optional<std::string> enableError;
  std::shared_ptr<FakeCrashReporter> reporter;
  int reportersMade = 0;

 private:
  std::shared_ptr<platform::MemorySecretStore> store_ =
      std::make_shared<platform::MemorySecretStore>();
  TLMKeychainUtil keychain_{store_};
  TLMMemoryKeyValueSettings keySettings_;
  platform::FakeRandom random_;
};

}  // namespace tlm::testing
