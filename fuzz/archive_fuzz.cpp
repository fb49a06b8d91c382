// Telemetry archives as the SDK reads them back: a stored log (what the log
// store decodes from its rows, then batches and sends) and the histories the
// context keeps in the settings store. A decoded log is checked, serialized
// as both endpoints would send it, archived again and decoded again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "platform/defaults/memory_user_defaults.h"
#include "telemetry/context/history_info.h"
#include "telemetry/core/archive.h"
#include "telemetry/core/logger.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/log_container.h"
#include "telemetry/schema/common_schema_log.h"

namespace {

// An HTTP client that never sends: the endpoints are only asked for headers
// and payloads here.
class NullClient final : public tlm::TLMHttpClientProtocol {
 public:
  using TLMHttpClientProtocol::sendAsync;
  void sendAsync(const std::string&, const std::string&, const tlm::TLMHttpHeaders&,
                 std::optional<std::string>, const std::vector<double>&, bool,
                 tlm::TLMHttpCompletionHandler) override {}
  void pause() override {}
  void resume() override {}
  void setEnabled(bool, bool) override {}
  std::shared_ptr<tlm::TLMHttpClientDelegate> delegate() const override { return nullptr; }
  void setDelegate(std::weak_ptr<tlm::TLMHttpClientDelegate>) override {}
};

struct Setup {
  Setup() {
    tlm::registerLogModelArchiveClasses();
    tlm::registerCommonSchemaArchiveClasses();
    // Messages are built (their formatting is part of the path) and dropped.
    tlm::TLMLogger::setCurrentLogLevel(tlm::TLMLogLevel::Verbose);
    tlm::TLMLogger::setLogHandler([](const tlm::TLMLogMessageProvider& message, tlm::TLMLogLevel,
                                     std::string_view, const char*, const char*,
                                     std::uint32_t) { (void)message(); });
    auto client = std::make_shared<NullClient>();
    own = tlm::TLMDarAvevedIngestion::make(client, "https://in.example/base", "INSTALL");
    own->setAppSecret("0123456789abcdef0123456789abcdef0123");
    collector = tlm::TLMCollectorIngestion::make(client, "https://c.example",
                                                 dispatch::SystemClock::instance());
  }
  std::shared_ptr<tlm::TLMDarAvevedIngestion> own;
  std::shared_ptr<tlm::TLMCollectorIngestion> collector;
};

void useLog(const Setup& setup, const std::shared_ptr<tlm::TLMAbstractLog>& log) {
  (void)log->isValid();
  (void)log->serializeLogWithPrettyPrinting(true);
  const tlm::TLMLogContainer container(std::string("batch"), {log});
  (void)container.isValid();
  for (const tlm::TLMHttpIngestion* endpoint :
       {static_cast<const tlm::TLMHttpIngestion*>(setup.own.get()),
        static_cast<const tlm::TLMHttpIngestion*>(setup.collector.get())}) {
    (void)endpoint->getHeaders(container, std::string("etag"));
    (void)endpoint->getPayload(container);
  }
  auto again = tlm::unarchiveKeyedDataOf<tlm::TLMAbstractLog>(tlm::archiveKeyedData(*log));
  if (again) (void)again->isEqual(*log);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Setup setup;
  const base::Bytes bytes(data, data + size);

  if (auto log = tlm::unarchiveKeyedDataOf<tlm::TLMAbstractLog>(bytes)) useLog(setup, log);

  // The same bytes as a stored history, read as the session, user-id and
  // device contexts read theirs, and stored back.
  tlm::TLMDarAvevedUserDefaults settings(std::make_shared<platform::MemoryUserDefaults>());
  settings.setObject(coding::Value(bytes), "History");
  const auto sessions =
      tlm::context_detail::loadHistory<tlm::TLMSessionHistoryInfo>(settings, "History");
  (void)tlm::context_detail::loadHistory<tlm::TLMUserIdHistoryInfo>(settings, "History");
  (void)tlm::context_detail::loadHistory<tlm::TLMDeviceHistoryInfo>(settings, "History");
  tlm::context_detail::storeHistory(settings, "Stored", sessions);
  return 0;
}
