// The real pipeline the SDK makes for itself (TLMDarAvevedDependencies::standard).

#include <memory>
#include <utility>

#include "telemetry/channel/channel_environment.h"
#include "telemetry/channel/channel_group_default.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/sdk/daraveved_instance.h"
#include "telemetry/security/encrypter.h"
#include "telemetry/storage/log_db_storage.h"
#include "telemetry/storage/target_token_encrypter.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace {

// The default encrypter, owned, for the log store's target tokens. Its keys
// are made only when a token is first stored.
class OwnedTargetTokenEncrypter final : public TLMTargetTokenEncrypter {
 public:
  OwnedTargetTokenEncrypter() : encrypter_(TLMEncrypter::makeDefault()) {}
  std::optional<std::string> encryptString(std::string_view string) override {
    return encrypter_->encryptString(string);
  }
  std::optional<std::string> decryptString(std::string_view string) override {
    return encrypter_->decryptString(string);
  }

 private:
  std::unique_ptr<TLMEncrypter> encrypter_;
};

}  // namespace

TLMDarAvevedDependencies TLMDarAvevedDependencies::standard(
    std::shared_ptr<dispatch::Queue> logsQueue, TLMHttpTransportFactory transport) {
  TLMDarAvevedDependencies dependencies;
  dependencies.makeHttpClient = [transport = std::move(transport)] {
    return std::make_shared<TLMHttpClient>(
        TLMHttpClient::defaultRetryQueue(),
        transport ? transport : TLMDependencyConfiguration::httpTransportFactory());
  };
  dependencies.makeChannelGroup =
      [logsQueue = std::move(logsQueue)](
          std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
          const std::string& logUrl) -> std::shared_ptr<TLMChannelGroupProtocol> {
    auto encrypter = std::make_shared<OwnedTargetTokenEncrypter>();
    const auto directory = TLMUtility::darAvevedDirectoryURL();
    if (!logsQueue) {
      return TLMChannelGroupDefault::make(std::move(httpClient), installId, logUrl, directory,
                                          std::move(encrypter));
    }
    return std::make_shared<TLMChannelGroupDefault>(
        TLMDarAvevedIngestion::make(std::move(httpClient), logUrl, installId),
        std::make_shared<TLMLogDBStorage>(directory, std::move(encrypter)), logsQueue,
        TLMChannelEnvironment::standard());
  };
  return dependencies;
}

}  // namespace tlm
