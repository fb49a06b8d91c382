#include "crashcapture/report/formatter/text_formatter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "base/home_paths.h"
#include "base/utf8.h"

namespace tlcrash {
namespace {

constexpr std::string_view kUnknown = "???";

// Mach-O cpu types the layout names.
constexpr std::uint64_t kCpuTypeX86 = 7;
constexpr std::uint64_t kCpuTypeArm = 12;
constexpr std::uint64_t kCpuTypePowerPC = 18;
constexpr std::uint64_t kCpuTypeX86_64 = 0x1000007;
constexpr std::uint64_t kCpuTypeArm64 = 0x100000C;

void vappendf(std::string& out, const char* pattern, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, args);
  if (length > 0) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<std::size_t>(length) + 1, pattern, again);
    out.resize(start + static_cast<std::size_t>(length));
  }
  va_end(again);
}

[[gnu::format(printf, 2, 3)]] void appendf(std::string& out, const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  vappendf(out, pattern, args);
  va_end(args);
}

[[gnu::format(printf, 1, 2)]] std::string formatted(const char* pattern, ...) {
  std::string out;
  va_list args;
  va_start(args, pattern);
  vappendf(out, pattern, args);
  va_end(args);
  return out;
}

void log(const LogSink& sink, const std::string& line) {
  if (sink) sink(line);
}

const std::string& orUnknown(const std::optional<std::string>& value) {
  static const std::string unknown(kUnknown);
  return value ? *value : unknown;
}

// Text as the crash log shows it: every user's home folder named
// "/home/USER".
std::string shownPath(std::string_view path) {
  return base::anonymizeHomePaths(path, std::nullopt);
}

// The last component of a path: "/usr/lib/libc.so.6" gives "libc.so.6",
// "/a/b/" gives "b", "/" stays "/".
std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  if (path.size() <= 1) return std::string(path);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string osName(TLCrashReportOperatingSystem os) {
  switch (os) {
    case TLCrashReportOperatingSystem::MAC_OS_X:
    case TLCrashReportOperatingSystem::IPHONE_SIMULATOR:
      return "Mac OS X";
    case TLCrashReportOperatingSystem::IPHONE_OS:
      return "iPhone OS";
    case TLCrashReportOperatingSystem::APPLE_TVOS:
      return "Apple tvOS";
    case TLCrashReportOperatingSystem::LINUX:
      return "Linux";
    default:
      return formatted("Unknown (%d)", static_cast<int>(os));
  }
}

bool isMach(const std::optional<TLCrashReportProcessorInfo>& processor) {
  return processor &&
         processor->typeEncoding() == TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_MACH;
}

struct CodeType {
  std::string name;
  bool lp64;
};

std::optional<CodeType> knownCodeType(std::uint64_t cpuType) {
  switch (cpuType) {
    case kCpuTypeX86:
      return CodeType{"X86", false};
    case kCpuTypeArm:
      return CodeType{"ARM", false};
    case kCpuTypePowerPC:
      return CodeType{"PPC", false};
    case kCpuTypeX86_64:
      return CodeType{"X86-64", true};
    case kCpuTypeArm64:
      return CodeType{"ARM-64", true};
    default:
      return std::nullopt;
  }
}

// The first image with a known Mach code type decides; else the system's
// processor names the type and the layout is 64-bit.
CodeType codeTypeOf(const TLCrashReport& report) {
  for (const auto& image : report.images()) {
    if (!isMach(image.codeType())) continue;
    if (auto known = knownCodeType(image.codeType()->type())) return *known;
  }
  const auto& processor = report.systemInfo().processorInfo();
  if (!isMach(processor)) return {"Unknown", true};
  if (auto known = knownCodeType(processor->type())) return {known->name, true};
  return {formatted("Unknown (%" PRIu64 ")", processor->type()), true};
}

std::string architectureName(const std::optional<TLCrashReportProcessorInfo>& codeType) {
  if (!isMach(codeType)) return std::string(kUnknown);
  const std::uint64_t subtype = codeType->subtype();
  switch (codeType->type()) {
    case kCpuTypeX86:
      return "i386";
    case kCpuTypeArm:
      return subtype == 6    ? "armv6"
             : subtype == 9  ? "armv7"
             : subtype == 11 ? "armv7s"
                             : "arm-unknown";
    case kCpuTypePowerPC:
      return "powerpc";
    case kCpuTypeX86_64:
      return "x86_64";
    case kCpuTypeArm64:
      return subtype == 0   ? "arm64"
             : subtype == 1 ? "armv8"
             : subtype == 2 ? "arm64e"
                            : "arm64-unknown";
    default:
      return std::string(kUnknown);
  }
}

// Canonical upper-case UUID text, 8-4-4-4-12.
std::string uuidText(const std::array<std::uint8_t, 16>& uuid) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kDigits[uuid[i] >> 4]);
    text.push_back(kDigits[uuid[i] & 0xF]);
  }
  return text;
}

// "2023-11-14 22:13:20 +0000"; "???" for a time the calendar cannot show.
std::string dateText(const TLCrashReportDate& date) {
  const std::time_t seconds = static_cast<std::time_t>(date.time_since_epoch().count());
  std::tm parts{};
  if (::gmtime_r(&seconds, &parts) == nullptr) return std::string(kUnknown);
  char text[64];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts) == 0)
    return std::string(kUnknown);
  return text;
}

// A symbol name as the system's crash logs show it: Apple systems' C symbols
// carry a "_" the logs leave out; Linux symbols carry none (a "_" is part of
// the name, as in C++'s "_Z...").
std::string shownSymbolName(const std::string& name, TLCrashReportOperatingSystem os,
                            const LogSink& sink) {
  if (name.size() < 2 || name.front() != '_') return name;
  switch (os) {
    case TLCrashReportOperatingSystem::MAC_OS_X:
    case TLCrashReportOperatingSystem::IPHONE_OS:
    case TLCrashReportOperatingSystem::IPHONE_SIMULATOR:
    case TLCrashReportOperatingSystem::APPLE_TVOS:
      return name.substr(1);
    case TLCrashReportOperatingSystem::LINUX:
      return name;
    default:
      log(sink, formatted("[TLCrashReporter] Symbol \"%s\" prefix rules are unknown for this OS!",
                          name.c_str()));
      return name;
  }
}

void appendFrames(std::string& out, const std::vector<TLCrashReportStackFrameInfo>& frames,
                  const TLCrashReport& report, bool lp64, const LogSink& sink) {
  std::int64_t index = 0;
  for (const auto& frame : frames) {
    out += TLCrashReportTextFormatter::formatStackFrame(frame, index++, report, lp64, sink);
    out += '\n';
  }
}

void appendRegisters(std::string& out, const TLCrashReportThreadInfo& thread,
                     const TLCrashReport& report, const CodeType& codeType) {
  appendf(out, "Thread %" PRId64 " crashed with %s Thread State:\n", thread.threadNumber(),
          codeType.name.c_str());
  // ARM's r12 is the intra-procedure-call register, "ip" in crash logs.
  const auto& machine = report.machineInfo();
  const bool arm = machine && isMach(machine->processorInfo()) &&
                   (machine->processorInfo()->type() & 0xFFFFFF) == kCpuTypeArm;
  int column = 0;
  for (const auto& reg : thread.registers()) {
    const std::string& name =
        arm && reg.registerName() == "r12" ? std::string("ip") : reg.registerName();
    if (codeType.lp64) {
      appendf(out, "%6s: 0x%016" PRIx64 " ", name.c_str(), reg.registerValue());
    } else {
      appendf(out, "%6s: 0x%08" PRIx64 " ", name.c_str(), reg.registerValue());
    }
    if (++column == 4) {
      out += '\n';
      column = 0;
    }
  }
  if (column != 0) out += '\n';
  out += '\n';
}

void appendImages(std::string& out, const TLCrashReport& report, bool lp64) {
  out += "Binary Images:\n";
  std::vector<const TLCrashReportBinaryImageInfo*> images;
  for (const auto& image : report.images())
    images.push_back(&image);
  std::stable_sort(images.begin(), images.end(), [](const auto* a, const auto* b) {
    return a->imageBaseAddress() < b->imageBaseAddress();
  });
  const auto& process = report.processInfo();
  const std::optional<std::string> processPath = process ? process->processPath() : std::nullopt;
  std::optional<std::uint64_t> previousBase;
  for (const auto* image : images) {
    const std::uint64_t base = image->imageBaseAddress();
    if (previousBase == base) continue;
    previousBase = base;
    const std::uint64_t end = base + std::max<std::uint64_t>(image->imageSize(), 1) - 1;
    const std::string path = shownPath(image->imageName());
    const char* marker = processPath == image->imageName() ? "+" : " ";
    appendf(out,
            lp64 ? "%#18" PRIx64 " - %#18" PRIx64 " %s%s %s  <%s> %s\n"
                 : "%#10" PRIx64 " - %#10" PRIx64 " %s%s %s  <%s> %s\n",
            base, end, marker, lastPathComponent(path).c_str(),
            architectureName(image->codeType()).c_str(), orUnknown(image->imageUUID()).c_str(),
            path.c_str());
  }
}

}  // namespace

TLCrashReportTextFormatter::TLCrashReportTextFormatter(std::int32_t textFormat,
                                                       TLCrashReportStringEncoding stringEncoding,
                                                       LogSink log)
    : textFormat_(textFormat), stringEncoding_(stringEncoding), log_(std::move(log)) {}

base::Result<base::Bytes> TLCrashReportTextFormatter::formatReport(
    const TLCrashReport& report) const {
  const std::string text = base::repairUtf8(stringValueForCrashReport(report, textFormat_, log_));
  base::Bytes bytes;
  bytes.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (stringEncoding_ == TLCrashReportStringEncoding::utf8 || byte < 0x80) {
      bytes.push_back(byte);
    } else if ((byte & 0xC0) != 0x80) {
      bytes.push_back('?');  // the lead byte of a character ASCII lacks
    }
  }
  return bytes;
}

std::string TLCrashReportTextFormatter::stringValueForCrashReport(const TLCrashReport& report,
                                                                  std::int32_t /*textFormat*/,
                                                                  const LogSink& log) {
  const CodeType codeType = codeTypeOf(report);
  const auto& system = report.systemInfo();
  const auto& app = report.applicationInfo();
  const auto& process = report.processInfo();
  const auto& machine = report.machineInfo();
  std::string out;

  appendf(out, "Incident Identifier: %s\n",
          report.uuidRef() ? uuidText(*report.uuidRef()).c_str() : "???");
  appendf(out, "Hardware Model:      %s\n",
          machine ? orUnknown(machine->modelName()).c_str() : "???");
  if (process) {
    appendf(out, "Process:         %s [%" PRIu64 "]\n", orUnknown(process->processName()).c_str(),
            process->processID());
    const auto& path = process->processPath();
    appendf(out, "Path:            %s\n", path ? shownPath(*path).c_str() : "???");
  } else {
    out += "Process:         ??? [???]\n";
    out += "Path:            ???\n";
  }
  appendf(out, "Identifier:      %s\n", app.applicationIdentifier().c_str());
  if (const auto& marketing = app.applicationMarketingVersion()) {
    appendf(out, "Version:         %s (%s)\n", marketing->c_str(),
            app.applicationVersion().c_str());
  } else {
    appendf(out, "Version:         %s\n", app.applicationVersion().c_str());
  }
  appendf(out, "Code Type:       %s\n", codeType.name.c_str());
  if (process) {
    appendf(out, "Parent Process:  %s [%" PRIu64 "]\n",
            orUnknown(process->parentProcessName()).c_str(), process->parentProcessID());
  } else {
    out += "Parent Process:  ??? [???]\n";
  }
  out += '\n';

  appendf(out, "Date/Time:       %s\n",
          system.timestamp() ? dateText(*system.timestamp()).c_str() : "???");
  appendf(out, "OS Version:      %s %s (%s)\n", osName(system.operatingSystem()).c_str(),
          system.operatingSystemVersion().c_str(),
          orUnknown(system.operatingSystemBuild()).c_str());
  out += "Report Version:  104\n";
  out += '\n';

  const auto& signal = report.signalInfo();
  appendf(out, "Exception Type:  %s\n", signal.name().c_str());
  appendf(out, "Exception Codes: %s at 0x%" PRIx64 "\n", signal.code().c_str(), signal.address());
  const auto& threads = report.threads();
  const auto firstCrashed = std::find_if(threads.begin(), threads.end(),
                                         [](const auto& thread) { return thread.crashed(); });
  if (firstCrashed != threads.end())
    appendf(out, "Crashed Thread:  %" PRId64 "\n", firstCrashed->threadNumber());
  out += '\n';

  if (const auto& exception = report.exceptionInfo()) {
    out += "Application Specific Information:\n";
    appendf(out, "*** Terminating app due to uncaught exception '%s', reason: '%s'\n",
            exception->exceptionName().c_str(), exception->exceptionReason().c_str());
    out += '\n';
    if (exception->stackFrames() && !exception->stackFrames()->empty()) {
      out += "Last Exception Backtrace:\n";
      appendFrames(out, *exception->stackFrames(), report, codeType.lp64, log);
      out += '\n';
    }
  }

  for (const auto& thread : threads) {
    appendf(out, thread.crashed() ? "Thread %" PRId64 " Crashed:\n" : "Thread %" PRId64 ":\n",
            thread.threadNumber());
    appendFrames(out, thread.stackFrames(), report, codeType.lp64, log);
    out += '\n';
  }

  const auto lastCrashed = std::find_if(threads.rbegin(), threads.rend(),
                                        [](const auto& thread) { return thread.crashed(); });
  if (lastCrashed != threads.rend()) appendRegisters(out, *lastCrashed, report, codeType);

  appendImages(out, report, codeType.lp64);
  // Paths in free text too, such as an exception's reason.
  return shownPath(out);
}

std::string TLCrashReportTextFormatter::formatStackFrame(const TLCrashReportStackFrameInfo& frame,
                                                         std::int64_t frameIndex,
                                                         const TLCrashReport& report, bool lp64,
                                                         const LogSink& log) {
  const std::uint64_t pc = frame.instructionPointer();
  const TLCrashReportBinaryImageInfo* image = report.imageForAddress(pc);
  if (image == nullptr && pc != 0)
    tlcrash::log(log, formatted("[TLCrashReporter] Cannot find image for 0x%" PRIx64, pc));

  std::string imageName =
      image != nullptr ? lastPathComponent(shownPath(image->imageName())) : std::string(kUnknown);
  // Padded to 35 characters as UTF-16 counts them.
  const std::size_t width = base::utf16Length(imageName);
  if (width < 35) imageName.append(35 - width, ' ');

  std::string location;
  if (const auto& symbol = frame.symbolInfo()) {
    location = formatted(
        "%s + %" PRId64,
        shownSymbolName(symbol->symbolName(), report.systemInfo().operatingSystem(), log).c_str(),
        static_cast<std::int64_t>(pc - symbol->startAddress()));
  } else {
    const std::uint64_t base = image != nullptr ? image->imageBaseAddress() : 0;
    const std::uint64_t offset = image != nullptr ? pc - base : 0;
    location = formatted("0x%" PRIx64 " + %" PRId64, base, static_cast<std::int64_t>(offset));
  }
  return formatted("%-4" PRId64 "%s 0x%0*" PRIx64 " %s", frameIndex, imageName.c_str(),
                   lp64 ? 16 : 8, pc, location.c_str());
}

}  // namespace tlcrash
