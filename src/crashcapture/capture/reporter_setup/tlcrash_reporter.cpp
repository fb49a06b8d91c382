#include "crashcapture/capture/reporter_setup/tlcrash_reporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

#include "crashcapture/capture/reporter_setup/log_writer_facts.h"
#include "crashcapture/capture/reporter_setup/signal_handler.h"
#include "crashcapture/capture/reporter_setup/terminate_bridge.h"
#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/capture/writer_setup/log_writer_setup.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/output.h"
#include "crashcapture/readers/core/thread_capture.h"
#include "platform/paths/paths.h"

namespace tlcrash {
namespace {

constexpr const char* kDataFolderName = "com.zodoradud.crashreporter.data";
constexpr const char* kQueuedFolderName = "queued_reports";
constexpr const char* kReportFileName = "live_report.tlcrash";
constexpr const char* kLiveReportTemplate = "live_crash_report.XXXXXX";

[[noreturn]] void fail(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::abort();
}

void logLine(TLCrashPlatform& crashPlatform, const std::string& line) {
  crashPlatform.log("[TLCrashReporter] " + line);
}

// Filled before any handler is armed; only read on the crash path.
TLCrashHandlerContext gCrashHandlerContext{};

std::mutex gEnableMutex;
bool gProcessEnabled = false;
std::atomic<int> gUncaughtExceptionOnce{0};

void uncaughtExceptionHandler(const TLCrashUncaughtException& exception) {
  int expected = 0;
  if (!gUncaughtExceptionOnce.compare_exchange_strong(expected, 1)) return;
  tlcrash_log_writer_set_exception(&gCrashHandlerContext.writer, exception.name, exception.reason,
                                   exception.callStackReturnAddresses);
  std::abort();
}

std::string identifierOrProcessName(TLCrashPlatform& crashPlatform, const std::string& identifier) {
  if (!identifier.empty()) return identifier;
  const char* name = program_invocation_short_name;
  if (name == nullptr || *name == '\0')
    fail(
        "TLCrashReporterException: Can not determine process identifier or process "
        "name");
  logLine(crashPlatform, std::string("Warning -- bundle identifier, using process name ") + name);
  return name;
}

std::string versionOrEmpty(TLCrashPlatform& crashPlatform, const std::string& version) {
  if (version.empty()) logLine(crashPlatform, "Warning -- bundle version unavailable");
  return version;
}

base::Error fileSystemError(const std::error_code& code) {
  return base::Error(std::string(kPOSIXErrorDomain), code.value(), code.message());
}

// $TMPDIR, else /tmp; not checked (mkstemp reports a missing folder).
std::filesystem::path temporaryDirectory() {
  const char* folder = ::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

struct LiveReportWrite {
  tlcrash_log_writer* writer;
  TLCrashPlatform* platform;
  tlcrash_async_file* file;
  const tlcrash_log_writer_crash_info* crash;
};

tlcrash_error_t writeFromCurrentThread(tlcrash_async_thread_state* state, void* context) {
  auto* write = static_cast<LiveReportWrite*>(context);
  return tlcrash_log_writer_write(write->writer, tlcrash_async_thread_self(),
                                  write->platform->threads(), write->platform->task(),
                                  write->platform->images(), write->file, state, write->crash);
}

}  // namespace

TLCrashReporter::TLCrashReporter(TLCrashPlatform& crashPlatform,
                                 const platform::AppIdentity& bundle, TLCrashReporterConfig config)
    : TLCrashReporter(crashPlatform,
                      identifierOrProcessName(crashPlatform, bundle.bundleIdentifier),
                      versionOrEmpty(crashPlatform, bundle.bundleVersion),
                      bundle.shortVersion.empty() ? std::nullopt
                                                  : std::optional<std::string>(bundle.shortVersion),
                      config) {}

TLCrashReporter::TLCrashReporter(TLCrashPlatform& crashPlatform, std::string applicationIdentifier,
                                 std::string appVersion,
                                 std::optional<std::string> appMarketingVersion,
                                 TLCrashReporterConfig config)
    : crashPlatform_(crashPlatform),
      config_(config),
      applicationIdentifier_(std::move(applicationIdentifier)),
      applicationVersion_(std::move(appVersion)),
      applicationMarketingVersion_(std::move(appMarketingVersion)) {
  std::string folder = applicationIdentifier_;
  for (char& c : folder)
    if (c == '/') c = '_';
  crashReportDirectory_ = platform::paths::cacheHome() / kDataFolderName / folder;
}

std::filesystem::path TLCrashReporter::queuedCrashReportDirectory() const {
  return crashReportDirectory_ / kQueuedFolderName;
}

std::filesystem::path TLCrashReporter::crashReportPath() const {
  return crashReportDirectory_ / kReportFileName;
}

bool TLCrashReporter::hasPendingCrashReport() const {
  std::error_code ignored;
  return std::filesystem::exists(crashReportPath(), ignored);
}

namespace {

// Reads a whole regular file; the errno of the failure otherwise (EISDIR for
// a folder or anything else that is not a file).
std::optional<std::vector<std::uint8_t>> readRegularFile(const std::filesystem::path& path,
                                                         int* failure) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    *failure = errno;
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *failure = S_ISDIR(info.st_mode) ? EISDIR : (errno != 0 ? errno : EINVAL);
    ::close(fd);
    return std::nullopt;
  }
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *failure = errno;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  ::close(fd);
  return bytes;
}

// Renames an unreadable report to a free "<name>.unreadable[-n]" beside it,
// so that the next start does not meet it again.
std::optional<std::filesystem::path> moveUnreadableAside(const std::filesystem::path& path) {
  for (int n = 1; n < 100; ++n) {
    std::filesystem::path aside = path;
    aside += n == 1 ? ".unreadable" : ".unreadable-" + std::to_string(n);
    std::error_code code;
    if (std::filesystem::exists(std::filesystem::symlink_status(aside, code))) continue;
    std::filesystem::rename(path, aside, code);
    if (!code) return aside;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> TLCrashReporter::loadPendingCrashReportData(
    ReporterError* error) const {
  const std::filesystem::path path = crashReportPath();
  int failure = 0;
  auto bytes = readRegularFile(path, &failure);
  if (bytes) return bytes;
  if (failure != ENOENT) {
    // A report that exists but cannot be read would stop every start.
    const auto aside = moveUnreadableAside(path);
    std::fprintf(stderr, "The pending crash report \"%s\" cannot be read (%s); %s%s%s\n",
                 path.c_str(), std::strerror(failure), aside ? "moved it to \"" : "",
                 aside ? aside->c_str() : "it could not be moved aside either", aside ? "\"" : "");
  }
  if (error != nullptr) {
    error->error = fileSystemError(std::error_code(failure, std::generic_category()));
    error->underlying.reset();
  }
  return std::nullopt;
}

bool TLCrashReporter::purgePendingCrashReport(ReporterError* error) const {
  std::error_code code;
  if (std::filesystem::remove(crashReportPath(), code)) return true;
  if (!code) code = std::make_error_code(std::errc::no_such_file_or_directory);
  if (error != nullptr) {
    error->error = fileSystemError(code);
    error->underlying.reset();
  }
  return false;
}

bool TLCrashReporter::populateCrashReportDirectory(ReporterError* error) const {
  for (const auto& folder : {crashReportDirectory_, queuedCrashReportDirectory()}) {
    std::error_code code;
    if (std::filesystem::is_directory(folder, code)) continue;
    std::filesystem::create_directories(folder, code);
    if (!code)
      std::filesystem::permissions(folder, std::filesystem::perms(0755),
                                   std::filesystem::perm_options::replace, code);
    if (code) {
      if (error != nullptr) {
        error->error = fileSystemError(code);
        error->underlying.reset();
      }
      return false;
    }
  }
  return true;
}

bool TLCrashReporter::enableCrashReporter(ReporterError* error) {
  {
    std::lock_guard<std::mutex> guard(gEnableMutex);
    if (gProcessEnabled) {
      tlcrash_populate_error(error, TLCrashReporterError::alreadyEnabled,
                             "A TLCrashReporter instance has already been enabled");
      return false;
    }
    gProcessEnabled = true;
  }
  if (enabled_) fail("TLCrashReporterException: The crash reporter has alread been enabled");

  // Until a handler is armed a failure leaves the process free to enable
  // again.
  auto giveUp = [] {
    std::lock_guard<std::mutex> guard(gEnableMutex);
    gProcessEnabled = false;
    return false;
  };
  if (!populateCrashReportDirectory(error)) return giveUp();
  if (!crashPlatform_.armThreads(error)) return giveUp();
  crashPlatform_.refreshImages();

  // Custom data set before enabling lives in the record that init clears.
  tlcrash_log_writer_set_custom_data(&gCrashHandlerContext.writer, std::nullopt);
  gCrashHandlerContext.reportPath = ::strdup(crashReportPath().c_str());
  gCrashHandlerContext.threads = &crashPlatform_.threads();
  gCrashHandlerContext.task = &crashPlatform_.task();
  gCrashHandlerContext.images = crashPlatform_.images();
  tlcrash_log_writer_init(&gCrashHandlerContext.writer, crashPlatform_, applicationIdentifier_,
                          applicationVersion_, applicationMarketingVersion_,
                          mapToAsyncSymbolicationStrategy(config_.symbolicationStrategy()), false);
  if (customData_) tlcrash_log_writer_set_custom_data(&gCrashHandlerContext.writer, customData_);

  switch (config_.signalHandlerType()) {
    case TLCrashReporterSignalHandlerTypeMach:
      logLine(crashPlatform_,
              "Mach exceptions do not exist on Linux; handling the fatal signals instead");
      [[fallthrough]];
    case TLCrashReporterSignalHandlerTypeBSD: {
      TLCrashSignalHandler* handler = TLCrashSignalHandler::sharedHandler();
      if (handler == nullptr) {
        tlcrash_populate_posix_error(error, ENOMEM,
                                     "Could not initialize alternative signal stack");
        return giveUp();
      }
      bool armed = false;
      for (const int signo : kTLCrashFatalSignals) {
        if (!handler->registerHandlerForSignal(signo, tlcrash_crash_signal_callback,
                                               &gCrashHandlerContext, error))
          return armed ? false : giveUp();
        armed = true;
      }
      break;
    }
    default:
      break;
  }

  if (config_.shouldRegisterUncaughtExceptionHandler()) {
    tlcrash_set_uncaught_exception_handler(uncaughtExceptionHandler);
    tlcrash_install_terminate_bridge();
  }
  enabled_ = true;
  return true;
}

void TLCrashReporter::setCrashCallbacks(const TLCrashReporterCallbacks& callbacks) {
  if (enabled_) fail("TLCrashReporterException: The crash reporter has alread been enabled");
  if (callbacks.version != 0) fail("callbacks->version == 0");
  gCrashHandlerContext.postCrashContext = callbacks.context;
  gCrashHandlerContext.postCrash = callbacks.handleSignal;
}

void TLCrashReporter::setCustomData(std::optional<std::vector<std::uint8_t>> data) {
  customData_ = std::move(data);
  tlcrash_log_writer_set_custom_data(&gCrashHandlerContext.writer, customData_);
}

std::optional<std::vector<std::uint8_t>> TLCrashReporter::generateLiveReport(ReporterError* error) {
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  return generateLiveReport(tlcrash_async_thread_self(), true, caller, error);
}

std::optional<std::vector<std::uint8_t>> TLCrashReporter::generateLiveReportWithThread(
    tlcrash_thread_t thread, ReporterError* error) {
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  return generateLiveReport(thread, thread == tlcrash_async_thread_self(), caller, error);
}

std::optional<std::vector<std::uint8_t>> TLCrashReporter::generateLiveReport(
    tlcrash_thread_t thread, bool currentThread, std::uint64_t returnAddress,
    ReporterError* error) {
  std::string path = (temporaryDirectory() / kLiveReportTemplate).string();
  const int fd = ::mkstemp(path.data());
  if (fd < 0) {
    tlcrash_populate_posix_error(error, errno, "Failed to create temporary path");
    return std::nullopt;
  }

  // Without the suspender the other threads are written without frames.
  crashPlatform_.armThreads(nullptr);
  crashPlatform_.refreshImages();

  tlcrash_log_writer writer;
  tlcrash_log_writer_init(&writer, crashPlatform_, applicationIdentifier_, applicationVersion_,
                          applicationMarketingVersion_,
                          mapToAsyncSymbolicationStrategy(config_.symbolicationStrategy()), true);
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, fd, kTLCrashReportSizeLimit);
  if (customData_) tlcrash_log_writer_set_custom_data(&writer, customData_);

  const tlcrash_log_writer_crash_info crash{SIGTRAP, TRAP_TRACE, returnAddress, false, 0,
                                            nullptr, 0};
  tlcrash_error_t result;
  if (currentThread) {
    LiveReportWrite write{&writer, &crashPlatform_, &file, &crash};
    result = tlcrash_async_thread_state_current(writeFromCurrentThread, &write);
  } else {
    result =
        tlcrash_log_writer_write(&writer, thread, crashPlatform_.threads(), crashPlatform_.task(),
                                 crashPlatform_.images(), &file, nullptr, &crash);
  }
  if (tlcrash_log_writer_close(&writer) != tlcrash_error_t::success &&
      result == tlcrash_error_t::success)
    result = tlcrash_error_t::internal;
  if (!tlcrash_async_file_close(&file) && result == tlcrash_error_t::success)
    result = tlcrash_error_t::outputError;

  std::optional<std::vector<std::uint8_t>> data;
  if (result != tlcrash_error_t::success) {
    logLine(crashPlatform_,
            std::string("Write failed with error ") + tlcrash_async_strerror(result));
    tlcrash_populate_error(error, TLCrashReporterError::unknown,
                           "Failed to write the crash report to disk");
  } else {
    std::ifstream in(path, std::ios::binary);
    if (in)
      data.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    else
      tlcrash_populate_error(error, TLCrashReporterError::unknown,
                             "Unable to open live crash report for reading");
  }

  tlcrash_log_writer_free(&writer);
  if (::unlink(path.c_str()) != 0)
    logLine(crashPlatform_,
            std::string("Failure occured deleting live crash report: ") + std::strerror(errno));
  return data;
}

}  // namespace tlcrash
