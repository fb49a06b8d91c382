#pragma once

// The model of a decoded crash report: small immutable values, each set once
// by its constructor and read through its getters. TLCrashReport
// (crash_report.h) holds one of each section; the text formatter and the
// crash service read them. Strings are valid UTF-8 (the decoder repairs what
// is not); an absent optional value of the report is an empty std::optional.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tlcrash {

// The report's enumerations, with the report format's numbers. A value read
// from a file may be any 32-bit number, named here or not.
enum class TLCrashReportOperatingSystem : std::int32_t {
  MAC_OS_X = 0,
  IPHONE_OS = 1,
  IPHONE_SIMULATOR = 2,
  OS_UNKNOWN = 3,
  APPLE_TVOS = 4,
  LINUX = 5,
};

enum class TLCrashReportArchitecture : std::int32_t {
  X86_32 = 0,
  X86_64 = 1,
  ARMV6 = 2,
  PPC = 3,
  PPC64 = 4,
  ARMV7 = 5,
  ARCHITECTURE_UNKNOWN = 6,
};

enum class TLCrashReportProcessorTypeEncoding : std::int32_t {
  TYPE_ENCODING_UNKNOWN = 0,
  // `type` and `subtype` are a Mach-O cpu type and subtype.
  TYPE_ENCODING_MACH = 1,
};

// A point in time as the report stores it: whole seconds since the Unix
// epoch (any 64-bit count, so no conversion can overflow).
using TLCrashReportDate = std::chrono::sys_seconds;

class TLCrashReportProcessorInfo {
 public:
  TLCrashReportProcessorInfo(TLCrashReportProcessorTypeEncoding typeEncoding, std::uint64_t type,
                             std::uint64_t subtype)
      : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) {}

  TLCrashReportProcessorTypeEncoding typeEncoding() const { return typeEncoding_; }
  std::uint64_t type() const { return type_; }
  std::uint64_t subtype() const { return subtype_; }
  friend bool operator==(const TLCrashReportProcessorInfo&,
                         const TLCrashReportProcessorInfo&) = default;

 private:
  TLCrashReportProcessorTypeEncoding typeEncoding_;
  std::uint64_t type_;
  std::uint64_t subtype_;
};

class TLCrashReportSystemInfo {
 public:
  TLCrashReportSystemInfo(TLCrashReportOperatingSystem operatingSystem,
                          std::string operatingSystemVersion,
                          std::optional<std::string> operatingSystemBuild,
                          TLCrashReportArchitecture architecture,
                          std::optional<TLCrashReportProcessorInfo> processorInfo,
                          std::optional<TLCrashReportDate> timestamp);
  // Without build and processor info.
  TLCrashReportSystemInfo(TLCrashReportOperatingSystem operatingSystem,
                          std::string operatingSystemVersion,
                          TLCrashReportArchitecture architecture,
                          std::optional<TLCrashReportDate> timestamp);
  // Without processor info.
  TLCrashReportSystemInfo(TLCrashReportOperatingSystem operatingSystem,
                          std::string operatingSystemVersion,
                          std::optional<std::string> operatingSystemBuild,
                          TLCrashReportArchitecture architecture,
                          std::optional<TLCrashReportDate> timestamp);

  TLCrashReportOperatingSystem operatingSystem() const { return operatingSystem_; }
  const std::string& operatingSystemVersion() const { return operatingSystemVersion_; }
  const std::optional<std::string>& operatingSystemBuild() const { return operatingSystemBuild_; }
  TLCrashReportArchitecture architecture() const { return architecture_; }
  // The processor the report ran on; the decoder always sets it.
  const std::optional<TLCrashReportProcessorInfo>& processorInfo() const { return processorInfo_; }
  const std::optional<TLCrashReportDate>& timestamp() const { return timestamp_; }

 private:
  TLCrashReportOperatingSystem operatingSystem_;
  std::string operatingSystemVersion_;
  std::optional<std::string> operatingSystemBuild_;
  TLCrashReportArchitecture architecture_;
  std::optional<TLCrashReportProcessorInfo> processorInfo_;
  std::optional<TLCrashReportDate> timestamp_;
};

class TLCrashReportMachineInfo {
 public:
  TLCrashReportMachineInfo(std::optional<std::string> modelName,
                           std::optional<TLCrashReportProcessorInfo> processorInfo,
                           std::uint64_t processorCount, std::uint64_t logicalProcessorCount)
      : modelName_(std::move(modelName)),
        processorInfo_(processorInfo),
        processorCount_(processorCount),
        logicalProcessorCount_(logicalProcessorCount) {}

  const std::optional<std::string>& modelName() const { return modelName_; }
  const std::optional<TLCrashReportProcessorInfo>& processorInfo() const { return processorInfo_; }
  std::uint64_t processorCount() const { return processorCount_; }
  std::uint64_t logicalProcessorCount() const { return logicalProcessorCount_; }

 private:
  std::optional<std::string> modelName_;
  std::optional<TLCrashReportProcessorInfo> processorInfo_;
  std::uint64_t processorCount_;
  std::uint64_t logicalProcessorCount_;
};

class TLCrashReportApplicationInfo {
 public:
  TLCrashReportApplicationInfo(std::string applicationIdentifier, std::string applicationVersion,
                               std::optional<std::string> applicationMarketingVersion)
      : applicationIdentifier_(std::move(applicationIdentifier)),
        applicationVersion_(std::move(applicationVersion)),
        applicationMarketingVersion_(std::move(applicationMarketingVersion)) {}

  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  const std::string& applicationVersion() const { return applicationVersion_; }
  const std::optional<std::string>& applicationMarketingVersion() const {
    return applicationMarketingVersion_;
  }

 private:
  std::string applicationIdentifier_;
  std::string applicationVersion_;
  std::optional<std::string> applicationMarketingVersion_;
};

class TLCrashReportProcessInfo {
 public:
  TLCrashReportProcessInfo(std::optional<std::string> processName, std::uint64_t processID,
                           std::optional<std::string> processPath,
                           std::optional<TLCrashReportDate> processStartTime,
                           std::optional<std::string> parentProcessName,
                           std::uint64_t parentProcessID, bool native)
      : processName_(std::move(processName)),
        processID_(processID),
        processPath_(std::move(processPath)),
        processStartTime_(processStartTime),
        parentProcessName_(std::move(parentProcessName)),
        parentProcessID_(parentProcessID),
        native_(native) {}

  const std::optional<std::string>& processName() const { return processName_; }
  std::uint64_t processID() const { return processID_; }
  const std::optional<std::string>& processPath() const { return processPath_; }
  const std::optional<TLCrashReportDate>& processStartTime() const { return processStartTime_; }
  const std::optional<std::string>& parentProcessName() const { return parentProcessName_; }
  std::uint64_t parentProcessID() const { return parentProcessID_; }
  bool native() const { return native_; }

 private:
  std::optional<std::string> processName_;
  std::uint64_t processID_;
  std::optional<std::string> processPath_;
  std::optional<TLCrashReportDate> processStartTime_;
  std::optional<std::string> parentProcessName_;
  std::uint64_t parentProcessID_;
  bool native_;
};

class TLCrashReportSymbolInfo {
 public:
  TLCrashReportSymbolInfo(std::string symbolName, std::uint64_t startAddress,
                          std::uint64_t endAddress)
      : symbolName_(std::move(symbolName)), startAddress_(startAddress), endAddress_(endAddress) {}

  const std::string& symbolName() const { return symbolName_; }
  std::uint64_t startAddress() const { return startAddress_; }
  // 0 when the report gives no end.
  std::uint64_t endAddress() const { return endAddress_; }

 private:
  std::string symbolName_;
  std::uint64_t startAddress_;
  std::uint64_t endAddress_;
};

class TLCrashReportStackFrameInfo {
 public:
  TLCrashReportStackFrameInfo(std::uint64_t instructionPointer,
                              std::optional<TLCrashReportSymbolInfo> symbolInfo)
      : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbolInfo)) {}

  std::uint64_t instructionPointer() const { return instructionPointer_; }
  const std::optional<TLCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

 private:
  std::uint64_t instructionPointer_;
  std::optional<TLCrashReportSymbolInfo> symbolInfo_;
};

class TLCrashReportRegisterInfo {
 public:
  TLCrashReportRegisterInfo(std::string registerName, std::uint64_t registerValue)
      : registerName_(std::move(registerName)), registerValue_(registerValue) {}

  const std::string& registerName() const { return registerName_; }
  std::uint64_t registerValue() const { return registerValue_; }

 private:
  std::string registerName_;
  std::uint64_t registerValue_;
};

class TLCrashReportThreadInfo {
 public:
  TLCrashReportThreadInfo(std::int64_t threadNumber,
                          std::vector<TLCrashReportStackFrameInfo> stackFrames, bool crashed,
                          std::vector<TLCrashReportRegisterInfo> registers)
      : threadNumber_(threadNumber),
        stackFrames_(std::move(stackFrames)),
        crashed_(crashed),
        registers_(std::move(registers)) {}

  std::int64_t threadNumber() const { return threadNumber_; }
  const std::vector<TLCrashReportStackFrameInfo>& stackFrames() const { return stackFrames_; }
  bool crashed() const { return crashed_; }
  const std::vector<TLCrashReportRegisterInfo>& registers() const { return registers_; }

 private:
  std::int64_t threadNumber_;
  std::vector<TLCrashReportStackFrameInfo> stackFrames_;
  bool crashed_;
  std::vector<TLCrashReportRegisterInfo> registers_;
};

class TLCrashReportBinaryImageInfo {
 public:
  // `uuid`, when given, becomes imageUUID as lowercase hexadecimal, two
  // digits per byte without separators (32 characters for 16 bytes).
  TLCrashReportBinaryImageInfo(std::optional<TLCrashReportProcessorInfo> codeType,
                               std::uint64_t baseAddress, std::uint64_t size, std::string name,
                               const std::optional<std::vector<std::uint8_t>>& uuid);

  const std::optional<TLCrashReportProcessorInfo>& codeType() const { return codeType_; }
  std::uint64_t imageBaseAddress() const { return imageBaseAddress_; }
  std::uint64_t imageSize() const { return imageSize_; }
  // The image's path.
  const std::string& imageName() const { return imageName_; }
  bool hasImageUUID() const { return imageUUID_.has_value(); }
  const std::optional<std::string>& imageUUID() const { return imageUUID_; }

 private:
  std::optional<TLCrashReportProcessorInfo> codeType_;
  std::uint64_t imageBaseAddress_;
  std::uint64_t imageSize_;
  std::string imageName_;
  std::optional<std::string> imageUUID_;
};

class TLCrashReportExceptionInfo {
 public:
  TLCrashReportExceptionInfo(std::string exceptionName, std::string reason,
                             std::optional<std::vector<TLCrashReportStackFrameInfo>> stackFrames)
      : exceptionName_(std::move(exceptionName)),
        exceptionReason_(std::move(reason)),
        stackFrames_(std::move(stackFrames)) {}
  // Without stack frames.
  TLCrashReportExceptionInfo(std::string exceptionName, std::string reason)
      : TLCrashReportExceptionInfo(std::move(exceptionName), std::move(reason), std::nullopt) {}

  const std::string& exceptionName() const { return exceptionName_; }
  const std::string& exceptionReason() const { return exceptionReason_; }
  // None when the exception was recorded without frames.
  const std::optional<std::vector<TLCrashReportStackFrameInfo>>& stackFrames() const {
    return stackFrames_;
  }

 private:
  std::string exceptionName_;
  std::string exceptionReason_;
  std::optional<std::vector<TLCrashReportStackFrameInfo>> stackFrames_;
};

class TLCrashReportSignalInfo {
 public:
  TLCrashReportSignalInfo(std::string name, std::string code, std::uint64_t address)
      : name_(std::move(name)), code_(std::move(code)), address_(address) {}

  // "SIGSEGV".
  const std::string& name() const { return name_; }
  // "SEGV_MAPERR", or "#" and the number.
  const std::string& code() const { return code_; }
  std::uint64_t address() const { return address_; }

 private:
  std::string name_;
  std::string code_;
  std::uint64_t address_;
};

class TLCrashReportMachExceptionInfo {
 public:
  TLCrashReportMachExceptionInfo(std::uint64_t type, std::vector<std::uint64_t> codes)
      : type_(type), codes_(std::move(codes)) {}

  std::uint64_t type() const { return type_; }
  const std::vector<std::uint64_t>& codes() const { return codes_; }

 private:
  std::uint64_t type_;
  std::vector<std::uint64_t> codes_;
};

}  // namespace tlcrash
