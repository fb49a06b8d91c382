#pragma once

// The logs the crash service sends: a crash of the previous run
// ("appleError"), an error the application handled ("handledError") and a
// file attached to either ("errorAttachment"). Each adds its members to the
// log base's JSON object (only when set; "fatal" always), archives them under
// the same keys, and adds its rule to the base's validity check, which logs
// the first failing field at VERBOSE.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "telemetry/crashes/error_records.h"
#include "telemetry/model/abstract_log.h"

namespace tlm {

// The process fields every crash log has.
class TLMAbstractErrorLog : public TLMLogWithProperties {
 public:
  // A UUID text; attachments point to it.
  std::optional<std::string> errorId;
  std::optional<std::int64_t> processId;
  std::optional<std::string> processName;
  std::optional<std::int64_t> parentProcessId;
  std::optional<std::string> parentProcessName;
  std::optional<std::int64_t> errorThreadId;
  std::optional<std::string> errorThreadName;
  bool fatal = false;
  std::optional<Date> appLaunchTimestamp;
  std::optional<std::string> architecture;

  bool isFatal() const { return fatal; }

  nlohmann::ordered_json serializeToDictionary() const override;
  // The base rules, then "errorId", "processId", "processName".
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMAbstractErrorLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// One crash, with its threads, registers, images and exception. It keeps the
// session id it is given: the channel never stamps the current one on it.
class TLMAppleErrorLog : public TLMAbstractErrorLog, public TLMNoAutoAssignSessionIdLog {
 public:
  static constexpr std::string_view kType = "appleError";

  TLMAppleErrorLog() { type = std::string(kType); }

  // Mach CPU type and subtype of the crashed code.
  std::optional<std::uint64_t> primaryArchitectureId;
  std::optional<std::uint64_t> architectureVariantId;
  // Anonymised executable path.
  std::optional<std::string> applicationPath;
  // Signal name, code text and fault address ("0x" and hex digits).
  std::optional<std::string> osExceptionType;
  std::optional<std::string> osExceptionCode;
  std::optional<std::string> osExceptionAddress;
  // The uncaught exception, when there was one.
  std::optional<std::string> exceptionType;
  std::optional<std::string> exceptionReason;
  std::optional<std::string> selectorRegisterValue;
  std::optional<std::vector<std::shared_ptr<TLMThread>>> threads;
  std::optional<std::vector<std::shared_ptr<TLMBinary>>> binaries;
  // Register name to padded hex value.
  std::optional<std::map<std::string, std::string>> registers;
  // A wrapper SDK's exception only.
  std::shared_ptr<TLMException> exception;

  nlohmann::ordered_json serializeToDictionary() const override;
  // The process rules, then "primaryArchitectureId", "applicationPath",
  // "osExceptionType", "osExceptionCode", "osExceptionAddress". Threads,
  // binaries and exception are not looked into.
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMAppleErrorLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// An error the application (or a wrapper SDK) reports without crashing.
class TLMHandledErrorLog : public TLMLogWithProperties {
 public:
  static constexpr std::string_view kType = "handledError";

  TLMHandledErrorLog() { type = std::string(kType); }

  std::optional<std::string> errorId;
  std::shared_ptr<TLMException> exception;

  nlohmann::ordered_json serializeToDictionary() const override;
  // The base rules, then "errorId", "exception" (not looked into).
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMHandledErrorLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// A text or binary file sent with an error log and joined to it by the error
// id, which the crash service sets when it sends the file.
class TLMErrorAttachmentLog : public TLMAbstractLog {
 public:
  static constexpr std::string_view kType = "errorAttachment";
  static constexpr std::string_view kContentTypeText = "text/plain";

  // A fresh attachment id (upper-case UUID text).
  TLMErrorAttachmentLog();
  // The bytes, content type and file name as given (nothing is checked).
  TLMErrorAttachmentLog(std::optional<std::string> fileName, base::Bytes attachmentBinary,
                        std::optional<std::string> mimeType);
  // The text's UTF-8 bytes as "text/plain".
  TLMErrorAttachmentLog(std::optional<std::string> fileName, std::string_view attachmentText);

  static std::shared_ptr<TLMErrorAttachmentLog> attachmentWithText(
      std::string_view text, std::optional<std::string> fileName);
  static std::shared_ptr<TLMErrorAttachmentLog> attachmentWithBinary(
      base::Bytes binary, std::optional<std::string> fileName, std::optional<std::string> mimeType);

  std::optional<std::string> attachmentId;
  std::optional<std::string> errorId;
  // MIME type.
  std::optional<std::string> contentType;
  std::optional<std::string> filename;
  // Base64 text in JSON, raw bytes in the archive.
  std::optional<base::Bytes> data;

  nlohmann::ordered_json serializeToDictionary() const override;
  // The base rules, then "errorId", "attachmentId", "data" (empty counts as
  // set), "contentType".
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  std::string_view className() const override { return "TLMErrorAttachmentLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// The attachments of one error report.
using TLMErrorAttachments = std::vector<std::shared_ptr<TLMErrorAttachmentLog>>;

}  // namespace tlm
