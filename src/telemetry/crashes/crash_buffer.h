#pragma once

// The crash-time log buffer: a fixed array of 60 slots holding the archives
// of the logs in flight (between their preparation and their storage), which
// the crash callback writes to one file per slot with nothing but open,
// write and close. Process-wide, as the crash path can only reach statics.
//
// Slot updates are serialised by the caller (the crash service's monitor);
// the crash callback reads the slots without a lock and may see one in the
// middle of an update.

#include <limits.h>
#include <signal.h>
#include <ucontext.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tlm {

inline constexpr std::size_t kTLMCrashesBufferSlotCount = 60;
inline constexpr std::string_view kTLMBufferFileExtension = "tlmcrasheslogbuffer";
// The extension earlier builds gave the buffer files; set-up removes them.
inline constexpr std::string_view kTLMEarlierBufferFileExtension = "mscrasheslogbuffer";
inline constexpr std::string_view kTLMTargetTokenFileExtension = "targettoken";

struct TLMCrashesBufferSlot {
  // The log's archive; empty: the slot is free.
  std::vector<std::uint8_t> logData;
  // One target token of the log, encrypted (Base64 text); empty for none.
  std::string encryptedToken;
  // The channel's id of the log.
  std::string internalId;
  // Seconds since 1970 when the slot was filled.
  double timestamp;
};

class TLMCrashesBuffer {
 public:
  // Slot i gets the paths "<directory>/<i>.tlmcrasheslogbuffer" and
  // "<directory>/<i>.targettoken" and is emptied.
  static void setPaths(const std::string& directory);
  // The token file of a buffer file: every "tlmcrasheslogbuffer" replaced.
  static std::string tokenPathForBufferPath(std::string bufferPath);

  // Puts a log into the first free slot, else over the oldest (the lowest
  // index among equal times). Answers the slot's index.
  static std::size_t store(std::span<const std::uint8_t> logData, std::string encryptedToken,
                           std::string internalId, double now);
  // Frees every slot holding `internalId`; answers their indexes.
  static std::vector<std::size_t> remove(const std::string& internalId);

  // Whether the crash callback has run in this process.
  static bool wasWrittenAtCrash();
  // The crash callback: writes every slot to its file (free slots leave
  // empty files) and each token to its token file. Async-signal-safe.
  static void writeAtCrash(siginfo_t* info, ucontext_t* userContext, void* context);

  static const TLMCrashesBufferSlot& slot(std::size_t index);
  // The files of slot `index` (at most PATH_MAX - 1 bytes); empty before
  // set-up.
  static std::string filePath(std::size_t index);
  static std::string tokenFilePath(std::size_t index);
  // Every slot empty, no paths, not written at crash.
  static void resetForTesting();
};

}  // namespace tlm
