#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tlm {

class TLMServiceAbstract;

// A service class as the application names it when it starts the SDK: the
// class name and the way to its process-wide instance, which supplies the
// rest (service name, log tag, group id, priority). A default-made value is
// no class at all ("nil"); the entry object refuses it.
//
// The class-level switch lives here too: `setEnabled` and `isEnabled` act on
// the shared instance under its monitor, and only while the SDK is configured
// and the service started. Thread-safe.
class TLMServiceClass {
 public:
  using SharedInstance = std::function<std::shared_ptr<TLMServiceAbstract>()>;

  TLMServiceClass() = default;
  TLMServiceClass(std::string className, SharedInstance sharedInstance);

  // A class whose shared instance is the service's own `sharedInstance()`.
  template <class Service>
  static TLMServiceClass of(std::string className) {
    return TLMServiceClass(std::move(className), [] { return Service::sharedInstance(); });
  }

  bool isNil() const { return !sharedInstance_; }
  // "TLMAnalytics", ...; "(null)" for no class.
  std::string_view className() const;
  // None for no class.
  std::shared_ptr<TLMServiceAbstract> sharedInstance() const;
  // The shared instance's service name ("Analytics"); empty for no class.
  std::string serviceName() const;

  // Switches the service on or off and persists it. Refused (and logged)
  // unless the service can be used, and while the whole SDK is disabled
  // unless the SDK itself is switching its services.
  void setEnabled(bool enabled) const;
  // The service's switch; false (after the logged error) when it cannot be used.
  bool isEnabled() const;

  friend bool operator==(const TLMServiceClass& a, const TLMServiceClass& b) {
    return a.className() == b.className();
  }

 private:
  std::string className_;
  SharedInstance sharedInstance_;
};

}  // namespace tlm
