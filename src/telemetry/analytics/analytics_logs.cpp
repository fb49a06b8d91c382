#include "telemetry/analytics/analytics_logs.h"

#include <type_traits>
#include <utility>
#include <variant>

#include "telemetry/analytics/analytics.h"
#include "telemetry/core/archive.h"
#include "telemetry/core/date_text.h"
#include "telemetry/core/logger.h"
#include "telemetry/model/field_table.h"
#include "telemetry/schema/cs_extensions.h"

namespace tlm {
namespace {

using fields::field;
using fields::requiredTraits;
using Json = nlohmann::ordered_json;

constexpr std::string_view kBaseType = "baseType";
constexpr std::string_view kBaseData = "baseData";
constexpr std::string_view kMetadataFields = "f";

std::vector<std::string> splitAtDots(const std::string& name) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  for (;;) {
    const auto dot = name.find('.', start);
    segments.push_back(name.substr(start, dot - start));
    if (dot == std::string::npos) return segments;
    start = dot + 1;
  }
}

Json jsonValue(const TLMTypedValue& value) {
  return std::visit(
      [](const auto& v) -> Json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, TLMDate>) {
          return dateToISO8601(v);
        } else {
          return v;
        }
      },
      value);
}

// Places `value` under `key` in `node` unless something is there already.
bool addTypedPropertyToPropertyTree(Json* node, const std::string& key,
                                    const TLMTypedValue& value) {
  if (!node || node->contains(key)) {
    TLM_LOG_WARNING(TLMAnalytics::kLogTag, "Property key '", key,
                    "' already has a value, choosing one.");
    return false;
  }
  (*node)[key] = jsonValue(value);
  return true;
}

// Adds one property to the data tree and, for kinds with a type id, to the
// metadata tree; what the metadata walk made is taken back when the value
// could not be placed.
void addTypedProperty(const TLMEventProperty& property, Json& metadata, Json& data) {
  const auto& mapping = TLMEventLog::metadataTypeIdMapping();
  const auto typeId = mapping.find(typeName(property.value));
  const bool hasTypeId = typeId != mapping.end();
  const auto segments = splitAtDots(property.name);

  Json* dataNode = &data;
  Json* metadataNode = &metadata;
  // The highest metadata node where the walk made something: the "f" object
  // itself, or only the segment's entry in an "f" that was there.
  Json* createdIn = nullptr;
  std::optional<std::string> createdEntry;
  const auto fields = std::string(kMetadataFields);
  for (std::size_t i = 0; i + 1 < segments.size() && dataNode; ++i) {
    const std::string& segment = segments[i];
    if (!dataNode->contains(segment)) {
      (*dataNode)[segment] = Json::object();
    } else if (!(*dataNode)[segment].is_object()) {
      dataNode = nullptr;
      break;
    }
    dataNode = &(*dataNode)[segment];
    if (!hasTypeId) continue;
    if (!metadataNode->contains(fields)) {
      (*metadataNode)[fields] = Json::object();
      if (!createdIn) createdIn = metadataNode;
    }
    Json& level = (*metadataNode)[fields];
    if (!level.contains(segment)) {
      level[segment] = Json::object();
      if (!createdIn) {
        createdIn = metadataNode;
        createdEntry = segment;
      }
    }
    metadataNode = &level[segment];
  }

  const bool placed = addTypedPropertyToPropertyTree(dataNode, segments.back(), property.value);
  if (!hasTypeId) return;
  if (placed) {
    if (!metadataNode->contains(fields)) (*metadataNode)[fields] = Json::object();
    (*metadataNode)[fields][segments.back()] = typeId->second;
  } else if (createdIn) {
    if (createdEntry) {
      (*createdIn)[fields].erase(*createdEntry);
    } else {
      createdIn->erase(fields);
    }
  }
}

// Typed properties: one {type, name, value} object each in JSON, one typed
// property object each in the archive; not part of equality.
struct TypedPropertiesCoder {
  using T = std::optional<TLMEventProperties>;
  static void toJson(const T& v, std::string_view key, Json& out) {
    if (!v) return;
    Json array = Json::array();
    for (const auto& property : v->properties())
      array.push_back(makeTypedProperty(property)->serializeToDictionary());
    out[std::string(key)] = std::move(array);
  }
  static bool isSet(const T& v) { return v.has_value(); }
  static bool isValid(const T&) { return true; }
  static bool equal(const T&, const T&) { return true; }
  static void encode(const T& v, std::string_view key, TLMKeyedArchiver& coder) {
    if (!v) return;
    std::vector<std::shared_ptr<const TLMArchivable>> objects;
    for (const auto& property : v->properties())
      objects.push_back(makeTypedProperty(property));
    coder.encodeObjectArray(key, objects);
  }
  static void decode(T& v, std::string_view key, const TLMKeyedUnarchiver& coder) {
    v.reset();
    if (const auto objects = coder.decodeObjectArrayOf<TLMTypedProperty>(key)) {
      v.emplace();
      for (const auto& object : *objects) {
        if (auto property = eventPropertyFrom(*object)) v->setProperty(std::move(*property));
      }
    }
  }
};

const fields::Table& nameFields() {
  using R = TLMLogWithNameAndProperties;
  static const fields::Table table{
      field<R, &R::name, fields::Text>("name", requiredTraits),
  };
  return table;
}

const fields::Table& eventFields() {
  using R = TLMEventLog;
  static const fields::Table table{
      field<R, &R::eventId, fields::Text>("eventId", "id", requiredTraits),
      field<R, &R::typedProperties, TypedPropertiesCoder>("typedProperties",
                                                          fields::inJson | fields::coded),
  };
  return table;
}

}  // namespace

// TLMLogWithNameAndProperties

Json TLMLogWithNameAndProperties::serializeToDictionary() const {
  Json dict = TLMLogWithProperties::serializeToDictionary();
  fields::addToJson(*this, nameFields(), dict);
  return dict;
}

bool TLMLogWithNameAndProperties::isValid() const {
  return TLMLogWithProperties::isValid() && fields::areValid(*this, nameFields(), className());
}

bool TLMLogWithNameAndProperties::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMLogWithNameAndProperties*>(&other);
  return log && TLMLogWithProperties::isEqual(other) && fields::areEqual(*this, *log, nameFields());
}

void TLMLogWithNameAndProperties::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMLogWithProperties::encodeWithCoder(coder);
  fields::encode(*this, nameFields(), coder);
}

void TLMLogWithNameAndProperties::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMLogWithProperties::initWithCoder(coder);
  fields::decode(*this, nameFields(), coder);
}

// TLMEventLog

const std::map<std::string, std::int64_t, std::less<>>& TLMEventLog::metadataTypeIdMapping() {
  static const std::map<std::string, std::int64_t, std::less<>> mapping{
      {"long", 4}, {"double", 6}, {"dateTime", 9}};
  return mapping;
}

Json TLMEventLog::serializeToDictionary() const {
  Json dict = TLMLogWithNameAndProperties::serializeToDictionary();
  fields::addToJson(*this, eventFields(), dict);
  return dict;
}

bool TLMEventLog::isValid() const {
  return TLMLogWithNameAndProperties::isValid() &&
         fields::areValid(*this, eventFields(), className());
}

bool TLMEventLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMEventLog*>(&other);
  return log && TLMLogWithNameAndProperties::isEqual(other) &&
         fields::areEqual(*this, *log, eventFields());
}

std::shared_ptr<TLMCommonSchemaLog> TLMEventLog::toCommonSchemaLogForTargetToken(
    const std::string& token, std::uint64_t flags) {
  auto csLog = tlm::toCommonSchemaLogForTargetToken(*this, token, flags);
  if (!csLog) return nullptr;
  csLog->name = name;
  setPropertiesAndMetadataForCSLog(*csLog);
  csLog->tag = tag;
  return csLog;
}

void TLMEventLog::setPropertiesAndMetadataForCSLog(TLMCommonSchemaLog& csLog) {
  if (!typedProperties) return;
  const std::string baseTypePrefix = std::string(kBaseType) + ".";
  const std::string baseDataPrefix = std::string(kBaseData) + ".";
  const auto startsWith = [](const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
  };

  // "baseType" and "baseData.*" stand only together.
  const auto all = typedProperties->properties();
  bool stringBaseType = false;
  bool anyBaseData = false;
  for (const auto& property : all) {
    if (property.name == kBaseType) {
      stringBaseType = std::holds_alternative<std::string>(property.value);
    }
    if (startsWith(property.name, baseDataPrefix)) anyBaseData = true;
  }
  if (stringBaseType) {
    if (!anyBaseData) {
      TLM_LOG_WARNING(TLMAnalytics::kLogTag, "baseType was set but baseData is missing.");
      typedProperties->removeProperty(kBaseType);
    }
  } else {
    bool removed = false;
    for (const auto& property : all) {
      if (startsWith(property.name, baseDataPrefix))
        removed = typedProperties->removeProperty(property.name) || removed;
    }
    if (removed) {
      TLM_LOG_WARNING(TLMAnalytics::kLogTag,
                      "baseData was set but baseType is missing or invalid.");
    }
    typedProperties->removeProperty(kBaseType);
  }

  Json data = Json::object();
  Json metadata = Json::object();
  for (const auto& property : typedProperties->properties()) {
    if (startsWith(property.name, baseTypePrefix)) {
      TLM_LOG_WARNING(TLMAnalytics::kLogTag, "baseType must not be an object.");
      continue;
    }
    if (property.name == kBaseData) {
      TLM_LOG_WARNING(TLMAnalytics::kLogTag, "baseData must be an object.");
      continue;
    }
    addTypedProperty(property, metadata, data);
  }
  if (!data.empty()) {
    csLog.data = std::make_shared<TLMCSData>();
    csLog.data->setProperties(std::move(data));
  }
  if (!metadata.empty()) {
    if (!csLog.ext) csLog.ext = std::make_shared<TLMCSExtensions>();
    csLog.ext->metadataExt = std::make_shared<TLMMetadataExtension>();
    csLog.ext->metadataExt->setMetadata(std::move(metadata));
  }
}

void TLMEventLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMLogWithNameAndProperties::encodeWithCoder(coder);
  fields::encode(*this, eventFields(), coder);
}

void TLMEventLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMLogWithNameAndProperties::initWithCoder(coder);
  fields::decode(*this, eventFields(), coder);
}

// TLMPageLog, TLMStartSessionLog

bool TLMPageLog::isEqual(const TLMAbstractLog& other) const {
  return dynamic_cast<const TLMPageLog*>(&other) && TLMLogWithNameAndProperties::isEqual(other);
}

bool TLMStartSessionLog::isEqual(const TLMAbstractLog& other) const {
  return dynamic_cast<const TLMStartSessionLog*>(&other) && TLMAbstractLog::isEqual(other);
}

// Typed properties

std::shared_ptr<TLMTypedProperty> makeTypedProperty(const TLMEventProperty& property) {
  return std::visit(
      [&](const auto& v) -> std::shared_ptr<TLMTypedProperty> {
        using T = std::decay_t<decltype(v)>;
        std::shared_ptr<TLMTypedProperty> made;
        if constexpr (std::is_same_v<T, std::string>) {
          auto typed = std::make_shared<TLMStringTypedProperty>();
          typed->value = v;
          made = typed;
        } else if constexpr (std::is_same_v<T, TLMDate>) {
          auto typed = std::make_shared<TLMDateTimeTypedProperty>();
          typed->value = v;
          made = typed;
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          auto typed = std::make_shared<TLMLongTypedProperty>();
          typed->value = v;
          made = typed;
        } else if constexpr (std::is_same_v<T, double>) {
          auto typed = std::make_shared<TLMDoubleTypedProperty>();
          typed->value = v;
          made = typed;
        } else {
          auto typed = std::make_shared<TLMBooleanTypedProperty>();
          typed->value = v;
          made = typed;
        }
        made->name = property.name;
        return made;
      },
      property.value);
}

std::optional<TLMEventProperty> eventPropertyFrom(const TLMTypedProperty& property) {
  if (!property.name) return std::nullopt;
  const std::string& name = *property.name;
  if (const auto* s = dynamic_cast<const TLMStringTypedProperty*>(&property)) {
    if (!s->value) return std::nullopt;
    return TLMEventProperty{name, *s->value};
  }
  if (const auto* d = dynamic_cast<const TLMDateTimeTypedProperty*>(&property)) {
    if (!d->value) return std::nullopt;
    return TLMEventProperty{name, *d->value};
  }
  if (const auto* l = dynamic_cast<const TLMLongTypedProperty*>(&property))
    return TLMEventProperty{name, l->value};
  if (const auto* f = dynamic_cast<const TLMDoubleTypedProperty*>(&property))
    return TLMEventProperty{name, f->value};
  if (const auto* b = dynamic_cast<const TLMBooleanTypedProperty*>(&property))
    return TLMEventProperty{name, b->value};
  return std::nullopt;
}

void registerAnalyticsArchiveClasses() {
  registerArchiveClass<TLMLogWithNameAndProperties>("TLMLogWithNameAndProperties");
  registerArchiveClass<TLMEventLog>("TLMEventLog");
  registerArchiveClass<TLMPageLog>("TLMPageLog");
  registerArchiveClass<TLMStartSessionLog>("TLMStartSessionLog");
  addMigrationClasses({
      {"TLSessionHistoryInfo", "TLMSessionHistoryInfo"},
      {"TLAbstractLog", "TLMAbstractLog"},
      {"TLEventLog", "TLMEventLog"},
      {"TLPageLog", "TLMPageLog"},
      {"TLEventProperties", "TLMEventProperties"},
      {"TLLogWithNameAndProperties", "TLMLogWithNameAndProperties"},
      {"TLBooleanTypedProperty", "TLMBooleanTypedProperty"},
      {"TLDateTimeTypedProperty", "TLMDateTimeTypedProperty"},
      {"TLDoubleTypedProperty", "TLMDoubleTypedProperty"},
      {"TLLongTypedProperty", "TLMLongTypedProperty"},
      {"TLStringTypedProperty", "TLMStringTypedProperty"},
      {"TLTypedProperty", "TLMTypedProperty"},
      {"TLStartSessionLog", "TLMStartSessionLog"},
  });
}

namespace {
// Logs read back from the store decode whether or not the service was made.
[[maybe_unused]] const bool kRegistered = (registerAnalyticsArchiveClasses(), true);
}  // namespace

}  // namespace tlm
