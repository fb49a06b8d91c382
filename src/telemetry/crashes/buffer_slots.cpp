#include "telemetry/crashes/buffer_slots.h"

#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <utility>

#include "telemetry/core/archive.h"
#include "telemetry/core/logger.h"
#include "telemetry/crashes/crash_buffer.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace fs = std::filesystem;

namespace {

double secondsSince1970(Date date) {
  return std::chrono::duration<double>(date.time_since_epoch()).count();
}

}  // namespace

TLMCrashesBufferSlots::TLMCrashesBufferSlots(const TLMServiceAbstract& service,
                                             std::shared_ptr<TLMEncrypter> encrypter,
                                             std::shared_ptr<dispatch::Queue> fileQueue,
                                             const dispatch::Clock& clock)
    : service_(service),
      encrypter_(std::move(encrypter)),
      fileQueue_(std::move(fileQueue)),
      clock_(clock) {}

void TLMCrashesBufferSlots::setUp() {
  std::lock_guard lock(service_.monitor());
  const std::string directory = TLMCrashesUtil::logBufferDir();
  const auto full = TLMUtility::fullURLForPathComponent(directory);
  if (!full) return;
  TLMCrashesBuffer::setPaths(full->string());
  // Buffers an earlier build wrote under the previous extension are
  // crash-time copies, not user data: dropped unread.
  fileQueue_->async([directory] {
    const auto entries = TLMUtility::contentsOfDirectory(directory);
    if (!entries) return;
    for (const fs::path& path : *entries)
      if (path.extension() == "." + std::string(kTLMEarlierBufferFileExtension))
        TLMUtility::deleteItemForPathComponent(directory + "/" + path.filename().string());
  });
  for (std::size_t i = 0; i < kTLMCrashesBufferSlotCount; ++i) {
    std::string component =
        directory + "/" + std::to_string(i) + "." + std::string(kTLMBufferFileExtension);
    // A file that exists keeps what the previous run's crash wrote into it.
    fileQueue_->async([component = std::move(component)] {
      TLMUtility::createFileAtPathComponent(component, {}, /*atomically=*/false,
                                            /*forceOverwrite=*/false);
    });
  }
}

void TLMCrashesBufferSlots::store(const TLMLogPtr& log, const std::string& internalId) {
  if (!log || !service_.isEnabled()) return;
  if (dynamic_cast<const TLMAppleErrorLog*>(log.get()) ||
      dynamic_cast<const TLMErrorAttachmentLog*>(log.get()))
    return;
  std::lock_guard lock(service_.monitor());
  const auto archive = archiveKeyedData(*log);
  if (!archive || archive->empty()) return;
  std::string token;
  if (const auto tokens = log->transmissionTargetTokens(); !tokens.empty())
    token = encrypter_->encryptString(*tokens.begin()).value_or("");
  TLM_LOG_VERBOSE(kTLMCrashesLogTag,
                  "Storing a log to Crashes Buffer: (sid: ", log->sid.value_or("(null)"),
                  ", type: ", log->type.value_or("(null)"), ")");
  TLMCrashesBuffer::store(*archive, std::move(token), internalId, secondsSince1970(clock_.now()));
}

void TLMCrashesBufferSlots::remove(const TLMLogPtr& log, const std::string& internalId) {
  std::lock_guard lock(service_.monitor());
  for (const std::size_t index : TLMCrashesBuffer::remove(internalId)) {
    if (!TLMCrashesBuffer::wasWrittenAtCrash()) continue;
    const std::string path = TLMCrashesBuffer::filePath(index);
    ::unlink(path.c_str());
    TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Deleted a log from Crashes Buffer (sid: ",
                    log && log->sid ? *log->sid : "(null)",
                    ", type: ", log && log->type ? *log->type : "(null)", ")");
    TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Deleted crash buffer file: ", path, ".");
  }
}

void TLMCrashesBufferSlots::replayAfterCrash() {
  std::lock_guard lock(service_.monitor());
  const auto group = service_.channelGroup();
  if (!group) return;
  channelUnit_ = group->addChannelUnitWithConfiguration(
      TLMChannelUnitConfiguration(std::string(kGroupId), 2, 1, 50, 1));
  const std::string directory = TLMCrashesUtil::logBufferDir();
  const auto entries = TLMUtility::contentsOfDirectory(directory);
  if (!entries) return;
  for (const fs::path& path : *entries) {
    if (path.extension() != "." + std::string(kTLMBufferFileExtension)) continue;
    const std::string component = directory + "/" + path.filename().string();
    const auto data = TLMUtility::loadDataOrMoveAsideForPathComponent(component);
    if (!data) continue;
    if (!data->empty()) {
      const auto log = unarchiveKeyedDataOf<TLMAbstractLog>(data);
      if (!log) {
        TLM_LOG_ERROR(TLMDarAveved::kLogTag,
                      "Deserialization failed for log: The log deserialized to NULL.");
        continue;
      }
      const std::string tokenComponent = TLMCrashesBuffer::tokenPathForBufferPath(component);
      if (const auto tokenData = TLMUtility::loadDataForPathComponent(tokenComponent)) {
        const std::string encrypted(tokenData->begin(), tokenData->end());
        if (const auto token = encrypter_->decryptString(encrypted)) {
          log->addTransmissionTargetToken(*token);
        } else {
          TLM_LOG_ERROR(TLMDarAveved::kLogTag, "Failed to decrypt the target token.");
        }
        TLMUtility::deleteItemForPathComponent(tokenComponent);
      }
      TLM_LOG_DEBUG(kTLMCrashesLogTag,
                    "Re-enqueueing buffered log, type: ", log->type.value_or("(null)"), ".");
      channelUnit_->enqueueItem(log, kTLMCrashesFlagsNormal);
    }
    TLMUtility::createFileAtPathComponent(component, {}, /*atomically=*/false,
                                          /*forceOverwrite=*/true);
  }
}

void TLMCrashesBufferSlots::emptyFiles() {
  const std::string directory = TLMCrashesUtil::logBufferDir();
  const auto entries = TLMUtility::contentsOfDirectory(directory);
  if (!entries) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Couldn't get files in the directory \"", directory, "\"");
    return;
  }
  for (const fs::path& path : *entries) {
    if (path.extension() != "." + std::string(kTLMBufferFileExtension)) continue;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size == 0) continue;
    TLMUtility::createFileAtPathComponent(directory + "/" + path.filename().string(), {},
                                          /*atomically=*/false, /*forceOverwrite=*/true);
  }
}

std::shared_ptr<TLMChannelUnitProtocol> TLMCrashesBufferSlots::channelUnit() const {
  std::lock_guard lock(service_.monitor());
  return channelUnit_;
}

}  // namespace tlm
