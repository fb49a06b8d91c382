#include "coding/reader.h"

#include <cmath>
#include <cstdio>

#include "base/base64.h"

namespace coding {
namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

std::string describe(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

}  // namespace

Reader::Reader(const Value& value, Format format, std::string path)
    : value_(&value),
      base_(path.empty() ? nullptr : std::make_shared<const std::string>(std::move(path))),
      format_(format) {}

std::string Reader::path() const {
  std::string text = base_ ? *base_ : std::string();
  for (std::size_t i = 0; i < stepCount_; ++i) {
    const std::uintptr_t step = steps_[i];
    if (step & 1) {
      text += '[';
      text += std::to_string(step >> 1);
      text += ']';
    } else {
      const auto& key = *reinterpret_cast<const std::string*>(step);
      if (!text.empty()) text += '.';
      text += key;
    }
  }
  return text;
}

Reader Reader::child(const Value& value, std::uintptr_t step) const {
  Reader out = *this;
  out.value_ = &value;
  if (out.stepCount_ == kInlineSteps) {
    std::string text = path();
    out.base_ = text.empty() ? nullptr : std::make_shared<const std::string>(std::move(text));
    out.stepCount_ = 0;
  }
  out.steps_[out.stepCount_++] = step;
  return out;
}

Reader Reader::member(const Dictionary::Entry& entry) const {
  static_assert(alignof(std::string) > 1, "key addresses keep the low bit free");
  return child(entry.second, reinterpret_cast<std::uintptr_t>(&entry.first));
}

Reader Reader::element(const Value& value, std::size_t index) const {
  return child(value, (static_cast<std::uintptr_t>(index) << 1) | 1);
}

base::Error Reader::error(ErrorCode code, std::string_view what) const {
  std::string description = path();
  if (description.empty()) description = "<root>";
  description += ": ";
  description += what;
  return makeError(code, std::move(description));
}

base::Error Reader::typeMismatch(std::string_view expected) const {
  if (value_->isNull()) {
    return error(ErrorCode::valueNotFound, "expected " + std::string(expected) + ", found null");
  }
  return error(ErrorCode::typeMismatch, "expected " + std::string(expected) + ", found " +
                                            std::string(typeName(value_->type())));
}

base::Result<bool> Reader::boolean() const {
  if (const bool* b = value_->getIf<bool>()) return *b;
  return typeMismatch("boolean");
}

base::Result<std::int64_t> Reader::int64() const {
  if (const auto* i = value_->getIf<std::int64_t>()) return *i;
  if (const auto* u = value_->getIf<std::uint64_t>()) {
    if (*u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(*u);
    }
    return error(ErrorCode::outOfRange, "integer " + std::to_string(*u) + " out of range");
  }
  if (const auto* d = value_->getIf<double>()) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -kTwoTo63 && *d < kTwoTo63) {
      return static_cast<std::int64_t>(*d);
    }
    return error(ErrorCode::outOfRange, "number " + describe(*d) + " is not a 64-bit integer");
  }
  return typeMismatch("integer");
}

base::Result<std::uint64_t> Reader::uint64() const {
  if (const auto* u = value_->getIf<std::uint64_t>()) return *u;
  if (const auto* i = value_->getIf<std::int64_t>()) {
    if (*i >= 0) return static_cast<std::uint64_t>(*i);
    // Property lists keep 64 bits without sign: a value at or above 2^63
    // comes back negative and keeps its bit pattern here.
    if (format_ == Format::propertyList) return static_cast<std::uint64_t>(*i);
    return error(ErrorCode::outOfRange, "integer " + std::to_string(*i) + " out of range");
  }
  if (const auto* d = value_->getIf<double>()) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= 0 && *d < kTwoTo64) {
      return static_cast<std::uint64_t>(*d);
    }
    return error(ErrorCode::outOfRange,
                 "number " + describe(*d) + " is not an unsigned 64-bit integer");
  }
  return typeMismatch("integer");
}

base::Result<double> Reader::number() const {
  if (const auto* d = value_->getIf<double>()) return *d;
  if (const auto* i = value_->getIf<std::int64_t>()) return static_cast<double>(*i);
  if (const auto* u = value_->getIf<std::uint64_t>()) return static_cast<double>(*u);
  return typeMismatch("number");
}

base::Result<std::string> Reader::string() const {
  if (const auto* s = value_->getIf<std::string>()) return *s;
  return typeMismatch("string");
}

base::Result<base::Bytes> Reader::bytes() const {
  if (const auto* b = value_->getIf<base::Bytes>()) return *b;
  if (format_ == Format::json) {
    if (const auto* s = value_->getIf<std::string>()) {
      if (auto decoded = base::base64Decode(*s)) return std::move(*decoded);
      return error(ErrorCode::dataCorrupted, "invalid Base64 data");
    }
    return typeMismatch("Base64 string");
  }
  return typeMismatch("data");
}

base::Result<base::Time> Reader::date() const {
  if (const auto* t = value_->getIf<base::Time>()) return *t;
  if (format_ == Format::json) {
    if (const auto* s = value_->getIf<std::string>()) {
      if (auto parsed = base::parseIso8601(*s)) return *parsed;
      return error(ErrorCode::dataCorrupted, "invalid ISO 8601 date");
    }
    return typeMismatch("date string");
  }
  return typeMismatch("date");
}

base::Result<base::Url> Reader::url() const {
  if (const auto* u = value_->getIf<base::Url>()) return *u;
  if (format_ == Format::json) {
    if (const auto* s = value_->getIf<std::string>()) {
      if (auto parsed = base::Url::parse(*s)) return std::move(*parsed);
      return error(ErrorCode::dataCorrupted, "invalid URL");
    }
    return typeMismatch("URL string");
  }
  if (format_ == Format::propertyList) {
    if (!value_->getIf<Dictionary>()) return typeMismatch("URL dictionary");
    auto relative = at("relative");
    if (!relative) return relative.error();
    auto text = relative->string();
    if (!text) return text.error();
    auto baseMember = find("base");
    if (!baseMember) return baseMember.error();
    if (*baseMember) {
      auto baseUrl = (*baseMember)->url();
      if (!baseUrl) return baseUrl.error();
      if (auto resolved = baseUrl->resolve(*text)) return std::move(*resolved);
      return relative->error(ErrorCode::dataCorrupted, "invalid relative URL");
    }
    if (auto parsed = base::Url::parse(*text)) return std::move(*parsed);
    return relative->error(ErrorCode::dataCorrupted, "invalid URL");
  }
  return typeMismatch("URL");
}

base::Result<Reader::Elements> Reader::elements() const {
  const auto* array = value_->getIf<Array>();
  if (!array) return typeMismatch("array");
  return Elements(*this, *array);
}

base::Result<Reader::Members> Reader::members() const {
  const auto* dict = value_->getIf<Dictionary>();
  if (!dict) return typeMismatch("dictionary");
  return Members(*this, *dict);
}

base::Result<Reader> Reader::at(std::string_view key) const {
  const auto* dict = value_->getIf<Dictionary>();
  if (!dict) return typeMismatch("dictionary");
  const Dictionary::Entry* entry = dict->findEntry(key);
  if (!entry) return error(ErrorCode::keyNotFound, "missing key \"" + std::string(key) + "\"");
  return member(*entry);
}

base::Result<std::optional<Reader>> Reader::find(std::string_view key) const {
  const auto* dict = value_->getIf<Dictionary>();
  if (!dict) return typeMismatch("dictionary");
  const Dictionary::Entry* entry = dict->findEntry(key);
  if (!entry || entry->second.isNull()) return std::optional<Reader>();
  return std::optional<Reader>(member(*entry));
}

}  // namespace coding
