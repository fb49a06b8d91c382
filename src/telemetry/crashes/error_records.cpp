#include "telemetry/crashes/error_records.h"

#include "telemetry/crashes/error_logs.h"
#include "telemetry/model/field_table.h"

namespace tlm {

using fields::field;
using fields::requiredTraits;

namespace {

// The members of each record, in the order of their JSON members and archive
// keys; validity checks the required ones in the same order.
const fields::Table& stackFrameFields() {
  using R = TLMStackFrame;
  static const fields::Table table{
      field<R, &R::address, fields::Text>("address"),
      field<R, &R::code, fields::Text>("code"),
      field<R, &R::frameClassName, fields::Text>("className"),
      field<R, &R::methodName, fields::Text>("methodName"),
      field<R, &R::lineNumber, fields::Int>("lineNumber"),
      field<R, &R::fileName, fields::Text>("fileName"),
  };
  return table;
}

const fields::Table& exceptionFields() {
  using R = TLMException;
  static const fields::Table table{
      field<R, &R::type, fields::Text>("type", requiredTraits),
      field<R, &R::message, fields::Text>("message"),
      field<R, &R::stackTrace, fields::Text>("stackTrace"),
      field<R, &R::frames, fields::Records<TLMStackFrame>>("frames", requiredTraits),
      field<R, &R::innerExceptions, fields::Records<TLMException>>("innerExceptions"),
      field<R, &R::wrapperSdkName, fields::Text>("wrapperSdkName"),
  };
  return table;
}

const fields::Table& threadFields() {
  using R = TLMThread;
  static const fields::Table table{
      field<R, &R::threadId, fields::Int>("threadId", "id", requiredTraits),
      field<R, &R::name, fields::Text>("name"),
      field<R, &R::frames, fields::Records<TLMStackFrame>>("frames", requiredTraits),
      field<R, &R::exception, fields::Record<TLMException>>("exception"),
  };
  return table;
}

const fields::Table& binaryFields() {
  using R = TLMBinary;
  static const fields::Table table{
      field<R, &R::binaryId, fields::Text>("binaryId", "id", requiredTraits),
      field<R, &R::startAddress, fields::Text>("startAddress", requiredTraits),
      field<R, &R::endAddress, fields::Text>("endAddress", requiredTraits),
      field<R, &R::name, fields::Text>("name", requiredTraits),
      field<R, &R::path, fields::Text>("path", requiredTraits),
      field<R, &R::architecture, fields::Text>("architecture"),
      field<R, &R::primaryArchitectureId, fields::UInt>("primaryArchitectureId"),
      field<R, &R::architectureVariantId, fields::UInt>("architectureVariantId"),
  };
  return table;
}

const fields::Table& wrapperExceptionFields() {
  using R = TLMWrapperException;
  static const fields::Table table{
      field<R, &R::modelException, fields::Record<TLMException>>("modelException"),
      field<R, &R::processId, fields::Int>("processId"),
      field<R, &R::exceptionData, fields::Data>("exceptionData"),
  };
  return table;
}

}  // namespace

// ---- TLMStackFrame ----

nlohmann::ordered_json TLMStackFrame::serializeToDictionary() const {
  return fields::toJson(*this, stackFrameFields());
}

bool TLMStackFrame::isEqual(const TLMStackFrame& other) const {
  return fields::areEqual(*this, other, stackFrameFields());
}

void TLMStackFrame::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, stackFrameFields(), coder);
}

void TLMStackFrame::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, stackFrameFields(), coder);
}

// ---- TLMException ----

nlohmann::ordered_json TLMException::serializeToDictionary() const {
  return fields::toJson(*this, exceptionFields());
}

bool TLMException::isValid() const {
  return fields::areValid(*this, exceptionFields(), className());
}

bool TLMException::isEqual(const TLMException& other) const {
  return fields::areEqual(*this, other, exceptionFields());
}

void TLMException::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, exceptionFields(), coder);
}

void TLMException::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, exceptionFields(), coder);
}

// ---- TLMThread ----

nlohmann::ordered_json TLMThread::serializeToDictionary() const {
  return fields::toJson(*this, threadFields());
}

bool TLMThread::isValid() const {
  return fields::areValid(*this, threadFields(), className());
}

bool TLMThread::isEqual(const TLMThread& other) const {
  return fields::areEqual(*this, other, threadFields());
}

void TLMThread::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, threadFields(), coder);
}

void TLMThread::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, threadFields(), coder);
}

// ---- TLMBinary ----

nlohmann::ordered_json TLMBinary::serializeToDictionary() const {
  return fields::toJson(*this, binaryFields());
}

bool TLMBinary::isValid() const {
  return fields::areValid(*this, binaryFields(), className());
}

bool TLMBinary::isEqual(const TLMBinary& other) const {
  return fields::areEqual(*this, other, binaryFields());
}

void TLMBinary::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, binaryFields(), coder);
}

void TLMBinary::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, binaryFields(), coder);
}

// ---- TLMWrapperException ----

nlohmann::ordered_json TLMWrapperException::serializeToDictionary() const {
  return fields::toJson(*this, wrapperExceptionFields());
}

bool TLMWrapperException::isEqual(const TLMWrapperException& other) const {
  return fields::areEqual(*this, other, wrapperExceptionFields());
}

void TLMWrapperException::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, wrapperExceptionFields(), coder);
}

void TLMWrapperException::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, wrapperExceptionFields(), coder);
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
