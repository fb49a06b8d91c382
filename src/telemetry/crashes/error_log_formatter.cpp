#include "telemetry/crashes/error_log_formatter.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <utility>

#include "base/uuid.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/core/logger.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

using tlcrash::TLCrashReportBinaryImageInfo;
using tlcrash::TLCrashReportDate;
using tlcrash::TLCrashReportOperatingSystem;
using tlcrash::TLCrashReportProcessorInfo;
using tlcrash::TLCrashReportProcessorTypeEncoding;

constexpr std::string_view kUnknown = "???";
constexpr std::uint64_t kCpuTypeX86 = 7;
constexpr std::uint64_t kCpuTypeArm = 12;
constexpr std::uint64_t kCpuTypeX86_64 = 0x1000007;
constexpr std::uint64_t kCpuTypeArm64 = 0x100000c;

// The register that holds the selector of a method call, and the one to try
// when the first gives nothing.
struct SelectorRegisters {
  std::uint64_t cpuType;
  const char* first;
  const char* fallback;
};

constexpr SelectorRegisters kSelectorRegisters[] = {
    {kCpuTypeX86, "ecx", nullptr},
    {kCpuTypeArm, "r1", "r2"},
    {kCpuTypeX86_64, "rsi", "rdx"},
    {kCpuTypeArm64, "x1", nullptr},
};

std::string hexText(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, value);
  return text;
}

// A report time as a log date; none when it lies outside what a date holds
// (a damaged report may carry any count of seconds).
std::optional<Date> dateOf(const std::optional<TLCrashReportDate>& time) {
  if (!time) return std::nullopt;
  using Seconds = std::chrono::seconds;
  constexpr auto kLimit = std::chrono::duration_cast<Seconds>(Date::duration::max()).count() - 1;
  const auto seconds = time->time_since_epoch().count();
  if (seconds > kLimit || seconds < -kLimit) return std::nullopt;
  return Date(std::chrono::duration_cast<Date::duration>(Seconds(seconds)));
}

std::string lowerCased(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The path with empty and "." components dropped and ".." applied, without
// a trailing slash (lexically; links are not followed).
std::string standardizedPath(std::string_view path) {
  const bool absolute = path.starts_with('/');
  std::vector<std::string_view> parts;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(pos, slash - pos);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = slash + 1;
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out.empty() ? std::string(path) : out;
}

// Every `root` + name + "/" (name: one or more characters other than "/")
// replaced by `replacement`, matches taken left to right without overlap.
std::string replaceUserFolders(std::string_view path, std::string_view root,
                               std::string_view replacement) {
  std::string out;
  std::size_t pos = 0;
  while (pos < path.size()) {
    const std::size_t found = path.find(root, pos);
    if (found == std::string_view::npos) break;
    const std::size_t nameStart = found + root.size();
    const std::size_t slash = path.find('/', nameStart);
    out.append(path.substr(pos, found - pos));
    if (slash != std::string_view::npos && slash > nameStart) {
      out.append(replacement);
      pos = slash + 1;
    } else {
      out.push_back(path[found]);
      pos = found + 1;
    }
  }
  out.append(path.substr(std::min(pos, path.size())));
  return out;
}

// The last component of a path: "/usr/lib/libc.so.6" gives "libc.so.6",
// "/a/b/" gives "b", "/" stays "/"; none for an empty path.
std::optional<std::string> lastPathComponent(std::string_view path) {
  if (path.empty()) return std::nullopt;
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  if (path.size() <= 1) return std::string(path);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> processPathOf(const TLMErrorLogFormatter::Report& report) {
  return report.processInfo() ? report.processInfo()->processPath() : std::nullopt;
}

// Whether the operating system's symbols carry a leading "_" the log drops.
enum class SymbolPrefix { dropped, unknown, kept };

SymbolPrefix symbolPrefixRule(TLCrashReportOperatingSystem os) {
  switch (os) {
    case TLCrashReportOperatingSystem::MAC_OS_X:
    case TLCrashReportOperatingSystem::IPHONE_OS:
    case TLCrashReportOperatingSystem::IPHONE_SIMULATOR:
    case TLCrashReportOperatingSystem::APPLE_TVOS:
      return SymbolPrefix::dropped;
    case TLCrashReportOperatingSystem::OS_UNKNOWN:
      return SymbolPrefix::unknown;
    default:
      return SymbolPrefix::kept;
  }
}

}  // namespace

TLMErrorLogSources TLMErrorLogSources::shared() {
  TLMErrorLogSources sources;
  sources.deviceForTimestamp = [](std::optional<Date> timestamp) {
    return TLMDeviceTracker::sharedInstance()->deviceForTimestamp(timestamp);
  };
  sources.installId = []() -> std::optional<std::string> { return TLMDarAveved::installId(); };
  return sources;
}

std::shared_ptr<TLMAppleErrorLog> TLMErrorLogFormatter::errorLogFromCrashReport(
    const Report& report, const TLMErrorLogSources& sources) {
  auto log = std::make_shared<TLMAppleErrorLog>();
  log->errorId = errorIdForCrashReport(report);
  addProcessInfoAndApplicationPathTo(*log, report);

  const Thread* crashedThread = findCrashedThreadInReport(report);
  log->errorThreadId = crashedThread ? crashedThread->threadNumber() : 0;
  log->fatal = true;
  log->appLaunchTimestamp = getAppLaunchTimeFromReport(report);

  // The report keeps whole seconds; the log marks that by ending in .999.
  std::optional<Date> timestamp = getCrashTimeFromReport(report);
  if (timestamp && timestamp->time_since_epoch() % std::chrono::seconds(1) == Date::duration(0) &&
      *timestamp < Date::max() - std::chrono::seconds(1))
    *timestamp += std::chrono::milliseconds(999);
  log->timestamp = timestamp;

  // The machine's processor, unless an image names the crashed code's own.
  std::uint64_t cpuType = 0;
  std::uint64_t cpuSubtype = 0;
  if (report.machineInfo() && report.machineInfo()->processorInfo()) {
    cpuType = report.machineInfo()->processorInfo()->type();
    cpuSubtype = report.machineInfo()->processorInfo()->subtype();
  }
  for (const TLCrashReportBinaryImageInfo& image : report.images()) {
    const auto& codeType = image.codeType();
    if (codeType &&
        codeType->typeEncoding() == TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_MACH) {
      cpuType = codeType->type();
      cpuSubtype = codeType->subtype();
      break;
    }
  }
  const bool is64bit = isCodeType64bit(cpuType);
  log->primaryArchitectureId = cpuType;
  log->architectureVariantId = cpuSubtype;

  const auto& signalInfo = report.signalInfo();
  log->osExceptionType = signalInfo.name();
  log->osExceptionCode = signalInfo.code();
  log->osExceptionAddress = hexText(signalInfo.address());

  log->exceptionReason = extractExceptionReasonFromReport(report);
  if (report.exceptionInfo()) log->exceptionType = report.exceptionInfo()->exceptionName();

  log->selectorRegisterValue = selectorRegisterValueFromReport(report, crashedThread, cpuType);
  log->threads = extractThreadsFromReport(report, crashedThread, is64bit);
  log->registers = extractRegistersFromCrashedThread(crashedThread, is64bit);
  log->binaries = extractBinaryImagesFromReport(report, is64bit);

  if (sources.deviceForTimestamp) log->device = sources.deviceForTimestamp(log->timestamp);
  addWrapperExceptionTo(*log, report, sources);
  return log;
}

void TLMErrorLogFormatter::addWrapperExceptionTo(TLMAppleErrorLog& log, const Report& report,
                                                 const TLMErrorLogSources& sources) {
  if (const auto uuid = uuidRefToString(report.uuidRef()); uuid && sources.wrapperException) {
    if (const auto wrapper = sources.wrapperException(*uuid))
      log.exception = wrapper->modelException;
  }
}

std::shared_ptr<TLMErrorReport> TLMErrorLogFormatter::errorReportFromCrashReport(
    const Report& report, const TLMErrorLogSources& sources) {
  return errorReportFromLog(*errorLogFromCrashReport(report, sources), sources);
}

std::shared_ptr<TLMErrorReport> TLMErrorLogFormatter::errorReportFromLog(
    const TLMAppleErrorLog& log, const TLMErrorLogSources& sources) {
  std::optional<std::string> installId = sources.installId ? sources.installId() : std::nullopt;
  std::shared_ptr<TLMDevice> device =
      sources.deviceForTimestamp ? sources.deviceForTimestamp(log.timestamp) : nullptr;
  return std::make_shared<TLMErrorReport>(log.errorId, installId.value_or(""), log.osExceptionType,
                                          log.exceptionType, log.exceptionReason,
                                          log.appLaunchTimestamp, log.timestamp, std::move(device),
                                          static_cast<std::uint64_t>(log.processId.value_or(0)));
}

std::string TLMErrorLogFormatter::errorIdForCrashReport(const Report& report) {
  if (auto uuid = uuidRefToString(report.uuidRef())) return *uuid;
  return base::makeUuidString();
}

TLMAppleErrorLog& TLMErrorLogFormatter::addProcessInfoAndApplicationPathTo(TLMAppleErrorLog& log,
                                                                           const Report& report) {
  log.processId = 0;
  log.processName = std::string(kUnknown);
  log.parentProcessName = std::string(kUnknown);
  log.parentProcessId = std::nullopt;
  log.applicationPath = std::string(kUnknown);
  if (const auto& process = report.processInfo()) {
    log.processId = static_cast<std::int64_t>(process->processID());
    if (process->processName()) log.processName = *process->processName();
    if (process->processPath())
      log.applicationPath = anonymizedPathFromPath(process->processPath());
    if (process->parentProcessName()) log.parentProcessName = *process->parentProcessName();
    log.parentProcessId = static_cast<std::int64_t>(process->parentProcessID());
  }
  return log;
}

std::optional<Date> TLMErrorLogFormatter::getAppLaunchTimeFromReport(const Report& report) {
  if (report.processInfo()) return dateOf(report.processInfo()->processStartTime());
  return getCrashTimeFromReport(report);
}

std::optional<Date> TLMErrorLogFormatter::getCrashTimeFromReport(const Report& report) {
  return dateOf(report.systemInfo().timestamp());
}

const TLMErrorLogFormatter::Thread* TLMErrorLogFormatter::findCrashedThreadInReport(
    const Report& report) {
  for (const Thread& thread : report.threads()) {
    if (thread.crashed()) return &thread;
  }
  return nullptr;
}

std::vector<std::shared_ptr<TLMThread>> TLMErrorLogFormatter::extractThreadsFromReport(
    const Report& report, const Thread* crashedThread, bool is64bit) {
  // The uncaught exception with its own stack, for the crashed thread.
  std::shared_ptr<TLMException> exception;
  const auto& info = report.exceptionInfo();
  if (info && info->stackFrames() && !info->stackFrames()->empty()) {
    TLMStackFrames frames;
    for (const Frame& frame : *info->stackFrames()) {
      auto stackFrame = std::make_shared<TLMStackFrame>();
      stackFrame->address = formatAddress(frame.instructionPointer(), is64bit);
      frames.push_back(std::move(stackFrame));
    }
    exception = std::make_shared<TLMException>();
    exception->message = info->exceptionReason();
    exception->frames = std::move(frames);
    exception->type =
        info->exceptionName().empty() ? report.signalInfo().name() : info->exceptionName();
  }

  std::vector<std::shared_ptr<TLMThread>> threads;
  for (const Thread& thread : report.threads()) {
    auto out = std::make_shared<TLMThread>();
    out->threadId = thread.threadNumber();
    if (crashedThread && exception && thread.threadNumber() == crashedThread->threadNumber())
      out->exception = exception;
    for (const Frame& frame : thread.stackFrames()) {
      auto stackFrame = std::make_shared<TLMStackFrame>();
      stackFrame->address = formatAddress(frame.instructionPointer(), is64bit);
      stackFrame->code = formatStackFrame(frame, report);
      out->frames->push_back(std::move(stackFrame));
    }
    threads.push_back(std::move(out));
  }
  return threads;
}

std::string TLMErrorLogFormatter::formatStackFrame(const Frame& frame, const Report& report) {
  const std::uint64_t pc = frame.instructionPointer();
  const TLCrashReportBinaryImageInfo* image = report.imageForAddress(pc);
  std::uint64_t base = 0;
  std::uint64_t offset = 0;
  if (image) {
    base = image->imageBaseAddress();
    offset = pc - base;
  } else if (pc != 0) {
    TLM_LOG_WARNING(kTLMCrashesLogTag, "Cannot find image for ", hexText(pc));
  }
  const auto imagePath = image ? std::optional<std::string>(image->imageName()) : std::nullopt;
  const TLMImageType imageType = imageTypeForImagePath(imagePath, processPathOf(report));

  if (imageType == TLMImageType::other && frame.symbolInfo()) {
    std::string name = frame.symbolInfo()->symbolName();
    if (name.size() >= 2 && name.front() == '_') {
      switch (symbolPrefixRule(report.systemInfo().operatingSystem())) {
        case SymbolPrefix::dropped:
          name.erase(0, 1);
          break;
        case SymbolPrefix::unknown:
          TLM_LOG_WARNING(kTLMCrashesLogTag, "Symbol \"", name,
                          "\" prefix rules are unknown for this OS!");
          break;
        case SymbolPrefix::kept:
          break;
      }
    }
    const auto symbolOffset = static_cast<long long>(pc - frame.symbolInfo()->startAddress());
    return name + " + " + std::to_string(symbolOffset);
  }
  return hexText(base) + " + " + std::to_string(static_cast<long long>(offset));
}

std::map<std::string, std::string> TLMErrorLogFormatter::extractRegistersFromCrashedThread(
    const Thread* crashedThread, bool is64bit) {
  std::map<std::string, std::string> registers;
  if (!crashedThread) return registers;
  for (const auto& reg : crashedThread->registers())
    registers[reg.registerName()] = formatAddress(reg.registerValue(), is64bit);
  return registers;
}

std::optional<std::string> TLMErrorLogFormatter::extractExceptionReasonFromReport(
    const Report& report) {
  if (!report.exceptionInfo()) return std::nullopt;
  return report.exceptionInfo()->exceptionReason();
}

std::optional<std::string> TLMErrorLogFormatter::selectorRegisterValueFromReport(
    const Report& report, const Thread* crashedThread, std::uint64_t codeType) {
  if (!crashedThread) return std::nullopt;
  for (const SelectorRegisters& entry : kSelectorRegisters) {
    if (entry.cpuType != codeType) continue;
    if (auto name = selectorForRegisterWithName(entry.first, *crashedThread, report)) return name;
    if (entry.fallback) return selectorForRegisterWithName(entry.fallback, *crashedThread, report);
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> TLMErrorLogFormatter::selectorForRegisterWithName(
    std::string_view registerName, const Thread& thread, const Report& report) {
  const auto& registers = thread.registers();
  const auto reg = std::find_if(registers.begin(), registers.end(), [&](const auto& candidate) {
    return candidate.registerName() == registerName;
  });
  if (reg == registers.end() || reg->registerValue() == 0) return std::nullopt;
  if (!report.imageForAddress(reg->registerValue())) return std::nullopt;
  // The name would be read from the image's method-name section as loaded in
  // this process (matched by path and UUID). Images on Linux have no such
  // section, so there is no selector to name.
  return std::nullopt;
}

std::vector<std::shared_ptr<TLMBinary>> TLMErrorLogFormatter::extractBinaryImagesFromReport(
    const Report& report, bool is64bit) {
  const std::vector<std::uint64_t> addresses = addressesFromReport(report);
  std::vector<const TLCrashReportBinaryImageInfo*> images;
  for (const auto& image : report.images())
    images.push_back(&image);
  std::stable_sort(images.begin(), images.end(), [](const auto* a, const auto* b) {
    return a->imageBaseAddress() < b->imageBaseAddress();
  });

  const std::optional<std::string> processPath = processPathOf(report);
  std::vector<std::shared_ptr<TLMBinary>> binaries;
  for (const TLCrashReportBinaryImageInfo* image : images) {
    const std::uint64_t start = image->imageBaseAddress();
    const std::uint64_t end = image->imageSize() > 1 ? start + image->imageSize() - 1 : start;
    const bool used = isBinaryWithStart(start, end, addresses);
    if (!used && imageTypeForImagePath(image->imageName(), processPath) == TLMImageType::other)
      continue;
    auto binary = std::make_shared<TLMBinary>();
    binary->binaryId = image->imageUUID().value_or(std::string(kUnknown));
    binary->startAddress = formatAddress(start, is64bit);
    binary->endAddress = formatAddress(end, is64bit);
    binary->path = anonymizedPathFromPath(image->imageName());
    binary->name = lastPathComponent(image->imageName()).value_or(std::string(kUnknown));
    binary->primaryArchitectureId = image->codeType() ? image->codeType()->type() : 0;
    binary->architectureVariantId = image->codeType() ? image->codeType()->subtype() : 0;
    binaries.push_back(std::move(binary));
  }
  return binaries;
}

std::vector<std::uint64_t> TLMErrorLogFormatter::addressesFromReport(const Report& report) {
  std::vector<std::uint64_t> addresses;
  if (const auto& info = report.exceptionInfo(); info && info->stackFrames()) {
    for (const Frame& frame : *info->stackFrames())
      addresses.push_back(frame.instructionPointer());
  }
  for (const Thread& thread : report.threads()) {
    for (const Frame& frame : thread.stackFrames())
      addresses.push_back(frame.instructionPointer());
    for (const auto& reg : thread.registers())
      addresses.push_back(reg.registerValue());
  }
  return addresses;
}

bool TLMErrorLogFormatter::isBinaryWithStart(std::uint64_t start, std::uint64_t end,
                                             const std::vector<std::uint64_t>& addresses) {
  return std::any_of(addresses.begin(), addresses.end(),
                     [&](std::uint64_t address) { return start <= address && address <= end; });
}

std::string TLMErrorLogFormatter::anonymizedPathFromPath(const std::optional<std::string>& path) {
  if (!path || path->empty()) return "";
  if (path->starts_with("/Users/")) return replaceUserFolders(*path, "/Users/", "/Users/USER/");
  if (path->starts_with("/home/")) return replaceUserFolders(*path, "/home/", "/home/USER/");
  // Elsewhere such a folder may still name a user (another disk's user
  // folders): the path is left out.
  if (path->find("Users") != std::string::npos || path->find("/home/") != std::string::npos)
    return "";
  return *path;
}

TLMImageType TLMErrorLogFormatter::imageTypeForImagePath(
    const std::optional<std::string>& imagePath, const std::optional<std::string>& processPath) {
  if (!imagePath || !processPath) return TLMImageType::other;
  const std::string image = lowerCased(*imagePath);
  const std::string standardized = lowerCased(standardizedPath(*imagePath));
  const std::string process = lowerCased(*processPath);

  const std::size_t bundleEnd = standardized.find(".app/");
  // Without a bundle (a Linux program) only the process's own file is the
  // executable; everything else is a system library.
  if (bundleEnd == std::string::npos)
    return standardized == process ? TLMImageType::executable : TLMImageType::other;
  // The bundle's own copy of the Swift runtime counts as a system library.
  if (standardized.find("frameworks/libswift") != std::string::npos &&
      standardized.ends_with(".dylib"))
    return TLMImageType::other;
  if (standardized == process || image.starts_with(process)) return TLMImageType::executable;
  const std::string bundle = standardized.substr(0, bundleEnd + 5);
  if (standardized.starts_with(bundle) || image.starts_with(bundle)) return TLMImageType::inBundle;
  return TLMImageType::other;
}

bool TLMErrorLogFormatter::isCodeType64bit(std::uint64_t codeType) {
  return codeType == kCpuTypeX86_64 || codeType == kCpuTypeArm64;
}

std::optional<std::string> TLMErrorLogFormatter::uuidRefToString(
    const std::optional<std::array<std::uint8_t, 16>>& uuid) {
  if (!uuid) return std::nullopt;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < uuid->size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[(*uuid)[i] >> 4];
    text += kDigits[(*uuid)[i] & 0xf];
  }
  return text;
}

std::string TLMErrorLogFormatter::formatAddress(std::uint64_t address, bool is64bit) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*" PRIx64, is64bit ? 16 : 8, address);
  return text;
}

}  // namespace tlm
