#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/core/archive.h"
#include "telemetry/core/date_text.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/model/device.h"

namespace tlm {

// An entry of a context history: what was current from `timestamp` on.
class TLMHistoryInfo : public TLMArchivable {
 public:
  TLMHistoryInfo() = default;
  explicit TLMHistoryInfo(Date at) : timestamp(at) {}

  std::optional<Date> timestamp;

  std::string_view className() const override { return "TLMHistoryInfo"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMSessionHistoryInfo : public TLMHistoryInfo {
 public:
  TLMSessionHistoryInfo() = default;
  TLMSessionHistoryInfo(Date at, std::optional<std::string> id)
      : TLMHistoryInfo(at), sessionId(std::move(id)) {}

  std::optional<std::string> sessionId;

  std::string_view className() const override { return "TLMSessionHistoryInfo"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMUserIdHistoryInfo : public TLMHistoryInfo {
 public:
  TLMUserIdHistoryInfo() = default;
  TLMUserIdHistoryInfo(Date at, std::optional<std::string> id)
      : TLMHistoryInfo(at), userId(std::move(id)) {}

  std::optional<std::string> userId;

  std::string_view className() const override { return "TLMUserIdHistoryInfo"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMDeviceHistoryInfo : public TLMHistoryInfo {
 public:
  TLMDeviceHistoryInfo() = default;
  TLMDeviceHistoryInfo(Date at, std::shared_ptr<const TLMDevice> current)
      : TLMHistoryInfo(at), device(std::move(current)) {}

  std::shared_ptr<const TLMDevice> device;

  std::string_view className() const override { return "TLMDeviceHistoryInfo"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

namespace context_detail {

// Stores the keyed archive of the whole history under `key`.
void storeHistory(TLMDarAvevedUserDefaults& settings, std::string_view key,
                  const std::vector<std::shared_ptr<const TLMArchivable>>& history);

template <class T>
void storeHistory(TLMDarAvevedUserDefaults& settings, std::string_view key,
                  const std::vector<std::shared_ptr<T>>& history) {
  storeHistory(settings, key,
               std::vector<std::shared_ptr<const TLMArchivable>>(history.begin(), history.end()));
}

// The stored archive under `key` decoded to objects, or none.
std::optional<std::vector<std::shared_ptr<TLMArchivable>>> loadArchivedArray(
    const TLMDarAvevedUserDefaults& settings, std::string_view key);

// The history stored under `key`: the entries of class T that carry a
// timestamp, in stored order. Empty when nothing is stored or the value
// cannot be decoded (the unarchiving logs why).
template <class T>
std::vector<std::shared_ptr<T>> loadHistory(const TLMDarAvevedUserDefaults& settings,
                                            std::string_view key) {
  std::vector<std::shared_ptr<T>> out;
  const auto objects = loadArchivedArray(settings, key);
  if (!objects) return out;
  for (const auto& object : *objects) {
    auto entry = std::dynamic_pointer_cast<T>(object);
    if (entry && entry->timestamp) out.push_back(std::move(entry));
  }
  return out;
}

// "(null)" for none, as the context log lines print an unset id.
inline std::string textOrNull(const std::optional<std::string>& text) {
  return text ? *text : std::string("(null)");
}

}  // namespace context_detail

}  // namespace tlm
