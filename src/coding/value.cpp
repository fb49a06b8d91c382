#include "coding/value.h"

#include <algorithm>

namespace coding {

std::string_view typeName(Type type) {
  switch (type) {
    case Type::null:
      return "null";
    case Type::boolean:
      return "boolean";
    case Type::int64:
    case Type::uint64:
      return "integer";
    case Type::real:
      return "number";
    case Type::string:
      return "string";
    case Type::bytes:
      return "data";
    case Type::date:
      return "date";
    case Type::url:
      return "URL";
    case Type::array:
      return "array";
    case Type::dictionary:
      return "dictionary";
  }
  return "unknown";
}

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  for (const auto& [key, value] : entries)
    set(key, value);
}

void Dictionary::set(std::string key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

const Value* Dictionary::find(std::string_view key) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.first == key; });
  return it == entries_.end() ? nullptr : &it->second;
}

Value* Dictionary::find(std::string_view key) {
  return const_cast<Value*>(std::as_const(*this).find(key));
}

bool Dictionary::erase(std::string_view key) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const Value* other = b.find(key);
    if (!other || !(*other == value)) return false;
  }
  return true;
}

bool operator==(const Value& a, const Value& b) {
  const auto* ai = a.getIf<std::int64_t>();
  const auto* au = a.getIf<std::uint64_t>();
  const auto* bi = b.getIf<std::int64_t>();
  const auto* bu = b.getIf<std::uint64_t>();
  if (ai && bu) return *ai >= 0 && static_cast<std::uint64_t>(*ai) == *bu;
  if (au && bi) return *bi >= 0 && static_cast<std::uint64_t>(*bi) == *au;
  return a.v_ == b.v_;
}

}  // namespace coding
