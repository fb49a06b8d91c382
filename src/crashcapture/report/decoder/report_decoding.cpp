#include "crashcapture/report/decoder/report_decoding.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "crashcapture/platform/reporter_error.h"
#include "crashcapture/report/report_format.h"

namespace tlcrash {
namespace {

using Frame = Tlcrash__CrashReport__Thread__StackFrame;

// Processor numbers that change how the model reads a report.
constexpr std::uint64_t kCpuTypeArm64 = 0x100000C;
constexpr std::uint64_t kCpuSubtypeArm64E = 2;
// Pointer authentication bits of an ARM64E code address sit above bit 35.
constexpr std::uint64_t kArm64EPointerMask = 0xFFFFFFFFF;
constexpr std::size_t kMaxMachExceptionCodes = 255;

base::Error invalid(std::string message) {
  return base::Error(std::string(kTLCrashReporterErrorDomain),
                     static_cast<int>(TLCrashReporterError::invalidCrashReport),
                     std::move(message));
}

// Report text as the model holds it: valid UTF-8.
std::string text(const char* value) {
  return value != nullptr ? base::repairUtf8(value) : std::string();
}

std::optional<std::string> optionalText(const char* value) {
  if (value == nullptr) return std::nullopt;
  return text(value);
}

std::optional<TLCrashReportDate> date(std::int64_t seconds) {
  return TLCrashReportDate(std::chrono::seconds(seconds));
}

// An enumeration field as the number the file holds. protoc-c's enumerations
// have no fixed type in C++, and the unpacker stores any 32-bit number in
// them; reading one outside the named values through the enumeration type
// is undefined, so it is read as the number it is.
template <class Enumeration>
std::int32_t number(const Enumeration& field) {
  static_assert(sizeof(Enumeration) == sizeof(std::int32_t));
  std::int32_t value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

std::vector<std::uint8_t> bytes(const ProtobufCBinaryData& data) {
  if (data.len == 0) return {};
  return std::vector<std::uint8_t>(data.data, data.data + data.len);
}

base::Result<TLCrashReportProcessorInfo> processorInfo(
    const Tlcrash__CrashReport__Processor* processor) {
  if (processor == nullptr) return invalid("Crash report is missing processor info section");
  return TLCrashReportProcessorInfo(
      static_cast<TLCrashReportProcessorTypeEncoding>(number(processor->encoding)), processor->type,
      processor->subtype);
}

// The processor an architecture stands for, when the report has no machine
// processor of its own.
std::optional<TLCrashReportProcessorInfo> processorOfArchitecture(std::int32_t architecture) {
  struct Known {
    Tlcrash__Architecture architecture;
    std::uint64_t type;
    std::uint64_t subtype;
  };
  static constexpr Known kKnown[] = {
      {TLCRASH__ARCHITECTURE__X86_32, 7, 3},        {TLCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
      {TLCRASH__ARCHITECTURE__ARMV6, 12, 6},        {TLCRASH__ARCHITECTURE__PPC, 18, 0},
      {TLCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {TLCRASH__ARCHITECTURE__ARMV7, 12, 9},
  };
  for (const Known& known : kKnown) {
    if (known.architecture == architecture)
      return TLCrashReportProcessorInfo(TLCrashReportProcessorTypeEncoding::TYPE_ENCODING_MACH,
                                        known.type, known.subtype);
  }
  return std::nullopt;
}

base::Result<std::vector<TLCrashReportStackFrameInfo>> stackFrames(const Frame* const* frames,
                                                                   std::size_t count, bool arm64E) {
  std::vector<TLCrashReportStackFrameInfo> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const Frame* frame = frames[i];
    if (frame == nullptr) return invalid("Crash report is missing stack frame information");
    std::optional<TLCrashReportSymbolInfo> symbol;
    if (frame->symbol != nullptr) {
      if (frame->symbol->name == nullptr)
        return invalid("Crash report is missing symbol information");
      symbol.emplace(text(frame->symbol->name), frame->symbol->start_address,
                     frame->symbol->has_end_address ? frame->symbol->end_address : 0);
    }
    const std::uint64_t pc = arm64E ? frame->pc & kArm64EPointerMask : frame->pc;
    out.emplace_back(pc, std::move(symbol));
  }
  return out;
}

base::Result<TLCrashReportThreadInfo> threadInfo(const Tlcrash__CrashReport__Thread& thread,
                                                 bool arm64E) {
  auto frames = stackFrames(thread.frames, thread.n_frames, arm64E);
  if (!frames) return frames.error();
  std::vector<TLCrashReportRegisterInfo> registers;
  registers.reserve(thread.n_registers);
  for (std::size_t i = 0; i < thread.n_registers; ++i) {
    const auto* value = thread.registers[i];
    if (value == nullptr || value->name == nullptr)
      return invalid("Missing register name in register value");
    registers.emplace_back(text(value->name), value->value);
  }
  return TLCrashReportThreadInfo(thread.thread_number, std::move(frames).value(), thread.crashed,
                                 std::move(registers));
}

base::Result<TLCrashReportBinaryImageInfo> imageInfo(
    const Tlcrash__CrashReport__BinaryImage* image) {
  if (image == nullptr || image->name == nullptr)
    return invalid("Missing image name in image record");
  std::optional<TLCrashReportProcessorInfo> codeType;
  if (image->code_type != nullptr) {
    auto processor = processorInfo(image->code_type);
    if (!processor) return processor.error();
    codeType = *processor;
  }
  std::optional<std::vector<std::uint8_t>> uuid;
  if (image->has_uuid) uuid = bytes(image->uuid);
  return TLCrashReportBinaryImageInfo(codeType, image->base_address, image->size, text(image->name),
                                      uuid);
}

}  // namespace

base::Result<UnpackedCrashReport> decodeCrashData(std::span<const std::uint8_t> data) {
  if (data.size() <= kReportFileHeaderSize) return invalid("Could not decode truncated crash log");
  if (!std::equal(std::begin(kReportFileMagic), std::end(kReportFileMagic), data.begin()))
    return invalid("Could not decode invalid crash log header");
  const std::uint8_t version = data[sizeof kReportFileMagic];
  if (version != kReportFileVersion)
    return invalid("Could not decode unsupported crash report version: " + std::to_string(version));
  const auto body = data.subspan(kReportFileHeaderSize);
  UnpackedCrashReport message(tlcrash__crash_report__unpack(nullptr, body.size(), body.data()));
  if (message == nullptr) return invalid("An unknown error occured decoding the crash report");
  return message;
}

base::Result<TLCrashReport> buildCrashReport(const Tlcrash__CrashReport& message) {
  // 1. The report's identifier.
  std::optional<std::array<std::uint8_t, 16>> uuid;
  if (message.report_info != nullptr && message.report_info->has_uuid) {
    const ProtobufCBinaryData& data = message.report_info->uuid;
    if (data.len != 16) return invalid("Report UUID value is not a standard 16 bytes");
    uuid.emplace();
    std::copy(data.data, data.data + 16, uuid->begin());
  }

  // 2. The machine.
  std::optional<TLCrashReportMachineInfo> machine;
  if (const auto* info = message.machine_info) {
    std::optional<TLCrashReportProcessorInfo> processor;
    if (info->processor != nullptr) {
      auto extracted = processorInfo(info->processor);
      if (!extracted) return extracted.error();
      processor = *extracted;
    }
    machine.emplace(optionalText(info->model), processor, info->processor_count,
                    info->logical_processor_count);
  }
  const std::optional<TLCrashReportProcessorInfo> machineProcessor =
      machine ? machine->processorInfo() : std::nullopt;
  const bool arm64E = machineProcessor && machineProcessor->type() == kCpuTypeArm64 &&
                      machineProcessor->subtype() == kCpuSubtypeArm64E;

  // 3. The system.
  const auto* system = message.system_info;
  if (system == nullptr) return invalid("Crash report is missing System Information section");
  if (system->os_version == nullptr)
    return invalid("Crash report is missing System Information OS version field");
  std::optional<TLCrashReportProcessorInfo> systemProcessor = machineProcessor;
  if (!systemProcessor) {
    systemProcessor = processorOfArchitecture(number(system->architecture));
    if (!systemProcessor) return invalid("Crash report has an unknown architecture");
  }
  TLCrashReportSystemInfo systemInfo(
      static_cast<TLCrashReportOperatingSystem>(number(system->operating_system)),
      text(system->os_version), optionalText(system->os_build),
      static_cast<TLCrashReportArchitecture>(number(system->architecture)), systemProcessor,
      system->timestamp != 0 ? date(system->timestamp) : std::nullopt);

  // 4. The application.
  const auto* app = message.application_info;
  if (app == nullptr) return invalid("Crash report is missing Application Information section");
  if (app->identifier == nullptr)
    return invalid("Crash report is missing Application Information app identifier field");
  if (app->version == nullptr)
    return invalid("Crash report is missing Application Information app version field");
  TLCrashReportApplicationInfo applicationInfo(text(app->identifier), text(app->version),
                                               optionalText(app->marketing_version));

  // 5. The process.
  std::optional<TLCrashReportProcessInfo> process;
  if (const auto* info = message.process_info) {
    process.emplace(
        optionalText(info->process_name), info->process_id, optionalText(info->process_path),
        info->has_start_time ? date(static_cast<std::int64_t>(info->start_time)) : std::nullopt,
        optionalText(info->parent_process_name), info->parent_process_id, info->native);
  }

  // 6. The signal.
  const auto* signal = message.signal;
  if (signal == nullptr) return invalid("Crash report is missing Signal Information section");
  if (signal->name == nullptr) return invalid("Crash report is missing signal name field");
  if (signal->code == nullptr) return invalid("Crash report is missing signal code field");
  TLCrashReport report(
      std::move(systemInfo), std::move(applicationInfo),
      TLCrashReportSignalInfo(text(signal->name), text(signal->code), signal->address));
  report.uuidRef_ = uuid;
  report.machineInfo_ = std::move(machine);
  report.processInfo_ = std::move(process);

  // 7. The Mach exception.
  if (const auto* mach = signal->mach_exception) {
    if (mach->n_codes > kMaxMachExceptionCodes)
      return invalid("Crash report includes too many Mach Exception codes");
    report.machExceptionInfo_.emplace(
        mach->type, std::vector<std::uint64_t>(mach->codes, mach->codes + mach->n_codes));
  }

  // 8. The threads.
  if (message.n_threads == 0) return invalid("Crash report is missing thread state information");
  report.threads_.reserve(message.n_threads);
  for (std::size_t i = 0; i < message.n_threads; ++i) {
    if (message.threads[i] == nullptr)
      return invalid("Crash report is missing thread state information");
    auto thread = threadInfo(*message.threads[i], arm64E);
    if (!thread) return thread.error();
    report.threads_.push_back(std::move(thread).value());
  }

  // 9. The images.
  if (message.n_binary_images == 0)
    return invalid("Crash report is missing binary image information");
  report.images_.reserve(message.n_binary_images);
  for (std::size_t i = 0; i < message.n_binary_images; ++i) {
    auto image = imageInfo(message.binary_images[i]);
    if (!image) return image.error();
    report.images_.push_back(std::move(image).value());
  }

  // 10. The uncaught exception.
  if (const auto* exception = message.exception) {
    if (exception->name == nullptr) return invalid("Crash report is missing exception name field");
    if (exception->reason == nullptr)
      return invalid("Crash report is missing exception reason field");
    std::optional<std::vector<TLCrashReportStackFrameInfo>> frames;
    if (exception->n_frames > 0) {
      auto extracted = stackFrames(exception->frames, exception->n_frames, arm64E);
      if (!extracted) return extracted.error();
      frames = std::move(extracted).value();
    }
    report.exceptionInfo_.emplace(text(exception->name), text(exception->reason),
                                  std::move(frames));
  }

  // 11. The application's own data.
  if (message.has_custom_data) report.customData_ = bytes(message.custom_data);
  return report;
}

}  // namespace tlcrash
