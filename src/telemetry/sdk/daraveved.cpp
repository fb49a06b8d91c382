#include "telemetry/sdk/daraveved.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "telemetry/core/logger.h"

namespace tlm {
namespace {

struct State {
  std::recursive_mutex mutex;
  bool sdkConfigured = false;
  bool configuredFromApplication = false;
  bool appSecretStored = false;
  std::string appSecret;
  std::vector<TLMServiceClass> started;
  std::map<TLMServiceClass, TLMServiceStarter> starters;
};

State& state() {
  static State s;
  return s;
}

void log(TLMLogLevel level, const std::string& message) {
  TLM_LOG(level, TLMDarAveved::kLogTag, message);
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && blank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && blank(s.back()))
    s.remove_suffix(1);
  return s;
}

// True when the environment switch names the service or "All" (exact,
// case-sensitive, blanks around each name ignored).
bool disabledByEnvironment(std::string_view name) {
  const char* value = std::getenv(TLMDarAveved::kDisableEnvironmentVariable);
  if (value == nullptr) return false;
  std::string_view rest(value);
  while (true) {
    const auto comma = rest.find(',');
    const auto part = trim(rest.substr(0, comma));
    if (part == name || part == "All") return true;
    if (comma == std::string_view::npos) return false;
    rest.remove_prefix(comma + 1);
  }
}

bool configure(State& s, std::string_view secret) {
  if (s.configuredFromApplication) {
    log(TLMLogLevel::Assert, "Dar Aveved SDK has already been configured.");
    log(TLMLogLevel::Assert, "Dar Aveved SDK configuration failed.");
    return false;
  }
  if (!s.appSecretStored) {
    s.appSecret = std::string(secret);
    s.appSecretStored = true;
  }
  s.sdkConfigured = true;
  s.configuredFromApplication = true;
  // Once configured, the SDK reports warnings and worse.
  // A program that never configured the SDK stays quiet; once configured, warnings show
  // unless the application chose a level itself.
  if (!TLMLogger::isUserDefinedLogLevel()) {
    TLMLogger::setCurrentLogLevel(TLMLogLevel::Warning);
    TLMLogger::setIsUserDefinedLogLevel(false);
  }
  log(TLMLogLevel::Info, "Dar Aveved SDK configured successfully.");
  return true;
}

bool startService(State& s, TLMServiceClass service) {
  if (std::find(s.started.begin(), s.started.end(), service) != s.started.end()) return false;
  const auto starter = s.starters.find(service);
  if (starter == s.starters.end() || !starter->second) {
    log(TLMLogLevel::Error, "Cannot start service " + std::string(className(service)) +
                                ". Provided value is nil or invalid.");
    return false;
  }
  if (disabledByEnvironment(serviceName(service))) {
    log(TLMLogLevel::Debug,
        "Environment variable to disable service has been set; not starting service " +
            std::string(className(service)));
    return false;
  }
  if (!starter->second(TLMServiceStartArguments{s.appSecret, true})) return false;
  s.started.push_back(service);
  return true;
}

}  // namespace

void TLMDarAveved::start(std::string_view secret, const std::vector<TLMServiceClass>& services) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (!configure(s, secret)) return;

  std::vector<TLMServiceClass> sorted = services;
  std::stable_sort(sorted.begin(), sorted.end(), [](TLMServiceClass a, TLMServiceClass b) {
    return initializationPriority(a) > initializationPriority(b);
  });
  std::string names;
  for (const auto service : sorted) {
    if (!names.empty()) names += ", ";
    names += className(service);
  }
  log(TLMLogLevel::Verbose, "Start services " + names + " from an application");

  bool any = false;
  for (const auto service : sorted)
    any = startService(s, service) || any;
  if (!any) log(TLMLogLevel::Debug, "No services have been started.");
}

bool TLMDarAveved::isConfigured() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.sdkConfigured && s.configuredFromApplication;
}

std::string TLMDarAveved::appSecret() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.appSecret;
}

std::vector<TLMServiceClass> TLMDarAveved::startedServices() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.started;
}

void TLMDarAveved::setServiceStarter(TLMServiceClass service, TLMServiceStarter starter) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.starters[service] = std::move(starter);
}

void TLMDarAveved::resetForTesting() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.sdkConfigured = false;
  s.configuredFromApplication = false;
  s.appSecretStored = false;
  s.appSecret.clear();
  s.started.clear();
  s.starters.clear();
  TLMLogger::resetForTesting();
}

}  // namespace tlm
