#include "telemetry/crashes/error_logs.h"

#include <utility>

#include "base/uuid.h"
#include "telemetry/model/field_table.h"

namespace tlm {

using fields::field;
using fields::requiredTraits;

namespace {

// The members each log adds to its base's, in the order of their JSON members
// and archive keys; validity checks the required ones in the same order
// unless a rank says otherwise.

const fields::Table& abstractErrorLogFields() {
  using R = TLMAbstractErrorLog;
  static const fields::Table table{
      field<R, &R::errorId, fields::Text>("errorId", "id", requiredTraits),
      field<R, &R::processId, fields::Int>("processId", requiredTraits),
      field<R, &R::processName, fields::Text>("processName", requiredTraits),
      field<R, &R::parentProcessId, fields::Int>("parentProcessId"),
      field<R, &R::parentProcessName, fields::Text>("parentProcessName"),
      field<R, &R::errorThreadId, fields::Int>("errorThreadId"),
      field<R, &R::errorThreadName, fields::Text>("errorThreadName"),
      field<R, &R::fatal, fields::Flag>("fatal"),
      field<R, &R::appLaunchTimestamp, fields::Time>("appLaunchTimestamp"),
      field<R, &R::architecture, fields::Text>("architecture"),
  };
  return table;
}

const fields::Table& appleErrorLogFields() {
  using R = TLMAppleErrorLog;
  static const fields::Table table{
      field<R, &R::primaryArchitectureId, fields::UInt>("primaryArchitectureId", requiredTraits),
      field<R, &R::architectureVariantId, fields::UInt>("architectureVariantId"),
      field<R, &R::applicationPath, fields::Text>("applicationPath", requiredTraits),
      field<R, &R::osExceptionType, fields::Text>("osExceptionType", requiredTraits),
      field<R, &R::osExceptionCode, fields::Text>("osExceptionCode", requiredTraits),
      field<R, &R::osExceptionAddress, fields::Text>("osExceptionAddress", requiredTraits),
      field<R, &R::exceptionType, fields::Text>("exceptionType"),
      field<R, &R::exceptionReason, fields::Text>("exceptionReason"),
      field<R, &R::selectorRegisterValue, fields::Text>("selectorRegisterValue"),
      field<R, &R::threads, fields::Records<TLMThread>>("threads"),
      field<R, &R::binaries, fields::Records<TLMBinary>>("binaries"),
      field<R, &R::registers, fields::TextMap>("registers"),
      field<R, &R::exception, fields::Record<TLMException>>("exception"),
  };
  return table;
}

const fields::Table& handledErrorLogFields() {
  using R = TLMHandledErrorLog;
  static const fields::Table table{
      field<R, &R::errorId, fields::Text>("errorId", "id", requiredTraits),
      field<R, &R::exception, fields::Record<TLMException>>("exception", requiredTraits),
  };
  return table;
}

// Checked in the order error id, attachment id, data, content type.
const fields::Table& errorAttachmentLogFields() {
  using R = TLMErrorAttachmentLog;
  static const fields::Table table{
      field<R, &R::attachmentId, fields::Text>("attachmentId", "id", requiredTraits).checkedAt(2),
      field<R, &R::errorId, fields::Text>("errorId", requiredTraits).checkedAt(1),
      field<R, &R::contentType, fields::Text>("contentType", requiredTraits).checkedAt(4),
      field<R, &R::filename, fields::Text>("fileName"),
      field<R, &R::data, fields::Data>("data", requiredTraits).checkedAt(3),
  };
  return table;
}

}  // namespace

// ---- TLMAbstractErrorLog ----

nlohmann::ordered_json TLMAbstractErrorLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMLogWithProperties::serializeToDictionary();
  fields::addToJson(*this, abstractErrorLogFields(), dict);
  return dict;
}

bool TLMAbstractErrorLog::isValid() const {
  return TLMLogWithProperties::isValid() &&
         fields::areValid(*this, abstractErrorLogFields(), className());
}

bool TLMAbstractErrorLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMAbstractErrorLog*>(&other);
  return log && TLMLogWithProperties::isEqual(other) &&
         fields::areEqual(*this, *log, abstractErrorLogFields());
}

void TLMAbstractErrorLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMLogWithProperties::encodeWithCoder(coder);
  fields::encode(*this, abstractErrorLogFields(), coder);
}

void TLMAbstractErrorLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMLogWithProperties::initWithCoder(coder);
  fields::decode(*this, abstractErrorLogFields(), coder);
}

// ---- TLMAppleErrorLog ----

nlohmann::ordered_json TLMAppleErrorLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractErrorLog::serializeToDictionary();
  fields::addToJson(*this, appleErrorLogFields(), dict);
  return dict;
}

bool TLMAppleErrorLog::isValid() const {
  return TLMAbstractErrorLog::isValid() &&
         fields::areValid(*this, appleErrorLogFields(), className());
}

bool TLMAppleErrorLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMAppleErrorLog*>(&other);
  return log && TLMAbstractErrorLog::isEqual(other) &&
         fields::areEqual(*this, *log, appleErrorLogFields());
}

void TLMAppleErrorLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractErrorLog::encodeWithCoder(coder);
  fields::encode(*this, appleErrorLogFields(), coder);
}

void TLMAppleErrorLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractErrorLog::initWithCoder(coder);
  fields::decode(*this, appleErrorLogFields(), coder);
}

// ---- TLMHandledErrorLog ----

nlohmann::ordered_json TLMHandledErrorLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMLogWithProperties::serializeToDictionary();
  fields::addToJson(*this, handledErrorLogFields(), dict);
  return dict;
}

bool TLMHandledErrorLog::isValid() const {
  return TLMLogWithProperties::isValid() &&
         fields::areValid(*this, handledErrorLogFields(), className());
}

bool TLMHandledErrorLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMHandledErrorLog*>(&other);
  return log && TLMLogWithProperties::isEqual(other) &&
         fields::areEqual(*this, *log, handledErrorLogFields());
}

void TLMHandledErrorLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMLogWithProperties::encodeWithCoder(coder);
  fields::encode(*this, handledErrorLogFields(), coder);
}

void TLMHandledErrorLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMLogWithProperties::initWithCoder(coder);
  fields::decode(*this, handledErrorLogFields(), coder);
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
  fields::addToJson(*this, errorAttachmentLogFields(), dict);
  return dict;
}

bool TLMErrorAttachmentLog::isValid() const {
  return TLMAbstractLog::isValid() &&
         fields::areValid(*this, errorAttachmentLogFields(), className());
}

bool TLMErrorAttachmentLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMErrorAttachmentLog*>(&other);
  return log && TLMAbstractLog::isEqual(other) &&
         fields::areEqual(*this, *log, errorAttachmentLogFields());
}

void TLMErrorAttachmentLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  fields::encode(*this, errorAttachmentLogFields(), coder);
}

void TLMErrorAttachmentLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  fields::decode(*this, errorAttachmentLogFields(), coder);
}

}  // namespace tlm
