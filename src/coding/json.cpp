#include "coding/json.h"

#include <cmath>
#include <exception>
#include <nlohmann/json.hpp>

#include "base/base64.h"
#include "coding/coding_error.h"

namespace coding {
namespace {

using Json = nlohmann::ordered_json;

base::Result<Json> toJson(const Value& value, const std::string& path, int depth) {
  if (depth > kMaxDepth) return failAt(path, ErrorCode::invalidValue, "nesting too deep");
  switch (value.type()) {
    case Type::null:
      return Json(nullptr);
    case Type::boolean:
      return Json(*value.getIf<bool>());
    case Type::int64:
      return Json(*value.getIf<std::int64_t>());
    case Type::uint64:
      return Json(*value.getIf<std::uint64_t>());
    case Type::real: {
      double d = *value.getIf<double>();
      if (!std::isfinite(d)) {
        return failAt(path, ErrorCode::invalidValue, "a NaN or infinite number cannot be JSON");
      }
      return Json(d);
    }
    case Type::string:
      return Json(*value.getIf<std::string>());
    case Type::bytes:
      return Json(base::base64Encode(*value.getIf<base::Bytes>()));
    case Type::date:
      return Json(base::formatIso8601(*value.getIf<base::Time>()));
    case Type::url:
      return Json(value.getIf<base::Url>()->absoluteString());
    case Type::array: {
      Json out = Json::array();
      const Array& array = *value.getIf<Array>();
      for (std::size_t i = 0; i < array.size(); ++i) {
        auto element = toJson(array[i], indexPath(path, i), depth + 1);
        if (!element) return element.error();
        out.push_back(std::move(element).value());
      }
      return out;
    }
    case Type::dictionary: {
      Json out = Json::object();
      for (const auto& [key, member] : *value.getIf<Dictionary>()) {
        auto element = toJson(member, keyPath(path, key), depth + 1);
        if (!element) return element.error();
        out[key] = std::move(element).value();
      }
      return out;
    }
  }
  return failAt(path, ErrorCode::invalidValue, "unknown value type");
}

base::Result<Value> fromJson(const Json& json, const std::string& path, int depth) {
  if (depth > kMaxDepth) return failAt(path, ErrorCode::invalidInput, "nesting too deep");
  switch (json.type()) {
    case Json::value_t::null:
      return Value();
    case Json::value_t::boolean:
      return Value(json.get<bool>());
    case Json::value_t::number_integer:
      return Value(json.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
      auto u = json.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return Value(static_cast<std::int64_t>(u));
      }
      return Value(u);
    }
    case Json::value_t::number_float:
      return Value(json.get<double>());
    case Json::value_t::string:
      return Value(json.get_ref<const std::string&>());
    case Json::value_t::array: {
      Array array;
      array.reserve(json.size());
      for (std::size_t i = 0; i < json.size(); ++i) {
        auto element = fromJson(json[i], indexPath(path, i), depth + 1);
        if (!element) return element.error();
        array.push_back(std::move(element).value());
      }
      return Value(std::move(array));
    }
    case Json::value_t::object: {
      Dictionary dict;
      for (const auto& [key, member] : json.items()) {
        auto element = fromJson(member, keyPath(path, key), depth + 1);
        if (!element) return element.error();
        dict.set(key, std::move(element).value());
      }
      return Value(std::move(dict));
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      break;
  }
  return failAt(path, ErrorCode::invalidInput, "unsupported JSON value");
}

}  // namespace

base::Result<std::string> encodeJson(const Value& value, JsonStyle style) {
  try {
    auto json = toJson(value, "", 0);
    if (!json) return json.error();
    return json->dump(style == JsonStyle::pretty ? 2 : -1, ' ', false,
                      Json::error_handler_t::replace);
  } catch (const std::exception& e) {
    return makeError(ErrorCode::invalidValue, std::string("JSON writing failed: ") + e.what());
  }
}

base::Result<Value> decodeJson(std::string_view text) {
  try {
    Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return makeError(ErrorCode::invalidInput, "<root>: not valid JSON");
    return fromJson(json, "", 0);
  } catch (const std::exception& e) {
    return makeError(ErrorCode::invalidInput, std::string("<root>: not valid JSON: ") + e.what());
  }
}

}  // namespace coding
