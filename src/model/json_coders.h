#pragma once

// The process-wide JSON coders of the layout records (export and import
// files, the per-application settings file).

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "coding/json.h"
#include "model/shortcut.h"

namespace wendrix {

class JSONEncoder {
 public:
  explicit JSONEncoder(coding::JsonStyle style) : style_(style) {}

  template <class T>
  base::Result<std::string> encode(const T& value) const {
    return coding::toJson(value, style_);
  }

 private:
  coding::JsonStyle style_;
};

class JSONDecoder {
 public:
  template <class T>
  base::Result<T> decode(std::string_view text) const {
    return coding::fromJson<T>(text);
  }
};

// Pretty-printed (indented, one member per line); keys in the records' own
// order. Readers must not depend on member order.
const JSONEncoder& sharedJSONEncoder();
const JSONDecoder& sharedJSONDecoder();

// The per-application settings in `text`, a JSON object from bundle id to
// settings; nullopt when the text does not decode.
std::optional<AppSettingsMap> decodeAppSettingsJSON(std::string_view text);

}  // namespace wendrix
