#include "model/json_coders.h"

namespace wendrix {

const JSONEncoder& sharedJSONEncoder() {
  static const JSONEncoder encoder(coding::JsonStyle::pretty);
  return encoder;
}

const JSONDecoder& sharedJSONDecoder() {
  static const JSONDecoder decoder;
  return decoder;
}

std::optional<AppSettingsMap> decodeAppSettingsJSON(std::string_view text) {
  auto settings = sharedJSONDecoder().decode<AppSettingsMap>(text);
  if (!settings) return std::nullopt;
  return std::move(settings).value();
}

}  // namespace wendrix
