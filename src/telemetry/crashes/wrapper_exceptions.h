#pragma once

// The crash service's folders, and the exceptions a wrapper SDK saves for the
// crash that ends its process.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/crashes/error_records.h"
#include "telemetry/crashes/error_report.h"

namespace tlm {

// The crash service's three folders in the SDK's data directory, each made
// the first time its name is asked for in the process.
class TLMCrashesUtil {
 public:
  // "crashes": report copies and the analyzer marker.
  static std::string crashesDir();
  // "crasheslogbuffer": the crash-time buffer's files.
  static std::string logBufferDir();
  // "crasheswrapperexceptions".
  static std::string wrapperExceptionsDir();
  // The next request of each name makes its folder again.
  static void resetDirectory();
};

// Wrapper exceptions on disk, in "crasheswrapperexceptions": the one saved by
// the dying process ("last_saved_wrapper_exception") and, from the next start
// on, each under the incident id of the report it belongs to, until that
// report is sent or dropped. Loaded ones are cached for the process.
class TLMWrapperExceptionManager {
 public:
  static constexpr std::string_view kLastSavedFileName = "last_saved_wrapper_exception";

  static void saveWrapperException(const TLMWrapperException& exception);
  // Atomic, replacing a file of that name.
  static void saveWrapperException(const TLMWrapperException& exception,
                                   std::string_view baseFilename);
  // The cached exception, else the file's.
  static std::shared_ptr<TLMWrapperException> loadWrapperExceptionWithUUIDString(
      const std::string& uuidString);
  // None when there is no such file; a file that does not decode is logged
  // and deleted.
  static std::shared_ptr<TLMWrapperException> loadWrapperExceptionWithBaseFilename(
      std::string_view baseFilename);
  static void deleteWrapperExceptionWithUUIDString(const std::string& uuidString);
  static void deleteWrapperExceptionWithBaseFilename(std::string_view baseFilename);
  // The whole folder.
  static void deleteAllWrapperExceptions();
  // Takes the last saved exception off disk and ties it to the first report
  // of the same process, if any.
  static void correlateLastSavedWrapperExceptionToReport(
      const std::vector<std::shared_ptr<TLMErrorReport>>& reports);

  // Empties the cache.
  static void resetForTesting();
};

}  // namespace tlm
