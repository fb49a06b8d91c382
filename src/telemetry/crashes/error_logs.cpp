#include "telemetry/crashes/error_logs.h"

#include <utility>

#include "base/base64.h"
#include "base/uuid.h"
#include "telemetry/crashes/record_coding.h"
#include "telemetry/model/model_util.h"

namespace tlm {

using crashes_detail::encodeRecords;
using crashes_detail::putRecord;
using crashes_detail::putRecords;
using crashes_detail::sameRecord;
using crashes_detail::sameRecords;
using model_detail::logInvalidField;
using model_detail::putIfSet;

namespace {

// Logs `failed` as the first invalid field, when there is one.
bool validUnless(std::string_view className, const char* failed) {
  if (failed) logInvalidField(className, failed);
  return failed == nullptr;
}

}  // namespace

// ---- TLMAbstractErrorLog ----

nlohmann::ordered_json TLMAbstractErrorLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMLogWithProperties::serializeToDictionary();
  putIfSet(dict, "id", errorId);
  putIfSet(dict, "processId", processId);
  putIfSet(dict, "processName", processName);
  putIfSet(dict, "parentProcessId", parentProcessId);
  putIfSet(dict, "parentProcessName", parentProcessName);
  putIfSet(dict, "errorThreadId", errorThreadId);
  putIfSet(dict, "errorThreadName", errorThreadName);
  dict["fatal"] = fatal;
  putIfSet(dict, "appLaunchTimestamp", appLaunchTimestamp);
  putIfSet(dict, "architecture", architecture);
  return dict;
}

bool TLMAbstractErrorLog::isValid() const {
  if (!TLMLogWithProperties::isValid()) return false;
  const char* failed = nullptr;
  if (!errorId) {
    failed = "errorId";
  } else if (!processId) {
    failed = "processId";
  } else if (!processName) {
    failed = "processName";
  }
  return validUnless(className(), failed);
}

bool TLMAbstractErrorLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMAbstractErrorLog*>(&other);
  return log && TLMLogWithProperties::isEqual(other) && errorId == log->errorId &&
         processId == log->processId && processName == log->processName &&
         parentProcessId == log->parentProcessId && parentProcessName == log->parentProcessName &&
         errorThreadId == log->errorThreadId && errorThreadName == log->errorThreadName &&
         fatal == log->fatal && appLaunchTimestamp == log->appLaunchTimestamp &&
         architecture == log->architecture;
}

void TLMAbstractErrorLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMLogWithProperties::encodeWithCoder(coder);
  coder.encodeString("id", errorId);
  coder.encodeInt64("processId", processId);
  coder.encodeString("processName", processName);
  coder.encodeInt64("parentProcessId", parentProcessId);
  coder.encodeString("parentProcessName", parentProcessName);
  coder.encodeInt64("errorThreadId", errorThreadId);
  coder.encodeString("errorThreadName", errorThreadName);
  coder.encodeBool("fatal", fatal);
  coder.encodeDate("appLaunchTimestamp", appLaunchTimestamp);
  coder.encodeString("architecture", architecture);
}

void TLMAbstractErrorLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMLogWithProperties::initWithCoder(coder);
  errorId = coder.decodeString("id");
  processId = coder.decodeInt64("processId");
  processName = coder.decodeString("processName");
  parentProcessId = coder.decodeInt64("parentProcessId");
  parentProcessName = coder.decodeString("parentProcessName");
  errorThreadId = coder.decodeInt64("errorThreadId");
  errorThreadName = coder.decodeString("errorThreadName");
  fatal = coder.decodeBool("fatal").value_or(false);
  appLaunchTimestamp = coder.decodeDate("appLaunchTimestamp");
  architecture = coder.decodeString("architecture");
}

// ---- TLMAppleErrorLog ----

nlohmann::ordered_json TLMAppleErrorLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractErrorLog::serializeToDictionary();
  putIfSet(dict, "primaryArchitectureId", primaryArchitectureId);
  putIfSet(dict, "architectureVariantId", architectureVariantId);
  putIfSet(dict, "applicationPath", applicationPath);
  putIfSet(dict, "osExceptionType", osExceptionType);
  putIfSet(dict, "osExceptionCode", osExceptionCode);
  putIfSet(dict, "osExceptionAddress", osExceptionAddress);
  putIfSet(dict, "exceptionType", exceptionType);
  putIfSet(dict, "exceptionReason", exceptionReason);
  putIfSet(dict, "selectorRegisterValue", selectorRegisterValue);
  putRecords(dict, "threads", threads);
  putRecords(dict, "binaries", binaries);
  if (registers) dict["registers"] = nlohmann::ordered_json(*registers);
  putRecord(dict, "exception", exception);
  return dict;
}

bool TLMAppleErrorLog::isValid() const {
  if (!TLMAbstractErrorLog::isValid()) return false;
  const char* failed = nullptr;
  if (!primaryArchitectureId) {
    failed = "primaryArchitectureId";
  } else if (!applicationPath) {
    failed = "applicationPath";
  } else if (!osExceptionType) {
    failed = "osExceptionType";
  } else if (!osExceptionCode) {
    failed = "osExceptionCode";
  } else if (!osExceptionAddress) {
    failed = "osExceptionAddress";
  }
  return validUnless(className(), failed);
}

bool TLMAppleErrorLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMAppleErrorLog*>(&other);
  return log && TLMAbstractErrorLog::isEqual(other) &&
         primaryArchitectureId == log->primaryArchitectureId &&
         architectureVariantId == log->architectureVariantId &&
         applicationPath == log->applicationPath && osExceptionType == log->osExceptionType &&
         osExceptionCode == log->osExceptionCode && osExceptionAddress == log->osExceptionAddress &&
         exceptionType == log->exceptionType && exceptionReason == log->exceptionReason &&
         selectorRegisterValue == log->selectorRegisterValue &&
         sameRecords(threads, log->threads) && sameRecords(binaries, log->binaries) &&
         registers == log->registers && sameRecord(exception, log->exception);
}

void TLMAppleErrorLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractErrorLog::encodeWithCoder(coder);
  coder.encodeUInt64("primaryArchitectureId", primaryArchitectureId);
  coder.encodeUInt64("architectureVariantId", architectureVariantId);
  coder.encodeString("applicationPath", applicationPath);
  coder.encodeString("osExceptionType", osExceptionType);
  coder.encodeString("osExceptionCode", osExceptionCode);
  coder.encodeString("osExceptionAddress", osExceptionAddress);
  coder.encodeString("exceptionType", exceptionType);
  coder.encodeString("exceptionReason", exceptionReason);
  coder.encodeString("selectorRegisterValue", selectorRegisterValue);
  encodeRecords(coder, "threads", threads);
  encodeRecords(coder, "binaries", binaries);
  coder.encodeStringMap("registers", registers);
  coder.encodeObject("exception", exception.get());
}

void TLMAppleErrorLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractErrorLog::initWithCoder(coder);
  primaryArchitectureId = coder.decodeUInt64("primaryArchitectureId");
  architectureVariantId = coder.decodeUInt64("architectureVariantId");
  applicationPath = coder.decodeString("applicationPath");
  osExceptionType = coder.decodeString("osExceptionType");
  osExceptionCode = coder.decodeString("osExceptionCode");
  osExceptionAddress = coder.decodeString("osExceptionAddress");
  exceptionType = coder.decodeString("exceptionType");
  exceptionReason = coder.decodeString("exceptionReason");
  selectorRegisterValue = coder.decodeString("selectorRegisterValue");
  threads = coder.decodeObjectArrayOf<TLMThread>("threads");
  binaries = coder.decodeObjectArrayOf<TLMBinary>("binaries");
  registers = coder.decodeStringMap("registers");
  exception = coder.decodeObjectOf<TLMException>("exception");
}

// ---- TLMHandledErrorLog ----

nlohmann::ordered_json TLMHandledErrorLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMLogWithProperties::serializeToDictionary();
  putIfSet(dict, "id", errorId);
  putRecord(dict, "exception", exception);
  return dict;
}

bool TLMHandledErrorLog::isValid() const {
  if (!TLMLogWithProperties::isValid()) return false;
  const char* failed = nullptr;
  if (!errorId) {
    failed = "errorId";
  } else if (!exception) {
    failed = "exception";
  }
  return validUnless(className(), failed);
}

bool TLMHandledErrorLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMHandledErrorLog*>(&other);
  return log && TLMLogWithProperties::isEqual(other) && errorId == log->errorId &&
         sameRecord(exception, log->exception);
}

void TLMHandledErrorLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMLogWithProperties::encodeWithCoder(coder);
  coder.encodeString("id", errorId);
  coder.encodeObject("exception", exception.get());
}

void TLMHandledErrorLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMLogWithProperties::initWithCoder(coder);
  errorId = coder.decodeString("id");
  exception = coder.decodeObjectOf<TLMException>("exception");
}

// ---- TLMErrorAttachmentLog ----

TLMErrorAttachmentLog::TLMErrorAttachmentLog() : attachmentId(base::makeUuidString()) {
  type = std::string(kType);
}

TLMErrorAttachmentLog::TLMErrorAttachmentLog(std::optional<std::string> fileName,
                                             base::Bytes attachmentBinary,
                                             std::optional<std::string> mimeType)
    : TLMErrorAttachmentLog() {
  data = std::move(attachmentBinary);
  contentType = std::move(mimeType);
  filename = std::move(fileName);
}

TLMErrorAttachmentLog::TLMErrorAttachmentLog(std::optional<std::string> fileName,
                                             std::string_view attachmentText)
    : TLMErrorAttachmentLog(std::move(fileName),
                            base::Bytes(attachmentText.begin(), attachmentText.end()),
                            std::string(kContentTypeText)) {}

std::shared_ptr<TLMErrorAttachmentLog> TLMErrorAttachmentLog::attachmentWithText(
    std::string_view text, std::optional<std::string> fileName) {
  return std::make_shared<TLMErrorAttachmentLog>(std::move(fileName), text);
}

std::shared_ptr<TLMErrorAttachmentLog> TLMErrorAttachmentLog::attachmentWithBinary(
    base::Bytes binary, std::optional<std::string> fileName, std::optional<std::string> mimeType) {
  return std::make_shared<TLMErrorAttachmentLog>(std::move(fileName), std::move(binary),
                                                 std::move(mimeType));
}

nlohmann::ordered_json TLMErrorAttachmentLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractLog::serializeToDictionary();
  putIfSet(dict, "id", attachmentId);
  putIfSet(dict, "errorId", errorId);
  putIfSet(dict, "contentType", contentType);
  putIfSet(dict, "fileName", filename);
  if (data) dict["data"] = base::base64Encode(*data);
  return dict;
}

bool TLMErrorAttachmentLog::isValid() const {
  if (!TLMAbstractLog::isValid()) return false;
  const char* failed = nullptr;
  if (!errorId) {
    failed = "errorId";
  } else if (!attachmentId) {
    failed = "attachmentId";
  } else if (!data) {
    failed = "data";
  } else if (!contentType) {
    failed = "contentType";
  }
  return validUnless(className(), failed);
}

bool TLMErrorAttachmentLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMErrorAttachmentLog*>(&other);
  return log && TLMAbstractLog::isEqual(other) && attachmentId == log->attachmentId &&
         errorId == log->errorId && contentType == log->contentType && filename == log->filename &&
         data == log->data;
}

void TLMErrorAttachmentLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  coder.encodeString("id", attachmentId);
  coder.encodeString("errorId", errorId);
  coder.encodeString("contentType", contentType);
  coder.encodeString("fileName", filename);
  coder.encodeBytes("data", data);
}

void TLMErrorAttachmentLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  attachmentId = coder.decodeString("id");
  errorId = coder.decodeString("errorId");
  contentType = coder.decodeString("contentType");
  filename = coder.decodeString("fileName");
  data = coder.decodeBytes("data");
}

}  // namespace tlm
