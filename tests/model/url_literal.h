#pragma once

#include "base/url.h"

namespace wendrix::testing {

// A URL the test knows to be valid.
inline base::Url url(const char* text) {
  return *base::Url::parse(text);
}

}  // namespace wendrix::testing
