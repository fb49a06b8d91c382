#pragma once

// Turns a decoded crash report of the previous run into the crash log that is
// sent ("appleError") and into the summary handed to the application. Pure
// functions of the report, except for what they read from the running SDK
// through TLMErrorLogSources (the device record of the crash time, a stored
// wrapper SDK exception, the install id). Safe on any thread.
//
// Text forms: a padded address is "0x" and 16 lower-case hex digits for a
// 64-bit code type (x86-64 0x1000007, ARM64 0x100000c), 8 for any other; a
// plain address is "0x" and hex digits without padding. Paths leave with the
// user's name replaced ("/Users/USER/...", "/home/USER/...").

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crashcapture/report/decoder/crash_report.h"
#include "telemetry/core/date_text.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_records.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/model/device.h"

namespace tlm {

// Log tag of the crash service, under which the formatter logs too.
inline constexpr std::string_view kTLMCrashesLogTag = "DarAvevedCrashes";
// Persistence flags of the logs the crash service enqueues.
inline constexpr std::uint64_t kTLMCrashesFlagsNormal = 1;
inline constexpr std::uint64_t kTLMCrashesFlagsCritical = 2;

// What the formatter reads from the running SDK. An empty function stands for
// "none".
struct TLMErrorLogSources {
  // The device record that was current at a time.
  std::function<std::shared_ptr<TLMDevice>(std::optional<Date>)> deviceForTimestamp;
  // The wrapper SDK exception stored for a report, by the report's UUID text.
  std::function<std::shared_ptr<TLMWrapperException>(const std::string& uuidText)> wrapperException;
  // The SDK's install id as UUID text.
  std::function<std::optional<std::string>()> installId;

  // The shared device tracker and the SDK's install id; no wrapper
  // exceptions (their store belongs to the crash service).
  static TLMErrorLogSources shared();
};

// Where an image belongs, for frame texts and the image list.
enum class TLMImageType : int {
  // The application's executable.
  executable = 0,
  // Another image inside the application bundle (a ".app/" folder).
  inBundle = 1,
  // Anything else: system libraries, and the bundle's own Swift runtime.
  other = 2,
};

class TLMErrorLogFormatter {
 public:
  TLMErrorLogFormatter() = delete;

  using Report = tlcrash::TLCrashReport;
  using Thread = tlcrash::TLCrashReportThreadInfo;
  using Frame = tlcrash::TLCrashReportStackFrameInfo;

  // The crash log of `report`: error id, process fields, crashed thread,
  // times, architecture, signal, exception, threads, registers, images,
  // device and wrapper exception. Missing parts of the report leave fields
  // absent or at their defaults ("???", 0); nothing fails.
  static std::shared_ptr<TLMAppleErrorLog> errorLogFromCrashReport(
      const Report& report, const TLMErrorLogSources& sources);
  static std::shared_ptr<TLMErrorReport> errorReportFromCrashReport(
      const Report& report, const TLMErrorLogSources& sources);
  // Sets the log's exception to the wrapper exception saved under the
  // report's UUID, when there is one; leaves it alone otherwise.
  static void addWrapperExceptionTo(TLMAppleErrorLog& log, const Report& report,
                                    const TLMErrorLogSources& sources);
  // The summary of a crash log; the device is looked up again for the log's
  // time, not taken from the log.
  static std::shared_ptr<TLMErrorReport> errorReportFromLog(const TLMAppleErrorLog& log,
                                                            const TLMErrorLogSources& sources);

  // The report's UUID as upper-case canonical text; a new random one when the
  // report has none.
  static std::string errorIdForCrashReport(const Report& report);
  // Process id, names and anonymised application path ("???" and 0 without a
  // process record).
  static TLMAppleErrorLog& addProcessInfoAndApplicationPathTo(TLMAppleErrorLog& log,
                                                              const Report& report);
  // The process start time with a process record, else the report time.
  static std::optional<Date> getAppLaunchTimeFromReport(const Report& report);
  static std::optional<Date> getCrashTimeFromReport(const Report& report);
  // The first thread marked crashed, in report order.
  static const Thread* findCrashedThreadInReport(const Report& report);
  // Every thread with its frames; the crashed one also carries the uncaught
  // exception when the report has one with frames.
  static std::vector<std::shared_ptr<TLMThread>> extractThreadsFromReport(
      const Report& report, const Thread* crashedThread, bool is64bit);
  // "symbol + offset" for a symbolicated frame outside the application, else
  // "0x<image base> + offset". Logs a warning for a non-zero address outside
  // every image, and for a "_" symbol of an unknown operating system.
  static std::string formatStackFrame(const Frame& frame, const Report& report);
  // Register name to padded value; a later register replaces an earlier one
  // of the same name. Empty without a thread.
  static std::map<std::string, std::string> extractRegistersFromCrashedThread(
      const Thread* crashedThread, bool is64bit);
  static std::optional<std::string> extractExceptionReasonFromReport(const Report& report);
  // The selector name through the code type's selector register(s).
  static std::optional<std::string> selectorRegisterValueFromReport(const Report& report,
                                                                    const Thread* crashedThread,
                                                                    std::uint64_t codeType);
  // Always none here: the name would be read from the method-name section of
  // the same image as loaded in this process, which Linux images do not have.
  static std::optional<std::string> selectorForRegisterWithName(std::string_view registerName,
                                                                const Thread& thread,
                                                                const Report& report);
  // The images an address of the report falls in, plus those of the
  // application, sorted by base address.
  static std::vector<std::shared_ptr<TLMBinary>> extractBinaryImagesFromReport(const Report& report,
                                                                               bool is64bit);
  // Exception frame addresses, then per thread its frame addresses and its
  // register values; duplicates kept.
  static std::vector<std::uint64_t> addressesFromReport(const Report& report);
  // Whether an address lies in [start, end].
  static bool isBinaryWithStart(std::uint64_t start, std::uint64_t end,
                                const std::vector<std::uint64_t>& addresses);
  // The path without user names: "/Users/<name>/" and, on Linux,
  // "/home/<name>/" become "/Users/USER/" and "/home/USER/" in a path that
  // starts with them; a path naming "Users" or "/home/" anywhere else, and an
  // empty or missing path, give the empty string; any other path is kept.
  static std::string anonymizedPathFromPath(const std::optional<std::string>& path);
  static TLMImageType imageTypeForImagePath(const std::optional<std::string>& imagePath,
                                            const std::optional<std::string>& processPath);
  static bool isCodeType64bit(std::uint64_t codeType);
  // Canonical upper-case UUID text; none for none.
  static std::optional<std::string> uuidRefToString(
      const std::optional<std::array<std::uint8_t, 16>>& uuid);
  // Padded address text.
  static std::string formatAddress(std::uint64_t address, bool is64bit);
};

}  // namespace tlm
