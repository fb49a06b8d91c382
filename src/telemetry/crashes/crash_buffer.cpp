#include "telemetry/crashes/crash_buffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <limits>

#include "telemetry/core/logger.h"
#include "telemetry/crashes/error_log_formatter.h"

namespace tlm {
namespace {

// Zero-filled at load; never resized, so the crash path allocates nothing.
std::array<TLMCrashesBufferSlot, kTLMCrashesBufferSlotCount> gSlots{};
std::atomic<bool> gWrittenAtCrash{false};

void copyPath(char (&to)[PATH_MAX], const std::string& from) {
  const std::size_t n = std::min(from.size(), static_cast<std::size_t>(PATH_MAX - 1));
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

void clear(TLMCrashesBufferSlot& slot) {
  slot.logData.clear();
  slot.encryptedToken.clear();
  slot.internalId.clear();
  slot.timestamp = 0;
}

void fill(TLMCrashesBufferSlot& slot, std::span<const std::uint8_t> logData,
          std::string&& encryptedToken, std::string&& internalId, double now) {
  slot.logData.assign(logData.begin(), logData.end());
  slot.encryptedToken = std::move(encryptedToken);
  slot.internalId = std::move(internalId);
  slot.timestamp = now;
}

// open, one write, close: nothing else is safe here.
void writeFile(const char* path, const void* data, std::size_t length) {
  if (path[0] == '\0') return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  if (length > 0) {
    [[maybe_unused]] const ssize_t written = ::write(fd, data, length);
  }
  ::close(fd);
}

}  // namespace

void TLMCrashesBuffer::setPaths(const std::string& directory) {
  for (std::size_t i = 0; i < gSlots.size(); ++i) {
    const std::string path =
        directory + "/" + std::to_string(i) + "." + std::string(kTLMBufferFileExtension);
    copyPath(gSlots[i].filePath, path);
    copyPath(gSlots[i].tokenFilePath, tokenPathForBufferPath(path));
    clear(gSlots[i]);
  }
}

std::string TLMCrashesBuffer::tokenPathForBufferPath(std::string bufferPath) {
  const std::string_view from = kTLMBufferFileExtension;
  const std::string_view to = kTLMTargetTokenFileExtension;
  for (std::size_t at = bufferPath.find(from); at != std::string::npos;
       at = bufferPath.find(from, at + to.size()))
    bufferPath.replace(at, from.size(), to);
  return bufferPath;
}

std::size_t TLMCrashesBuffer::store(std::span<const std::uint8_t> logData,
                                    std::string encryptedToken, std::string internalId,
                                    double now) {
  double oldest = std::numeric_limits<double>::max();
  std::size_t oldestIndex = 0;
  for (std::size_t i = 0; i < gSlots.size(); ++i) {
    auto& slot = gSlots[i];
    if (slot.logData.empty()) {
      fill(slot, logData, std::move(encryptedToken), std::move(internalId), now);
      TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Found an empty buffer position.");
      return i;
    }
    if (slot.timestamp < oldest) {
      oldest = slot.timestamp;
      oldestIndex = i;
      TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Remembering index ", i, " for oldest timestamp ",
                      std::to_string(oldest), ".");
    }
  }
  TLM_LOG_VERBOSE(kTLMCrashesLogTag,
                  "Reached end of buffer. Next step is overwriting the oldest one.");
  fill(gSlots[oldestIndex], logData, std::move(encryptedToken), std::move(internalId), now);
  TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Overwrote buffered log at index ", oldestIndex, ".");
  return oldestIndex;
}

std::vector<std::size_t> TLMCrashesBuffer::remove(const std::string& internalId) {
  std::vector<std::size_t> freed;
  for (std::size_t i = 0; i < gSlots.size(); ++i) {
    auto& slot = gSlots[i];
    if (slot.internalId.empty() || slot.internalId != internalId) continue;
    TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Deleting a log from buffer with id ", internalId);
    clear(slot);
    freed.push_back(i);
  }
  return freed;
}

bool TLMCrashesBuffer::wasWrittenAtCrash() {
  return gWrittenAtCrash.load();
}

void TLMCrashesBuffer::writeAtCrash(siginfo_t*, ucontext_t*, void*) {
  gWrittenAtCrash.store(true);
  for (const auto& slot : gSlots) {
    writeFile(slot.filePath, slot.logData.data(), slot.logData.size());
    if (!slot.encryptedToken.empty())
      writeFile(slot.tokenFilePath, slot.encryptedToken.data(), slot.encryptedToken.size());
    else if (slot.tokenFilePath[0] != '\0')
      // A token left by an earlier crash must not join this slot's log.
      ::unlink(slot.tokenFilePath);
  }
}

const TLMCrashesBufferSlot& TLMCrashesBuffer::slot(std::size_t index) {
  return gSlots.at(index);
}

void TLMCrashesBuffer::resetForTesting() {
  for (auto& slot : gSlots) {
    clear(slot);
    slot.filePath[0] = '\0';
    slot.tokenFilePath[0] = '\0';
  }
  gWrittenAtCrash.store(false);
}

}  // namespace tlm
