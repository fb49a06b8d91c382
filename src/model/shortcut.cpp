#include "model/shortcut.h"

#include "coding/codable.h"

namespace wendrix {

coding::Value IShortcut::encode() const {
  coding::Dictionary d;
  coding::put(d, "key", key);
  coding::put(d, "flagsValue", flagsValue);
  return d;
}

base::Result<IShortcut> IShortcut::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  IShortcut s;
  s.key = f.required<std::uint16_t>("key");
  s.flagsValue = f.required<std::uint64_t>("flagsValue");
  return f.finish(s);
}

coding::Value IAppSettings::encode() const {
  coding::Dictionary d;
  coding::put(d, "newWindowShortcut", newWindowShortcut);
  return d;
}

base::Result<IAppSettings> IAppSettings::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  IAppSettings settings;
  settings.newWindowShortcut = f.optional<IShortcut>("newWindowShortcut");
  return f.finish(settings);
}

}  // namespace wendrix
