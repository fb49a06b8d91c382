#include "crashcapture/capture/writer_setup/log_writer_setup.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tlcrash {
namespace {

char* copyString(const std::optional<std::string>& text) {
  return text ? ::strdup(text->c_str()) : nullptr;
}

// The crash time in whole seconds, read at crash time from the clock the
// rest of the program stamps its records with. time() reads a coarser clock
// that may lag a tick behind, which could date a crash before a session
// begun a moment earlier.
std::time_t wallClockSeconds(std::time_t* out) {
  timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return static_cast<std::time_t>(-1);
  if (out) *out = now.tv_sec;
  return now.tv_sec;
}

}  // namespace

void tlcrash_log_writer_init_with_facts(tlcrash_log_writer* writer,
                                        const TLCrashLogWriterFacts& facts) {
  std::memset(writer, 0, sizeof *writer);
  writer->settings.symbolication_strategy = facts.symbolicationStrategy;
  writer->settings.user_requested = facts.userRequested;
  std::memcpy(writer->report_info.uuid, facts.reportUuid.data(), sizeof writer->report_info.uuid);
  writer->system_info.version = ::strdup(facts.osVersion.c_str());
  writer->system_info.build = copyString(facts.osBuild);
  writer->machine_info.model = copyString(facts.model);
  writer->machine_info.cpu_type = facts.cpuType;
  writer->machine_info.cpu_subtype = facts.cpuSubtype;
  writer->machine_info.processor_count = facts.processorCount;
  writer->machine_info.logical_processor_count = facts.logicalProcessorCount;
  writer->application_info.identifier = ::strdup(facts.applicationIdentifier.c_str());
  writer->application_info.version = ::strdup(facts.applicationVersion.c_str());
  writer->application_info.marketing_version = copyString(facts.applicationMarketingVersion);
  writer->process_info.process_name = copyString(facts.processName);
  writer->process_info.process_id = facts.processId;
  writer->process_info.process_path = copyString(facts.processPath);
  writer->process_info.parent_process_name = copyString(facts.parentProcessName);
  writer->process_info.parent_process_id = facts.parentProcessId;
  writer->process_info.native = facts.native;
  writer->process_info.start_time = facts.startTime;
  // Published last: a writer that reads the clock with acquire sees the
  // whole record.
  std::atomic_ref(writer->clock).store(&wallClockSeconds, std::memory_order_release);
}

void tlcrash_log_writer_set_exception(tlcrash_log_writer* writer, const std::string& name,
                                      const std::string& reason,
                                      const std::vector<std::uint64_t>& returnAddresses) {
  auto& exception = writer->uncaught_exception;
  if (std::atomic_ref(exception.has_exception).load(std::memory_order_relaxed)) {
    std::fputs("writer->uncaught_exception.has_exception == false\n", stderr);
    std::abort();
  }
  exception.name = ::strdup(name.c_str());
  exception.reason = ::strdup(reason.c_str());
  exception.frame_count = returnAddresses.size();
  if (!returnAddresses.empty()) {
    exception.frames =
        static_cast<std::uint64_t*>(std::malloc(returnAddresses.size() * sizeof(std::uint64_t)));
    if (exception.frames == nullptr)
      exception.frame_count = 0;
    else
      std::memcpy(exception.frames, returnAddresses.data(),
                  returnAddresses.size() * sizeof(std::uint64_t));
  }
  // Published last, for a crash handler that reads it with acquire.
  std::atomic_ref(exception.has_exception).store(true, std::memory_order_release);
}

void tlcrash_log_writer_set_custom_data(tlcrash_log_writer* writer,
                                        const std::optional<std::vector<std::uint8_t>>& data) {
  // A crash handler reads the length only after it loaded a non-null block
  // (acquire); the block goes first and comes back last (release).
  auto& custom = writer->custom_data;
  std::uint8_t* old = std::atomic_ref(custom.bytes).exchange(nullptr, std::memory_order_acq_rel);
  custom.length = 0;
  std::free(old);
  if (!data) return;
  // An empty block still counts as data: it is written as an empty field.
  auto* bytes = static_cast<std::uint8_t*>(std::malloc(data->empty() ? 1 : data->size()));
  if (bytes == nullptr) return;
  if (!data->empty()) std::memcpy(bytes, data->data(), data->size());
  custom.length = data->size();
  std::atomic_ref(custom.bytes).store(bytes, std::memory_order_release);
}

void tlcrash_log_writer_free(tlcrash_log_writer* writer) {
  std::free(writer->system_info.version);
  std::free(writer->system_info.build);
  std::free(writer->machine_info.model);
  std::free(writer->application_info.identifier);
  std::free(writer->application_info.version);
  std::free(writer->application_info.marketing_version);
  std::free(writer->process_info.process_name);
  std::free(writer->process_info.process_path);
  std::free(writer->process_info.parent_process_name);
  std::free(writer->uncaught_exception.name);
  std::free(writer->uncaught_exception.reason);
  std::free(writer->uncaught_exception.frames);
  std::free(writer->custom_data.bytes);
  std::memset(writer, 0, sizeof *writer);
}

}  // namespace tlcrash
