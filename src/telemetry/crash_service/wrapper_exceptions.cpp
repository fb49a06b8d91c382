#include "telemetry/crash_service/wrapper_exceptions.h"

#include <map>
#include <mutex>

#include "telemetry/core/archive.h"
#include "telemetry/core/logger.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace {

struct Folders {
  std::mutex mutex;
  bool crashes = false;
  bool logBuffer = false;
  bool wrapperExceptions = false;
};

Folders& folders() {
  static Folders state;
  return state;
}

std::string folder(bool Folders::*made, std::string_view name) {
  auto& state = folders();
  std::lock_guard lock(state.mutex);
  if (!(state.*made)) {
    TLMUtility::createDirectoryForPathComponent(name);
    state.*made = true;
  }
  return std::string(name);
}

// The cache of exceptions by incident id. The wrapper SDK's calls come from
// any thread, so it is guarded.
struct Cache {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<TLMWrapperException>> exceptions;
};

Cache& cache() {
  static Cache state;
  return state;
}

std::string componentOf(std::string_view baseFilename) {
  return TLMCrashesUtil::wrapperExceptionsDir() + "/" + std::string(baseFilename);
}

}  // namespace

std::string TLMCrashesUtil::crashesDir() {
  return folder(&Folders::crashes, "crashes");
}

std::string TLMCrashesUtil::logBufferDir() {
  return folder(&Folders::logBuffer, "crasheslogbuffer");
}

std::string TLMCrashesUtil::wrapperExceptionsDir() {
  return folder(&Folders::wrapperExceptions, "crasheswrapperexceptions");
}

void TLMCrashesUtil::resetDirectory() {
  auto& state = folders();
  std::lock_guard lock(state.mutex);
  state.crashes = state.logBuffer = state.wrapperExceptions = false;
}

void TLMWrapperExceptionManager::saveWrapperException(const TLMWrapperException& exception) {
  saveWrapperException(exception, kLastSavedFileName);
}

void TLMWrapperExceptionManager::saveWrapperException(const TLMWrapperException& exception,
                                                      std::string_view baseFilename) {
  const auto data = archiveKeyedData(exception);
  if (!data) return;
  TLMUtility::createFileAtPathComponent(componentOf(baseFilename), *data, /*atomically=*/true,
                                        /*forceOverwrite=*/true);
}

std::shared_ptr<TLMWrapperException> TLMWrapperExceptionManager::loadWrapperExceptionWithUUIDString(
    const std::string& uuidString) {
  {
    auto& state = cache();
    std::lock_guard lock(state.mutex);
    if (const auto it = state.exceptions.find(uuidString); it != state.exceptions.end())
      return it->second;
  }
  return loadWrapperExceptionWithBaseFilename(uuidString);
}

std::shared_ptr<TLMWrapperException>
TLMWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(std::string_view baseFilename) {
  const std::string component = componentOf(baseFilename);
  if (!TLMUtility::fileExistsForPathComponent(component)) return nullptr;
  const auto data = TLMUtility::loadDataOrMoveAsideForPathComponent(component);
  if (!data) return nullptr;
  auto exception = unarchiveKeyedDataOf<TLMWrapperException>(data);
  if (!exception) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Could not read exception data stored on disk with file name ",
                  baseFilename);
    TLMUtility::deleteItemForPathComponent(component);
  }
  return exception;
}

void TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(
    const std::string& uuidString) {
  deleteWrapperExceptionWithBaseFilename(uuidString);
}

void TLMWrapperExceptionManager::deleteWrapperExceptionWithBaseFilename(
    std::string_view baseFilename) {
  TLMUtility::deleteItemForPathComponent(componentOf(baseFilename));
}

void TLMWrapperExceptionManager::deleteAllWrapperExceptions() {
  TLMUtility::deleteItemForPathComponent(TLMCrashesUtil::wrapperExceptionsDir());
}

void TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
    const std::vector<std::shared_ptr<TLMErrorReport>>& reports) {
  const auto exception = loadWrapperExceptionWithBaseFilename(kLastSavedFileName);
  if (!exception) return;
  deleteWrapperExceptionWithBaseFilename(kLastSavedFileName);
  for (const auto& report : reports) {
    if (!report || !report->incidentIdentifier()) continue;
    const auto processId = static_cast<std::uint64_t>(exception->processId.value_or(0));
    if (report->appProcessIdentifier() != processId) continue;
    const std::string& incident = *report->incidentIdentifier();
    {
      auto& state = cache();
      std::lock_guard lock(state.mutex);
      state.exceptions[incident] = exception;
    }
    saveWrapperException(*exception, incident);
    return;
  }
}

void TLMWrapperExceptionManager::resetForTesting() {
  auto& state = cache();
  std::lock_guard lock(state.mutex);
  state.exceptions.clear();
}

}  // namespace tlm
