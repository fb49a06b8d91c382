#include "telemetry/crashes/error_records.h"

#include "base/base64.h"
#include "telemetry/crashes/error_logs.h"
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

// ---- TLMStackFrame ----

nlohmann::ordered_json TLMStackFrame::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putIfSet(dict, "address", address);
  putIfSet(dict, "code", code);
  putIfSet(dict, "className", frameClassName);
  putIfSet(dict, "methodName", methodName);
  putIfSet(dict, "lineNumber", lineNumber);
  putIfSet(dict, "fileName", fileName);
  return dict;
}

bool TLMStackFrame::isEqual(const TLMStackFrame& other) const {
  return address == other.address && code == other.code && frameClassName == other.frameClassName &&
         methodName == other.methodName && lineNumber == other.lineNumber &&
         fileName == other.fileName;
}

void TLMStackFrame::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeString("address", address);
  coder.encodeString("code", code);
  coder.encodeString("className", frameClassName);
  coder.encodeString("methodName", methodName);
  coder.encodeInt64("lineNumber", lineNumber);
  coder.encodeString("fileName", fileName);
}

void TLMStackFrame::initWithCoder(const TLMKeyedUnarchiver& coder) {
  address = coder.decodeString("address");
  code = coder.decodeString("code");
  frameClassName = coder.decodeString("className");
  methodName = coder.decodeString("methodName");
  lineNumber = coder.decodeInt64("lineNumber");
  fileName = coder.decodeString("fileName");
}

// ---- TLMException ----

nlohmann::ordered_json TLMException::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putIfSet(dict, "type", type);
  putIfSet(dict, "message", message);
  putIfSet(dict, "stackTrace", stackTrace);
  putRecords(dict, "frames", frames);
  putRecords(dict, "innerExceptions", innerExceptions);
  putIfSet(dict, "wrapperSdkName", wrapperSdkName);
  return dict;
}

bool TLMException::isValid() const {
  const char* failed = nullptr;
  if (!type) {
    failed = "type";
  } else if (!frames || frames->empty()) {
    failed = "frames";
  }
  if (failed) logInvalidField(className(), failed);
  return failed == nullptr;
}

bool TLMException::isEqual(const TLMException& other) const {
  return type == other.type && message == other.message && stackTrace == other.stackTrace &&
         sameRecords(frames, other.frames) && sameRecords(innerExceptions, other.innerExceptions) &&
         wrapperSdkName == other.wrapperSdkName;
}

void TLMException::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeString("type", type);
  coder.encodeString("message", message);
  coder.encodeString("stackTrace", stackTrace);
  encodeRecords(coder, "frames", frames);
  encodeRecords(coder, "innerExceptions", innerExceptions);
  coder.encodeString("wrapperSdkName", wrapperSdkName);
}

void TLMException::initWithCoder(const TLMKeyedUnarchiver& coder) {
  type = coder.decodeString("type");
  message = coder.decodeString("message");
  stackTrace = coder.decodeString("stackTrace");
  frames = coder.decodeObjectArrayOf<TLMStackFrame>("frames");
  innerExceptions = coder.decodeObjectArrayOf<TLMException>("innerExceptions");
  wrapperSdkName = coder.decodeString("wrapperSdkName");
}

// ---- TLMThread ----

nlohmann::ordered_json TLMThread::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putIfSet(dict, "id", threadId);
  putIfSet(dict, "name", name);
  putRecords(dict, "frames", frames);
  putRecord(dict, "exception", exception);
  return dict;
}

bool TLMThread::isValid() const {
  const char* failed = nullptr;
  if (!threadId) {
    failed = "threadId";
  } else if (!frames || frames->empty()) {
    failed = "frames";
  }
  if (failed) logInvalidField(className(), failed);
  return failed == nullptr;
}

bool TLMThread::isEqual(const TLMThread& other) const {
  return threadId == other.threadId && name == other.name && sameRecords(frames, other.frames) &&
         sameRecord(exception, other.exception);
}

void TLMThread::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeInt64("id", threadId);
  coder.encodeString("name", name);
  encodeRecords(coder, "frames", frames);
  coder.encodeObject("exception", exception.get());
}

void TLMThread::initWithCoder(const TLMKeyedUnarchiver& coder) {
  threadId = coder.decodeInt64("id");
  name = coder.decodeString("name");
  frames = coder.decodeObjectArrayOf<TLMStackFrame>("frames");
  exception = coder.decodeObjectOf<TLMException>("exception");
}

// ---- TLMBinary ----

nlohmann::ordered_json TLMBinary::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putIfSet(dict, "id", binaryId);
  putIfSet(dict, "startAddress", startAddress);
  putIfSet(dict, "endAddress", endAddress);
  putIfSet(dict, "name", name);
  putIfSet(dict, "path", path);
  putIfSet(dict, "architecture", architecture);
  putIfSet(dict, "primaryArchitectureId", primaryArchitectureId);
  putIfSet(dict, "architectureVariantId", architectureVariantId);
  return dict;
}

bool TLMBinary::isValid() const {
  const char* failed = nullptr;
  if (!binaryId) {
    failed = "binaryId";
  } else if (!startAddress) {
    failed = "startAddress";
  } else if (!endAddress) {
    failed = "endAddress";
  } else if (!name) {
    failed = "name";
  } else if (!path) {
    failed = "path";
  }
  if (failed) logInvalidField(className(), failed);
  return failed == nullptr;
}

bool TLMBinary::isEqual(const TLMBinary& other) const {
  return binaryId == other.binaryId && startAddress == other.startAddress &&
         endAddress == other.endAddress && name == other.name && path == other.path &&
         architecture == other.architecture &&
         primaryArchitectureId == other.primaryArchitectureId &&
         architectureVariantId == other.architectureVariantId;
}

void TLMBinary::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeString("id", binaryId);
  coder.encodeString("startAddress", startAddress);
  coder.encodeString("endAddress", endAddress);
  coder.encodeString("name", name);
  coder.encodeString("path", path);
  coder.encodeString("architecture", architecture);
  coder.encodeUInt64("primaryArchitectureId", primaryArchitectureId);
  coder.encodeUInt64("architectureVariantId", architectureVariantId);
}

void TLMBinary::initWithCoder(const TLMKeyedUnarchiver& coder) {
  binaryId = coder.decodeString("id");
  startAddress = coder.decodeString("startAddress");
  endAddress = coder.decodeString("endAddress");
  name = coder.decodeString("name");
  path = coder.decodeString("path");
  architecture = coder.decodeString("architecture");
  primaryArchitectureId = coder.decodeUInt64("primaryArchitectureId");
  architectureVariantId = coder.decodeUInt64("architectureVariantId");
}

// ---- TLMWrapperException ----

nlohmann::ordered_json TLMWrapperException::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putRecord(dict, "modelException", modelException);
  putIfSet(dict, "processId", processId);
  if (exceptionData) dict["exceptionData"] = base::base64Encode(*exceptionData);
  return dict;
}

bool TLMWrapperException::isEqual(const TLMWrapperException& other) const {
  return sameRecord(modelException, other.modelException) && processId == other.processId &&
         exceptionData == other.exceptionData;
}

void TLMWrapperException::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeObject("modelException", modelException.get());
  coder.encodeInt64("processId", processId);
  coder.encodeBytes("exceptionData", exceptionData);
}

void TLMWrapperException::initWithCoder(const TLMKeyedUnarchiver& coder) {
  modelException = coder.decodeObjectOf<TLMException>("modelException");
  processId = coder.decodeInt64("processId");
  exceptionData = coder.decodeBytes("exceptionData");
}

// ---- archive classes ----

void registerErrorLogArchiveClasses() {
  registerArchiveClass<TLMStackFrame>("TLMStackFrame");
  registerArchiveClass<TLMException>("TLMException");
  registerArchiveClass<TLMThread>("TLMThread");
  registerArchiveClass<TLMBinary>("TLMBinary");
  registerArchiveClass<TLMWrapperException>("TLMWrapperException");
  registerArchiveClass<TLMAbstractErrorLog>("TLMAbstractErrorLog");
  registerArchiveClass<TLMAppleErrorLog>("TLMAppleErrorLog");
  registerArchiveClass<TLMHandledErrorLog>("TLMHandledErrorLog");
  registerArchiveClass<TLMErrorAttachmentLog>("TLMErrorAttachmentLog");
}

namespace {
// Every program that uses an error log or record links this file (the
// records' and logs' virtual tables live here and in error_logs.cpp), so the
// classes are decodable before the first archive is read.
[[maybe_unused]] const bool kRegistered = (registerErrorLogArchiveClasses(), true);
}  // namespace

}  // namespace tlm
