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
// Set once at set-up: what every slot's buffer file path and token file path
// begin with, "<directory>/" and the same as a token path; empty before.
// The slots' paths are made from them when needed, so that sixty pairs of
// PATH_MAX buffers are not kept for the crash path.
char gBufferPathFront[PATH_MAX];
char gTokenPathFront[PATH_MAX];

void copyPath(char (&to)[PATH_MAX], const std::string& from) {
  const std::size_t n = std::min(from.size(), static_cast<std::size_t>(PATH_MAX - 1));
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

// "<front><index>.<extension>" into `path`, cut to PATH_MAX - 1 bytes; empty
// when `front` is. Async-signal-safe.
void slotPath(char (&path)[PATH_MAX], const char* front, std::size_t index,
              std::string_view extension) {
  std::size_t length = 0;
  auto append = [&](char c) {
    if (length < PATH_MAX - 1) path[length++] = c;
  };
  if (front[0] != '\0') {
    for (const char* c = front; *c != '\0'; ++c)
      append(*c);
    char digits[20];
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + index % 10);
      index /= 10;
    } while (index != 0);
    while (count > 0)
      append(digits[--count]);
    append('.');
    for (const char c : extension)
      append(c);
  }
  path[length] = '\0';
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
  // The extension never spans the "/", so replacing it in the front alone
  // gives the token paths of the whole buffer paths.
  copyPath(gBufferPathFront, directory + "/");
  copyPath(gTokenPathFront, tokenPathForBufferPath(directory + "/"));
  for (auto& slot : gSlots)
    clear(slot);
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
  char filePath[PATH_MAX];
  char tokenFilePath[PATH_MAX];
  for (std::size_t i = 0; i < gSlots.size(); ++i) {
    const auto& slot = gSlots[i];
    slotPath(filePath, gBufferPathFront, i, kTLMBufferFileExtension);
    slotPath(tokenFilePath, gTokenPathFront, i, kTLMTargetTokenFileExtension);
    writeFile(filePath, slot.logData.data(), slot.logData.size());
    if (!slot.encryptedToken.empty())
      writeFile(tokenFilePath, slot.encryptedToken.data(), slot.encryptedToken.size());
    else if (tokenFilePath[0] != '\0')
      // A token left by an earlier crash must not join this slot's log.
      ::unlink(tokenFilePath);
  }
}

const TLMCrashesBufferSlot& TLMCrashesBuffer::slot(std::size_t index) {
  return gSlots.at(index);
}

std::string TLMCrashesBuffer::filePath(std::size_t index) {
  char path[PATH_MAX];
  slotPath(path, gBufferPathFront, index, kTLMBufferFileExtension);
  return path;
}

std::string TLMCrashesBuffer::tokenFilePath(std::size_t index) {
  char path[PATH_MAX];
  slotPath(path, gTokenPathFront, index, kTLMTargetTokenFileExtension);
  return path;
}

void TLMCrashesBuffer::resetForTesting() {
  for (auto& slot : gSlots)
    clear(slot);
  gBufferPathFront[0] = '\0';
  gTokenPathFront[0] = '\0';
  gWrittenAtCrash.store(false);
}

}  // namespace tlm
