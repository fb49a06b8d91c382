#pragma once

// What the stores here share to keep revisions (see UserDefaults::Revision)
// and to replace the end of a data value in place.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/result.h"
#include "coding/value.h"
#include "platform/defaults/user_defaults.h"

namespace platform::detail {

// The revision of every key of one store. Not thread-safe: the store's lock
// guards it.
class Revisions {
 public:
  UserDefaults::Revision of(std::string_view key) const {
    const auto found = changed_.find(key);
    return found == changed_.end() ? all_ : found->second;
  }
  // The value under `key` was set or removed.
  void changed(std::string_view key) { changed_.insert_or_assign(std::string(key), ++last_); }
  // Every value was read again.
  void reloaded() {
    changed_.clear();
    all_ = ++last_;
  }

 private:
  UserDefaults::Revision last_ = 1;
  UserDefaults::Revision all_ = 1;
  std::map<std::string, UserDefaults::Revision, std::less<>> changed_;
};

// The data under `key` in `values` whose end `replaceDataTail` may replace:
// none, with the reason, unless it is data of `keep` bytes or more at
// revision `expected`.
base::Result<base::Bytes*> dataToReplace(coding::Dictionary& values, const Revisions& revisions,
                                         std::string_view key, UserDefaults::Revision expected,
                                         std::size_t keep);

// Replaces `data` from `keep` on with `tail`; gives what was there, which
// the same call puts back.
base::Bytes replaceTail(base::Bytes& data, std::size_t keep, std::span<const std::uint8_t> tail);

}  // namespace platform::detail
