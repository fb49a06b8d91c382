#pragma once

// The crash report writer. Everything that needs allocation or system calls
// that are not async-signal-safe is gathered beforehand into one record
// (tlcrash_log_writer_init, outside the crash path); writing a report then
// only reads that record, task memory and thread states, and encodes the
// report (crashcapture/report/tlcrash.proto) through the fixed buffer of the
// file output, learning each sub-message's length from a dry run.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "crashcapture/capture/writer/thread_source.h"
#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/elf_image.h"
#include "crashcapture/readers/core/output.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/image/image_list.h"

namespace tlcrash {

// At most this many frames are written per thread and per exception; of a
// deeper thread stack the innermost frames and the outermost few.
inline constexpr std::size_t kTLCrashLogWriterMaxFrames = 512;

// What a report says about the system, the application and the process,
// gathered outside the crash path. Absent texts are written empty where the
// report requires them (marketing version, process name and path, parent
// name) and left out otherwise.
struct TLCrashLogWriterFacts {
  std::uint32_t symbolicationStrategy = 0;
  bool userRequested = false;
  std::array<std::uint8_t, 16> reportUuid = {};
  std::string osVersion = "0.0";
  std::optional<std::string> osBuild;
  std::optional<std::string> model;
  cpu_type_t cpuType = 0;
  cpu_subtype_t cpuSubtype = 0;
  std::uint32_t processorCount = 0;
  std::uint32_t logicalProcessorCount = 0;
  std::string applicationIdentifier;
  std::string applicationVersion;
  std::optional<std::string> applicationMarketingVersion;
  std::optional<std::string> processName;
  std::uint32_t processId = 0;
  std::optional<std::string> processPath;
  std::optional<std::string> parentProcessName;
  std::uint32_t parentProcessId = 0;
  bool native = true;
  std::uint64_t startTime = 0;
};

// The record. Strings are private NUL-terminated copies (null when absent).
struct tlcrash_log_writer {
  struct {
    std::uint32_t symbolication_strategy;
    bool user_requested;
  } settings;
  struct {
    std::uint8_t uuid[16];
  } report_info;
  struct {
    char* version;
    char* build;
  } system_info;
  struct {
    char* model;
    cpu_type_t cpu_type;
    cpu_subtype_t cpu_subtype;
    std::uint32_t processor_count;
    std::uint32_t logical_processor_count;
  } machine_info;
  struct {
    char* identifier;
    char* version;
    char* marketing_version;
  } application_info;
  struct {
    char* process_name;
    std::uint32_t process_id;
    char* process_path;
    char* parent_process_name;
    std::uint32_t parent_process_id;
    bool native;
    std::uint64_t start_time;
  } process_info;
  struct {
    bool has_exception;
    char* name;
    char* reason;
    std::uint64_t* frames;
    std::size_t frame_count;
  } uncaught_exception;
  struct {
    std::size_t length;
    std::uint8_t* bytes;
  } custom_data;
  // The report's time stamp; time(2) unless a test fixes it.
  std::time_t (*clock)(std::time_t*);
};

// What the crash was: the signal with its code and fault address, and the
// Mach exception it came from, if any.
struct tlcrash_log_writer_crash_info {
  int signo;
  int code;
  std::uint64_t address;
  bool has_mach_exception;
  std::uint64_t mach_exception_type;
  const std::uint64_t* mach_exception_codes;
  std::size_t mach_exception_code_count;
};

// The images a report lists: those of a loaded-image list, Mach-O and ELF
// (may be null: no images).
struct tlcrash_log_writer_images {
  tlcrash_async_image_list* list;
};

// Writes the report to `file`: stops the other threads of `threads`, writes
// the header and the report (system, machine, application and process facts,
// every thread with its frames, the images of `images`, the uncaught
// exception, the signal and the custom data) and lets the threads run on.
// The calling thread is written only when `crashed_state` is given, with that
// state; `crashed_thread` is the one marked crashed. An ELF image is listed
// with its whole build id as its UUID.
//
// When the file output has a limit, a thread or image that would not fit is
// left out (room is kept for the images and the signal, which the report
// needs), so that what is written always decodes.
//
// Returns success, or the error of setting up symbol lookup (nothing is
// written then).
// Crash path: async-signal-safe.
tlcrash_error_t tlcrash_log_writer_write(tlcrash_log_writer* writer,
                                         tlcrash_thread_t crashed_thread,
                                         TLCrashThreadSource& threads, const Task& task,
                                         const tlcrash_log_writer_images& images,
                                         tlcrash_async_file* file,
                                         const tlcrash_async_thread_state* crashed_state,
                                         const tlcrash_log_writer_crash_info* crash_info) noexcept;

// Nothing to do; success.
tlcrash_error_t tlcrash_log_writer_close(tlcrash_log_writer* writer) noexcept;

}  // namespace tlcrash
