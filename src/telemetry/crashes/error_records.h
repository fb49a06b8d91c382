#pragma once

// The records that make up the body of a crash or handled-error log: stack
// frames, exceptions, threads and binary images, plus the wrapper SDK's
// exception as it is stored on disk. Each has a JSON object (members only for
// set fields), a keyed archive under the same keys, and value equality. A
// record is plain data, used by one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/bytes.h"
#include "telemetry/core/archive.h"

namespace tlm {

class TLMStackFrame final : public TLMArchivable {
 public:
  // Instruction address as padded hex.
  std::optional<std::string> address;
  // Symbol and offset, or image base and offset, as text.
  std::optional<std::string> code;
  // The wrapper SDK's frame class ("className" in JSON and archive; the name
  // className() is the archive's class name).
  std::optional<std::string> frameClassName;
  std::optional<std::string> methodName;
  std::optional<std::int64_t> lineNumber;
  std::optional<std::string> fileName;

  nlohmann::ordered_json serializeToDictionary() const;
  bool isEqual(const TLMStackFrame& other) const;

  std::string_view className() const override { return "TLMStackFrame"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

using TLMStackFrames = std::vector<std::shared_ptr<TLMStackFrame>>;

class TLMException final : public TLMArchivable {
 public:
  // Exception name or signal name.
  std::optional<std::string> type;
  // Exception reason.
  std::optional<std::string> message;
  std::optional<std::string> stackTrace;
  std::optional<TLMStackFrames> frames;
  std::optional<std::vector<std::shared_ptr<TLMException>>> innerExceptions;
  std::optional<std::string> wrapperSdkName;

  nlohmann::ordered_json serializeToDictionary() const;
  // "type" set and at least one frame.
  bool isValid() const;
  bool isEqual(const TLMException& other) const;

  std::string_view className() const override { return "TLMException"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMThread final : public TLMArchivable {
 public:
  // Thread number from the report.
  std::optional<std::int64_t> threadId;
  std::optional<std::string> name;
  // Empty for a new thread; a decoded thread holds exactly what was archived.
  std::optional<TLMStackFrames> frames = TLMStackFrames{};
  // Only on the crashed thread.
  std::shared_ptr<TLMException> exception;

  nlohmann::ordered_json serializeToDictionary() const;
  // "threadId" set and at least one frame.
  bool isValid() const;
  bool isEqual(const TLMThread& other) const;

  std::string_view className() const override { return "TLMThread"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMBinary final : public TLMArchivable {
 public:
  // Image id as hex text, or "???".
  std::optional<std::string> binaryId;
  // Padded hex; the end is the image's last byte.
  std::optional<std::string> startAddress;
  std::optional<std::string> endAddress;
  std::optional<std::string> name;
  // Anonymised image path.
  std::optional<std::string> path;
  std::optional<std::string> architecture;
  // Mach CPU type and subtype of the image.
  std::optional<std::uint64_t> primaryArchitectureId;
  std::optional<std::uint64_t> architectureVariantId;

  nlohmann::ordered_json serializeToDictionary() const;
  // Id, addresses, name and path set (an empty path counts as set).
  bool isValid() const;
  bool isEqual(const TLMBinary& other) const;

  std::string_view className() const override { return "TLMBinary"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// A wrapper SDK's exception with its own opaque data, kept on disk until the
// crash it belongs to is sent.
class TLMWrapperException final : public TLMArchivable {
 public:
  std::shared_ptr<TLMException> modelException;
  // The process that raised it.
  std::optional<std::int64_t> processId;
  std::optional<base::Bytes> exceptionData;

  // `exceptionData` as Base64 text; the archive keeps the raw bytes.
  nlohmann::ordered_json serializeToDictionary() const;
  bool isEqual(const TLMWrapperException& other) const;

  std::string_view className() const override { return "TLMWrapperException"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

inline bool operator==(const TLMStackFrame& a, const TLMStackFrame& b) {
  return a.isEqual(b);
}
inline bool operator==(const TLMException& a, const TLMException& b) {
  return a.isEqual(b);
}
inline bool operator==(const TLMThread& a, const TLMThread& b) {
  return a.isEqual(b);
}
inline bool operator==(const TLMBinary& a, const TLMBinary& b) {
  return a.isEqual(b);
}
inline bool operator==(const TLMWrapperException& a, const TLMWrapperException& b) {
  return a.isEqual(b);
}

// Makes every record and log class of the crash service decodable from
// archives. Runs when this library is linked in; callable again (harmless).
void registerErrorLogArchiveClasses();

}  // namespace tlm
