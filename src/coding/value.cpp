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

namespace detail {

BoxedUrl::BoxedUrl(base::Url url) : url_(std::make_unique<base::Url>(std::move(url))) {}

BoxedUrl::BoxedUrl(const BoxedUrl& other)
    : url_(other.url_ ? std::make_unique<base::Url>(*other.url_) : nullptr) {}

BoxedUrl& BoxedUrl::operator=(const BoxedUrl& other) {
  if (this != &other) url_ = other.url_ ? std::make_unique<base::Url>(*other.url_) : nullptr;
  return *this;
}

BoxedUrl::~BoxedUrl() = default;

bool operator==(const BoxedUrl& a, const BoxedUrl& b) {
  if (!a.url_ || !b.url_) return a.url_ == b.url_;
  return *a.url_ == *b.url_;
}

}  // namespace detail

namespace {

bool hasDuplicateKeys(const std::vector<Dictionary::Entry>& entries) {
  // Pairwise for the small dictionaries records make; sorted beyond.
  constexpr std::size_t kPairwiseLimit = 16;
  if (entries.size() <= kPairwiseLimit) {
    for (std::size_t i = 1; i < entries.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (entries[i].first == entries[j].first) return true;
      }
    }
    return false;
  }
  std::vector<std::string_view> keys;
  keys.reserve(entries.size());
  for (const auto& entry : entries)
    keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
}

}  // namespace

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  for (const auto& [key, value] : entries)
    set(key, value);
}

Dictionary::Dictionary(std::vector<Entry> entries) {
  if (!hasDuplicateKeys(entries)) {
    entries_ = std::move(entries);
    return;
  }
  entries_.reserve(entries.size());
  for (auto& [key, value] : entries)
    set(std::move(key), std::move(value));
}

void Dictionary::set(std::string key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  // Room for a record's few members at once, rather than growing by one,
  // two and four.
  constexpr std::size_t kFirstCapacity = 4;
  if (entries_.capacity() == 0) entries_.reserve(kFirstCapacity);
  entries_.emplace_back(std::move(key), std::move(value));
}

const Dictionary::Entry* Dictionary::findEntry(std::string_view key) const {
  for (const Entry& entry : entries_) {
    if (entry.first == key) return &entry;
  }
  return nullptr;
}

const Value* Dictionary::find(std::string_view key) const {
  const Entry* entry = findEntry(key);
  return entry ? &entry->second : nullptr;
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

void Dictionary::reserve(std::size_t count) {
  entries_.reserve(count);
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
