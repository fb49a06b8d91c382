#include "telemetry/core/archive.h"

#include <limits>
#include <mutex>

#include "telemetry/core/logger.h"

namespace tlm {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kClassKey = "$class";
constexpr std::string_view kDateKey = "$date";
constexpr std::string_view kNullClass = "NSNull";
constexpr std::string_view kArrayClass = "NSArray";
constexpr std::string_view kArrayItemsKey = "NS.objects";
// Deeper than any record of ours; bounds the parser's recursion on foreign bytes.
constexpr std::size_t kMaxDepth = 64;

struct Registry {
  std::mutex mutex;
  std::map<std::string, TLMArchiveFactory, std::less<>> factories;
  std::map<std::string, std::string, std::less<>> migrations;
};

Registry& registry() {
  static Registry r;
  return r;
}

std::shared_ptr<TLMArchivable> makeObject(std::string_view className) {
  TLMArchiveFactory factory;
  {
    std::lock_guard lock(registry().mutex);
    auto& r = registry();
    if (auto m = r.migrations.find(className); m != r.migrations.end()) className = m->second;
    if (auto f = r.factories.find(className); f != r.factories.end()) factory = f->second;
  }
  return factory ? factory() : nullptr;
}

Json dateNode(Date date) {
  return Json{
      {std::string(kDateKey),
       std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count()}};
}

std::optional<std::int64_t> int64Of(const Json& node) {
  if (node.is_number_integer() && !node.is_number_unsigned()) return node.get<std::int64_t>();
  if (node.is_number_unsigned()) {
    auto value = node.get<std::uint64_t>();
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(value);
    }
  }
  return std::nullopt;
}

std::optional<Date> dateOf(const Json& node) {
  if (!node.is_object() || node.size() != 1) return std::nullopt;
  auto it = node.find(kDateKey);
  if (it == node.end()) return std::nullopt;
  auto ticks = int64Of(*it);
  if (!ticks) return std::nullopt;
  return Date(std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(*ticks)));
}

bool isNullNode(const Json& node) {
  if (!node.is_object() || node.size() != 1) return false;
  auto it = node.find(kClassKey);
  return it != node.end() && it->is_string() && it->get_ref<const std::string&>() == kNullClass;
}

Json valueNode(const TLMArchiveValue& value) {
  return std::visit(
      [](const auto& v) -> Json {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, TLMArchiveNull>) {
          return Json{{std::string(kClassKey), std::string(kNullClass)}};
        } else if constexpr (std::is_same_v<V, Date>) {
          return dateNode(v);
        } else if constexpr (std::is_same_v<V, base::Bytes>) {
          return Json::binary(v);
        } else {
          return Json(v);
        }
      },
      value);
}

std::optional<TLMArchiveValue> valueOf(const Json& node) {
  if (node.is_boolean()) return TLMArchiveValue(node.get<bool>());
  if (node.is_number_float()) return TLMArchiveValue(node.get<double>());
  if (auto i = int64Of(node)) return TLMArchiveValue(*i);
  if (node.is_string()) return TLMArchiveValue(node.get<std::string>());
  if (node.is_binary()) return TLMArchiveValue(base::Bytes(node.get_binary()));
  if (auto d = dateOf(node)) return TLMArchiveValue(*d);
  if (isNullNode(node)) return TLMArchiveValue(TLMArchiveNull{});
  return std::nullopt;
}

Json objectNode(const TLMArchivable& object) {
  TLMKeyedArchiver coder;
  object.encodeWithCoder(coder);
  Json tree = coder.tree();
  tree[std::string(kClassKey)] = std::string(object.className());
  return tree;
}

std::shared_ptr<TLMArchivable> objectOf(const Json& node) {
  if (!node.is_object()) return nullptr;
  auto cls = node.find(kClassKey);
  if (cls == node.end() || !cls->is_string()) return nullptr;
  auto object = makeObject(cls->get_ref<const std::string&>());
  if (object) object->initWithCoder(TLMKeyedUnarchiver(node));
  return object;
}

// Builds the tree like nlohmann's own DOM parser, but refuses input nested
// deeper than kMaxDepth so foreign bytes cannot exhaust the stack.
class BoundedDomSax {
 public:
  explicit BoundedDomSax(Json& root) : dom_(root, false) {}

  bool null() { return dom_.null(); }
  bool boolean(bool v) { return dom_.boolean(v); }
  bool number_integer(Json::number_integer_t v) { return dom_.number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return dom_.number_unsigned(v); }
  bool number_float(Json::number_float_t v, const Json::string_t& s) {
    return dom_.number_float(v, s);
  }
  bool string(Json::string_t& v) { return dom_.string(v); }
  bool binary(Json::binary_t& v) { return dom_.binary(v); }
  bool start_object(std::size_t n) { return ++depth_ <= kMaxDepth && dom_.start_object(n); }
  bool key(Json::string_t& v) { return dom_.key(v); }
  bool end_object() {
    --depth_;
    return dom_.end_object();
  }
  bool start_array(std::size_t n) { return ++depth_ <= kMaxDepth && dom_.start_array(n); }
  bool end_array() {
    --depth_;
    return dom_.end_array();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    error_ = e.what();
    return false;
  }

  const std::string& error() const { return error_; }
  bool tooDeep() const { return depth_ > kMaxDepth; }

 private:
  nlohmann::detail::json_sax_dom_parser<Json> dom_;
  std::size_t depth_ = 0;
  std::string error_;
};

std::optional<Json> parseTree(const base::Bytes& data, std::string& error) {
  try {
    Json root;
    BoundedDomSax sax(root);
    const bool ok =
        Json::sax_parse(data.begin(), data.end(), &sax, Json::input_format_t::cbor, true, true);
    if (!ok) {
      error = sax.tooDeep() ? "nesting too deep"
                            : (sax.error().empty() ? "not an archive" : sax.error());
      return std::nullopt;
    }
    return root;
  } catch (const std::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

std::optional<base::Bytes> toBytes(const Json& tree) {
  try {
    return Json::to_cbor(tree);
  } catch (const std::exception& e) {
    // Log text kept word for word as specified, class names included.
    TLM_LOG_ERROR(kTLMLogTag, "Archiving NSData failed with error: ", e.what());
    return std::nullopt;
  }
}

void logUnarchiveFailure(std::string_view why) {
  // Log text kept word for word as specified, class names included.
  TLM_LOG_ERROR(kTLMLogTag, "Unarchiving NSData failed with error: ", why);
}

}  // namespace

// ---- archiver ----

void TLMKeyedArchiver::encodeString(std::string_view key, const std::optional<std::string>& value) {
  if (value) tree_[std::string(key)] = *value;
}

void TLMKeyedArchiver::encodeInt64(std::string_view key, std::int64_t value) {
  tree_[std::string(key)] = value;
}

void TLMKeyedArchiver::encodeInt64(std::string_view key, const std::optional<std::int64_t>& value) {
  if (value) encodeInt64(key, *value);
}

void TLMKeyedArchiver::encodeUInt64(std::string_view key,
                                    const std::optional<std::uint64_t>& value) {
  if (value) tree_[std::string(key)] = *value;
}

void TLMKeyedArchiver::encodeDouble(std::string_view key, double value) {
  tree_[std::string(key)] = value;
}

void TLMKeyedArchiver::encodeBool(std::string_view key, bool value) {
  tree_[std::string(key)] = value;
}

void TLMKeyedArchiver::encodeDate(std::string_view key, const std::optional<Date>& value) {
  if (value) tree_[std::string(key)] = dateNode(*value);
}

void TLMKeyedArchiver::encodeBytes(std::string_view key, const std::optional<base::Bytes>& value) {
  if (value) tree_[std::string(key)] = Json::binary(*value);
}

void TLMKeyedArchiver::encodeStringArray(std::string_view key,
                                         const std::optional<std::vector<std::string>>& value) {
  if (value) tree_[std::string(key)] = *value;
}

void TLMKeyedArchiver::encodeStringMap(
    std::string_view key, const std::optional<std::map<std::string, std::string>>& value) {
  if (value) tree_[std::string(key)] = *value;
}

void TLMKeyedArchiver::encodeValueMap(
    std::string_view key, const std::optional<std::map<std::string, TLMArchiveValue>>& value) {
  if (!value) return;
  Json node = Json::object();
  for (const auto& [k, v] : *value)
    node[k] = valueNode(v);
  tree_[std::string(key)] = std::move(node);
}

void TLMKeyedArchiver::encodeObject(std::string_view key, const TLMArchivable* object) {
  if (object) tree_[std::string(key)] = objectNode(*object);
}

void TLMKeyedArchiver::encodeObjectArray(
    std::string_view key, const std::vector<std::shared_ptr<const TLMArchivable>>& objects) {
  Json node = Json::array();
  for (const auto& object : objects) {
    if (object) node.push_back(objectNode(*object));
  }
  tree_[std::string(key)] = std::move(node);
}

// ---- unarchiver ----

const Json* TLMKeyedUnarchiver::member(std::string_view key) const {
  if (!tree_.is_object()) return nullptr;
  auto it = tree_.find(key);
  return it == tree_.end() ? nullptr : &*it;
}

bool TLMKeyedUnarchiver::containsValue(std::string_view key) const {
  return member(key) != nullptr;
}

std::optional<std::string> TLMKeyedUnarchiver::decodeString(std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_string()) return std::nullopt;
  return node->get<std::string>();
}

std::optional<std::int64_t> TLMKeyedUnarchiver::decodeInt64(std::string_view key) const {
  const Json* node = member(key);
  return node ? int64Of(*node) : std::nullopt;
}

std::optional<std::uint64_t> TLMKeyedUnarchiver::decodeUInt64(std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_number_integer()) return std::nullopt;
  if (node->is_number_unsigned()) return node->get<std::uint64_t>();
  const auto value = node->get<std::int64_t>();
  if (value < 0) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

std::optional<double> TLMKeyedUnarchiver::decodeDouble(std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_number_float()) return std::nullopt;
  return node->get<double>();
}

std::optional<bool> TLMKeyedUnarchiver::decodeBool(std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_boolean()) return std::nullopt;
  return node->get<bool>();
}

std::optional<Date> TLMKeyedUnarchiver::decodeDate(std::string_view key) const {
  const Json* node = member(key);
  return node ? dateOf(*node) : std::nullopt;
}

std::optional<base::Bytes> TLMKeyedUnarchiver::decodeBytes(std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_binary()) return std::nullopt;
  return base::Bytes(node->get_binary());
}

std::optional<std::vector<std::string>> TLMKeyedUnarchiver::decodeStringArray(
    std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_array()) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& item : *node) {
    if (!item.is_string()) return std::nullopt;
    out.push_back(item.get<std::string>());
  }
  return out;
}

std::optional<std::map<std::string, std::string>> TLMKeyedUnarchiver::decodeStringMap(
    std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_object()) return std::nullopt;
  std::map<std::string, std::string> out;
  for (const auto& [k, v] : node->items()) {
    if (!v.is_string()) return std::nullopt;
    out.emplace(k, v.get<std::string>());
  }
  return out;
}

std::optional<std::map<std::string, TLMArchiveValue>> TLMKeyedUnarchiver::decodeValueMap(
    std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_object()) return std::nullopt;
  std::map<std::string, TLMArchiveValue> out;
  for (const auto& [k, v] : node->items()) {
    auto value = valueOf(v);
    if (!value) return std::nullopt;
    out.emplace(k, std::move(*value));
  }
  return out;
}

std::shared_ptr<TLMArchivable> TLMKeyedUnarchiver::decodeObject(std::string_view key) const {
  const Json* node = member(key);
  return node ? objectOf(*node) : nullptr;
}

std::optional<std::vector<std::shared_ptr<TLMArchivable>>> TLMKeyedUnarchiver::decodeObjectArray(
    std::string_view key) const {
  const Json* node = member(key);
  if (!node || !node->is_array()) return std::nullopt;
  std::vector<std::shared_ptr<TLMArchivable>> out;
  for (const auto& item : *node) {
    if (auto object = objectOf(item)) out.push_back(std::move(object));
  }
  return out;
}

// ---- registry and entry points ----

void registerArchiveClass(std::string className, TLMArchiveFactory factory) {
  std::lock_guard lock(registry().mutex);
  registry().factories[std::move(className)] = std::move(factory);
}

void addMigrationClasses(const std::map<std::string, std::string>& oldToNewClassNames) {
  std::lock_guard lock(registry().mutex);
  for (const auto& [oldName, newName] : oldToNewClassNames) {
    registry().migrations[oldName] = newName;
  }
}

void resetMigrationClassesForTesting() {
  std::lock_guard lock(registry().mutex);
  registry().migrations.clear();
}

std::optional<base::Bytes> archiveKeyedData(const TLMArchivable* object) {
  if (!object) return std::nullopt;
  return toBytes(objectNode(*object));
}

std::shared_ptr<TLMArchivable> unarchiveKeyedData(const std::optional<base::Bytes>& data) {
  if (!data) return nullptr;
  std::string error;
  auto tree = parseTree(*data, error);
  if (!tree) {
    logUnarchiveFailure(error);
    return nullptr;
  }
  auto cls = tree->is_object() ? tree->find(kClassKey) : tree->end();
  if (!tree->is_object() || cls == tree->end() || !cls->is_string()) {
    logUnarchiveFailure("the data has no archived root object");
    return nullptr;
  }
  auto object = objectOf(*tree);
  if (!object) logUnarchiveFailure("unknown class " + cls->get<std::string>());
  return object;
}

std::optional<base::Bytes> archiveKeyedArray(
    const std::vector<std::shared_ptr<const TLMArchivable>>& objects) {
  TLMKeyedArchiver coder;
  coder.encodeObjectArray(kArrayItemsKey, objects);
  Json tree = coder.tree();
  tree[std::string(kClassKey)] = std::string(kArrayClass);
  return toBytes(tree);
}

std::optional<std::vector<std::shared_ptr<TLMArchivable>>> unarchiveKeyedArray(
    const std::optional<base::Bytes>& data) {
  if (!data) return std::nullopt;
  std::string error;
  auto tree = parseTree(*data, error);
  if (!tree) {
    logUnarchiveFailure(error);
    return std::nullopt;
  }
  auto cls = tree->is_object() ? tree->find(kClassKey) : tree->end();
  if (cls == tree->end() || !cls->is_string() ||
      cls->get_ref<const std::string&>() != kArrayClass || !(*tree)[kArrayItemsKey].is_array()) {
    logUnarchiveFailure("the data is not an archived array");
    return std::nullopt;
  }
  std::vector<std::shared_ptr<TLMArchivable>> out;
  for (const auto& item : (*tree)[kArrayItemsKey]) {
    if (auto object = objectOf(item)) out.push_back(std::move(object));
  }
  return out;
}

}  // namespace tlm
