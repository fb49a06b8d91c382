#pragma once

// The application's two exception entries and the forwarding that lets an
// exception escaping an event handler reach the crash service.
//
// The app shell dispatches every event through `sendEvent` and reports an
// exception it caught through `reportException`. Their default behaviour:
// `sendEvent` runs the handler and lets exceptions pass; `reportException`
// only logs. Forwarding replaces both, once per process: `sendEvent` then
// catches a std::exception and reports it, returning normally, and
// `reportException` hands the exception to the crash service (which passes
// it to the crash reporter's uncaught-exception handler) before the previous
// behaviour.

#include <exception>
#include <functional>
#include <string_view>

namespace tlm {

class TLMApplicationExceptionEntries {
 public:
  using ReportException = std::function<void(const std::exception&)>;
  using SendEvent = std::function<void(const std::function<void()>& handleEvent)>;

  // Called by the app shell.
  static void reportException(const std::exception& exception);
  static void sendEvent(const std::function<void()>& handleEvent);

  // Installs a new implementation and answers the one it replaces.
  static ReportException replaceReportException(ReportException implementation);
  static SendEvent replaceSendEvent(SendEvent implementation);

  // The default implementations again.
  static void resetForTesting();
};

class TLMApplicationForwarder {
 public:
  // Information-dictionary switch: forwarding is off only when it is false.
  static constexpr std::string_view kEnabledKey = "DarAvevedApplicationForwarderEnabled";
  // User default that turns the replacements on.
  static constexpr std::string_view kCrashOnExceptionsKey = "NSApplicationCrashOnExceptions";

  // Replaces the two entries when the switch allows it and the user default
  // is true; each at most once per process.
  static void registerForwarding();

  // Forgets that the entries were replaced.
  static void resetForTesting();
};

}  // namespace tlm
