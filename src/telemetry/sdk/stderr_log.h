#pragma once

#include <string_view>

namespace tlm {

// Levels of the SDK's messages, as the SDK numbers them.
enum class TLMLogLevel : int {
  Verbose = 2,
  Debug = 3,
  Info = 4,
  Warning = 5,
  Error = 6,
  Assert = 7,
  None = 99,
};

// Interim message sink of the SDK entry points: writes "[tag] LEVEL: message"
// to standard error when the level reaches the current threshold. The
// threshold starts at `Assert` and drops to `Warning` once the SDK has been
// configured, so a program that never starts the SDK stays quiet.
void stderrLog(TLMLogLevel level, std::string_view tag, std::string_view message);

TLMLogLevel stderrLogLevel();
void setStderrLogLevel(TLMLogLevel level);

}  // namespace tlm
