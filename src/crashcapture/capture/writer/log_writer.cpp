#include "crashcapture/capture/writer/log_writer.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crashcapture/capture/writer/field_encoder.h"
#include "crashcapture/platform/cached_task.h"
#include "crashcapture/readers/core/safe_string.h"
#include "crashcapture/readers/core/signal_names.h"
#include "crashcapture/readers/core/thread_capture.h"
#include "crashcapture/readers/image/objc.h"
#include "crashcapture/readers/image/symbol_lookup.h"
#include "crashcapture/readers/unwind/frame_cursor.h"
#include "crashcapture/report/report_format.h"

namespace tlcrash {
namespace {

using type = tlcrash_field_type;

// Field numbers of tlcrash.CrashReport and its messages.
enum ReportField : std::uint32_t {
  systemInfoField = 1,
  applicationInfoField = 2,
  threadsField = 3,
  binaryImagesField = 4,
  exceptionField = 5,
  signalField = 6,
  processInfoField = 7,
  machineInfoField = 8,
  reportInfoField = 9,
  customDataField = 10,
};

// The report's fixed values here: operating system LINUX, CPU in Mach numbering.
constexpr std::uint32_t kOperatingSystemLinux = 5;
constexpr std::uint32_t kArchitectureX86_64 = 1;
constexpr std::uint32_t kTypeEncodingMach = 1;
constexpr std::uint32_t LC_UUID = 0x1b;

// The text of an absent string, for fields the report requires.
const char* orEmpty(const char* text) {
  return text != nullptr ? text : "";
}

std::size_t packString(tlcrash_async_file* file, std::uint32_t field, const char* text) {
  return tlcrash_writer_pack(file, field, type::string, text);
}
std::size_t packUint32(tlcrash_async_file* file, std::uint32_t field, std::uint32_t value) {
  return tlcrash_writer_pack(file, field, type::uint32, &value);
}
std::size_t packUint64(tlcrash_async_file* file, std::uint32_t field, std::uint64_t value) {
  return tlcrash_writer_pack(file, field, type::uint64, &value);
}
std::size_t packEnum(tlcrash_async_file* file, std::uint32_t field, std::uint32_t value) {
  return tlcrash_writer_pack(file, field, type::enumeration, &value);
}
std::size_t packBool(tlcrash_async_file* file, std::uint32_t field, bool value) {
  return tlcrash_writer_pack(file, field, type::boolean, &value);
}
std::size_t packBytes(tlcrash_async_file* file, std::uint32_t field, const void* data,
                      std::size_t length) {
  const tlcrash_field_bytes bytes{length, data};
  return tlcrash_writer_pack(file, field, type::bytes, &bytes);
}

// A sub-message: `body(file)` writes (or, with null, measures) the body and
// returns its length. Returns the whole field's length.
template <class Body>
std::size_t packMessage(tlcrash_async_file* file, std::uint32_t field, Body body) {
  const auto length = static_cast<std::uint32_t>(body(nullptr));
  const std::size_t header = tlcrash_writer_pack(file, field, type::message, &length);
  if (file != nullptr) body(file);
  return header + length;
}

// Whether `length` more bytes fit the output's limit with `reserve` left over.
bool fits(const tlcrash_async_file* file, std::size_t length, std::size_t reserve) {
  if (file->limit <= 0) return true;
  const auto left = static_cast<std::size_t>(file->limit - file->total_bytes);
  return length <= left && reserve <= left - length;
}

// Everything one write needs to reach.
struct WriteContext {
  const tlcrash_log_writer* writer;
  const Task* task;
  const tlcrash_log_writer_images* images;
  tlcrash_async_objc_cache* objc_cache;
};

std::size_t writeProcessor(tlcrash_async_file* file, std::uint64_t cpuType,
                           std::uint64_t cpuSubtype) {
  return packEnum(file, 1, kTypeEncodingMach) + packUint64(file, 2, cpuType) +
         packUint64(file, 3, cpuSubtype);
}

std::size_t writeReportInfo(tlcrash_async_file* file, const tlcrash_log_writer* writer) {
  return packBool(file, 1, writer->settings.user_requested) +
         packBytes(file, 2, writer->report_info.uuid, sizeof writer->report_info.uuid);
}

std::size_t writeSystemInfo(tlcrash_async_file* file, const tlcrash_log_writer* writer,
                            std::int64_t timestamp) {
  std::size_t size = packEnum(file, 1, kOperatingSystemLinux);
  size += packString(file, 2, orEmpty(writer->system_info.version));
  if (writer->system_info.build != nullptr) size += packString(file, 5, writer->system_info.build);
  size += packEnum(file, 3, kArchitectureX86_64);
  size += tlcrash_writer_pack(file, 4, type::int64, &timestamp);
  return size;
}

std::size_t writeMachineInfo(tlcrash_async_file* file, const tlcrash_log_writer* writer) {
  const auto& machine = writer->machine_info;
  std::size_t size = 0;
  if (machine.model != nullptr) size += packString(file, 1, machine.model);
  size += packMessage(file, 2, [&](tlcrash_async_file* out) {
    return writeProcessor(out, static_cast<std::uint32_t>(machine.cpu_type),
                          static_cast<std::uint32_t>(machine.cpu_subtype));
  });
  size += packUint32(file, 3, machine.processor_count);
  size += packUint32(file, 4, machine.logical_processor_count);
  return size;
}

std::size_t writeApplicationInfo(tlcrash_async_file* file, const tlcrash_log_writer* writer) {
  const auto& application = writer->application_info;
  return packString(file, 1, orEmpty(application.identifier)) +
         packString(file, 2, orEmpty(application.version)) +
         packString(file, 3, orEmpty(application.marketing_version));
}

std::size_t writeProcessInfo(tlcrash_async_file* file, const tlcrash_log_writer* writer) {
  const auto& process = writer->process_info;
  return packString(file, 1, orEmpty(process.process_name)) +
         packUint32(file, 2, process.process_id) +
         packString(file, 3, orEmpty(process.process_path)) +
         packString(file, 4, orEmpty(process.parent_process_name)) +
         packUint32(file, 5, process.parent_process_id) + packBool(file, 6, process.native) +
         packUint64(file, 7, process.start_time);
}

// The symbol of a frame, found twice: once to measure, once to write.
struct SymbolWrite {
  tlcrash_async_file* file;
  std::uint32_t length;
  bool found;
};

std::size_t symbolBody(tlcrash_async_file* file, tlcrash_vm_address_t address, const char* name) {
  return packString(file, 1, name) + packUint64(file, 2, address);
}

void measureSymbol(tlcrash_vm_address_t address, const char* name, void* context) {
  auto* write = static_cast<SymbolWrite*>(context);
  write->length = static_cast<std::uint32_t>(symbolBody(nullptr, address, name));
  write->found = true;
}

void writeSymbol(tlcrash_vm_address_t address, const char* name, void* context) {
  auto* write = static_cast<SymbolWrite*>(context);
  tlcrash_writer_pack(write->file, 6, type::message, &write->length);
  symbolBody(write->file, address, name);
}

// The symbol of `pc` from the listed image that holds it, measured or
// written.
void imageSymbol(const WriteContext& context, std::uint64_t pc, SymbolWrite* symbol) {
  tlcrash_async_image_list* list = context.images->list;
  if (list == nullptr) return;
  tlcrash_async_image_list_set_reading(list, true);
  const tlcrash_async_image* image = tlcrash_async_image_list_image_for_address(list, pc);
  if (image != nullptr) {
    tlcrash_async_find_image_symbol(image, context.writer->settings.symbolication_strategy,
                                    context.objc_cache, pc,
                                    symbol->file != nullptr ? writeSymbol : measureSymbol, symbol);
  }
  tlcrash_async_image_list_set_reading(list, false);
}

// A StackFrame body: the pc, then the symbol when the strategy asks for one
// and an image holds the pc.
std::size_t writeFrameBody(tlcrash_async_file* file, const WriteContext& context,
                           std::uint64_t pc) {
  std::size_t size = packUint64(file, 3, pc);
  if (context.writer->settings.symbolication_strategy == TLCRASH_ASYNC_SYMBOL_STRATEGY_NONE)
    return size;
  SymbolWrite symbol{nullptr, 0, false};
  imageSymbol(context, pc, &symbol);
  if (!symbol.found) return size;
  size += tlcrash_writer_pack(nullptr, 6, type::message, &symbol.length) + symbol.length;
  if (file != nullptr) {
    symbol.file = file;
    imageSymbol(context, pc, &symbol);
  }
  return size;
}

std::size_t writeFrame(tlcrash_async_file* file, std::uint32_t field, const WriteContext& context,
                       std::uint64_t pc) {
  return packMessage(file, field,
                     [&](tlcrash_async_file* out) { return writeFrameBody(out, context, pc); });
}

std::size_t writeRegister(tlcrash_async_file* file, const char* name, std::uint64_t value) {
  return packMessage(file, 4, [&](tlcrash_async_file* out) {
    return packString(out, 1, name) + packUint64(out, 2, value);
  });
}

// Of a stack deeper than the frame limit, this many outermost frames (the
// thread's start, main) are kept after the innermost ones.
constexpr std::size_t kOutermostFrames = 16;
// A walk ends after this many steps, whatever the stack holds.
constexpr std::size_t kMaxWalkSteps = std::size_t{1} << 20;

// The instruction pointers of a thread's frames as written: the innermost
// ones and, of a deeper stack, the outermost few.
struct ThreadFrames {
  std::uint64_t pcs[kTLCrashLogWriterMaxFrames];
  std::size_t count;
};

// Walks the stack from `state` once (a report measures each thread before it
// writes it). The stack is read through a block cache, as a walk reads many
// small values close together.
void walkThread(const WriteContext& context, const tlcrash_async_thread_state* state,
                ThreadFrames* frames) {
  frames->count = 0;
  const CachedTask task(*context.task);
  tlcrash_async_frame_cursor cursor;
  tlcrash_async_frame_cursor_init(&cursor, task, state, context.images->list);
  if (tlcrash_async_frame_cursor_next(&cursor) == tlcrash_async_frame_error_t::success) {
    // The innermost frames are kept as they are found; past them the walk
    // goes on to the end, keeping the last few in a ring.
    constexpr std::size_t kInnermostFrames = kTLCrashLogWriterMaxFrames - kOutermostFrames;
    std::uint64_t outermost[kOutermostFrames];
    std::size_t beyond = 0;  // frames found after the innermost ones
    for (std::size_t steps = 0; steps < kMaxWalkSteps; ++steps) {
      std::uint64_t pc = 0;
      if (tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_IP, &pc) !=
          tlcrash_async_frame_error_t::success)
        break;
      if (steps < kInnermostFrames) {
        frames->pcs[frames->count++] = pc;
      } else {
        outermost[beyond % kOutermostFrames] = pc;
        ++beyond;
      }
      if (tlcrash_async_frame_cursor_next(&cursor) != tlcrash_async_frame_error_t::success) break;
    }
    const std::size_t kept = beyond < kOutermostFrames ? beyond : kOutermostFrames;
    for (std::size_t i = beyond - kept; i < beyond; ++i)
      frames->pcs[frames->count++] = outermost[i % kOutermostFrames];
  }
  tlcrash_async_frame_cursor_free(&cursor);
}

// A Thread body. Without a state the thread has no frames; the crashed
// thread's registers are those of its first frame.
std::size_t writeThreadBody(tlcrash_async_file* file, const WriteContext& context,
                            std::uint32_t number, bool crashed,
                            const tlcrash_async_thread_state* state, const ThreadFrames& frames) {
  std::size_t size = packUint32(file, 1, number) + packBool(file, 3, crashed);
  if (state == nullptr) return size;
  if (crashed) {
    const std::size_t count = tlcrash_async_thread_state_get_reg_count(state);
    for (std::size_t reg = 0; reg < count; ++reg) {
      const int n = static_cast<int>(reg);
      const std::uint64_t value = tlcrash_async_thread_state_has_reg(state, n)
                                      ? tlcrash_async_thread_state_get_reg(state, n)
                                      : 0;
      size += writeRegister(file, tlcrash_async_thread_state_get_reg_name(state, n), value);
    }
  }
  for (std::size_t i = 0; i < frames.count; ++i)
    size += writeFrame(file, 2, context, frames.pcs[i]);
  return size;
}

// The 16 bytes of the image's LC_UUID command; false without one.
bool imageUuid(const tlcrash_async_macho* image, std::uint8_t (&uuid)[16]) {
  const std::uint8_t* command = tlcrash_async_macho_find_command(image, LC_UUID);
  if (command == nullptr || tlcrash_async_macho_cmd_uint32(image, command, 4) < 8 + sizeof uuid)
    return false;
  tlcrash_async_memcpy(uuid, command + 8, sizeof uuid);
  return true;
}

std::size_t writeImageBody(tlcrash_async_file* file, const tlcrash_async_macho* image) {
  std::size_t size = packUint64(file, 2, image->text_size);
  size += packUint64(file, 1, image->header_addr);
  size += packString(file, 3, orEmpty(tlcrash_async_macho_name(image)));
  std::uint8_t uuid[16];
  if (imageUuid(image, uuid)) size += packBytes(file, 4, uuid, sizeof uuid);
  size += packMessage(file, 5, [&](tlcrash_async_file* out) {
    return writeProcessor(out, static_cast<std::uint32_t>(tlcrash_async_macho_cpu_type(image)),
                          static_cast<std::uint32_t>(tlcrash_async_macho_cpu_subtype(image)));
  });
  return size;
}

std::size_t writeElfImageBody(tlcrash_async_file* file, const tlcrash_async_elf_image& image,
                              const char* path) {
  std::size_t size = packUint64(file, 2, image.text_size);
  size += packUint64(file, 1, image.text_start);
  size += packString(file, 3, orEmpty(path));
  if (image.build_id_size > 0) size += packBytes(file, 4, image.build_id, image.build_id_size);
  if (image.cpu_type != 0) {
    size += packMessage(file, 5, [&](tlcrash_async_file* out) {
      return writeProcessor(out, static_cast<std::uint32_t>(image.cpu_type),
                            static_cast<std::uint32_t>(image.cpu_subtype));
    });
  }
  return size;
}

// One image of the list in its format.
std::size_t writeImageEntry(tlcrash_async_file* file, const tlcrash_async_image* image) {
  return packMessage(file, binaryImagesField, [&](tlcrash_async_file* out) {
    return image->format == tlcrash_async_image_format::macho
               ? writeImageBody(out, &image->macho)
               : writeElfImageBody(out, image->elf, image->elf_name);
  });
}

// Every image entry, each written only when it fits with `reserve` left;
// returns the bytes they take (all of them, in a dry run).
std::size_t writeImages(tlcrash_async_file* file, const tlcrash_log_writer_images& images,
                        std::size_t reserve) {
  std::size_t size = 0;
  if (images.list != nullptr) {
    tlcrash_async_image_list_set_reading(images.list, true);
    for (const tlcrash_async_image* image = tlcrash_async_image_list_next(images.list, nullptr);
         image != nullptr; image = tlcrash_async_image_list_next(images.list, image)) {
      const std::size_t entry = writeImageEntry(nullptr, image);
      if (file == nullptr || fits(file, entry, reserve)) size += writeImageEntry(file, image);
    }
    tlcrash_async_image_list_set_reading(images.list, false);
  }
  return size;
}

std::size_t writeExceptionBody(tlcrash_async_file* file, const WriteContext& context) {
  const auto& exception = context.writer->uncaught_exception;
  std::size_t size =
      packString(file, 1, orEmpty(exception.name)) + packString(file, 2, orEmpty(exception.reason));
  for (std::size_t i = 0; i < exception.frame_count && i < kTLCrashLogWriterMaxFrames; ++i)
    size += writeFrame(file, 3, context, exception.frames[i]);
  return size;
}

// "#" and the decimal number, for a signal or code without a name.
void numberName(int value, char (&text)[10]) {
  char digits[12];
  std::size_t count = 0;
  bool negative = value < 0;
  unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 && count < sizeof digits);
  std::size_t at = 0;
  text[at++] = '#';
  if (negative && at < sizeof text - 1) text[at++] = '-';
  while (count > 0 && at < sizeof text - 1)
    text[at++] = digits[--count];
  text[at] = '\0';
}

std::size_t writeSignalBody(tlcrash_async_file* file, const tlcrash_log_writer_crash_info* info) {
  char nameBuffer[10];
  char codeBuffer[10];
  const char* name = tlcrash_async_signal_signame(info->signo);
  if (name == nullptr) {
    numberName(info->signo, nameBuffer);
    name = nameBuffer;
  }
  const char* code = tlcrash_async_signal_sigcode(info->signo, info->code);
  if (code == nullptr) {
    numberName(info->code, codeBuffer);
    code = codeBuffer;
  }
  std::size_t size =
      packString(file, 1, name) + packString(file, 2, code) + packUint64(file, 3, info->address);
  if (info->has_mach_exception) {
    size += packMessage(file, 4, [&](tlcrash_async_file* out) {
      std::size_t length = packUint64(out, 1, info->mach_exception_type);
      for (std::size_t i = 0; i < info->mach_exception_code_count; ++i)
        length += packUint64(out, 2, info->mach_exception_codes[i]);
      return length;
    });
  }
  return size;
}

}  // namespace

tlcrash_error_t tlcrash_log_writer_write(tlcrash_log_writer* writer,
                                         tlcrash_thread_t crashed_thread,
                                         TLCrashThreadSource& threads, const Task& task,
                                         const tlcrash_log_writer_images& images,
                                         tlcrash_async_file* file,
                                         const tlcrash_async_thread_state* crashed_state,
                                         const tlcrash_log_writer_crash_info* crash_info) noexcept {
  threads.suspendAll();

  tlcrash_async_objc_cache objc_cache;
  const tlcrash_error_t cacheResult = tlcrash_async_objc_cache_init(&objc_cache);
  if (cacheResult != tlcrash_error_t::success) {
    threads.resumeAll();
    return cacheResult;
  }
  const WriteContext context{writer, &task, &images, &objc_cache};

  ReportFileHeader header;
  tlcrash_async_memcpy(header.magic, kReportFileMagic, sizeof header.magic);
  header.version = kReportFileVersion;
  tlcrash_async_file_write(file, &header, sizeof header);

  std::time_t now = 0;
  const auto clock = std::atomic_ref(writer->clock).load(std::memory_order_acquire);
  if (clock == nullptr || clock(&now) == static_cast<std::time_t>(-1)) now = 0;
  const auto timestamp = static_cast<std::int64_t>(now);

  packMessage(file, reportInfoField,
              [&](tlcrash_async_file* out) { return writeReportInfo(out, writer); });
  packMessage(file, systemInfoField,
              [&](tlcrash_async_file* out) { return writeSystemInfo(out, writer, timestamp); });
  packMessage(file, machineInfoField,
              [&](tlcrash_async_file* out) { return writeMachineInfo(out, writer); });
  packMessage(file, applicationInfoField,
              [&](tlcrash_async_file* out) { return writeApplicationInfo(out, writer); });
  packMessage(file, processInfoField,
              [&](tlcrash_async_file* out) { return writeProcessInfo(out, writer); });

  // Room kept for what must follow the threads: the images and the signal.
  const std::size_t signalSize = packMessage(nullptr, signalField, [&](tlcrash_async_file* out) {
    return writeSignalBody(out, crash_info);
  });
  const std::size_t imagesSize = writeImages(nullptr, images, 0);

  const tlcrash_thread_t self = threads.selfThread();
  std::uint32_t threadNumber = 0;
  for (std::size_t i = 0; i < threads.threadCount(); ++i) {
    const tlcrash_thread_t thread = threads.threadAt(i);
    tlcrash_async_thread_state saved;
    const tlcrash_async_thread_state* state = nullptr;
    if (thread == self) {
      if (crashed_state == nullptr) continue;
      state = crashed_state;
    } else if (threads.threadStateAt(i, &saved)) {
      state = &saved;
    }
    const bool crashed = thread == crashed_thread;
    ThreadFrames frames;
    frames.count = 0;
    if (state != nullptr) walkThread(context, state, &frames);
    auto body = [&](tlcrash_async_file* out) {
      return writeThreadBody(out, context, threadNumber, crashed, state, frames);
    };
    const auto length = static_cast<std::uint32_t>(body(nullptr));
    const std::size_t entry =
        tlcrash_writer_pack(nullptr, threadsField, type::message, &length) + length;
    if (!fits(file, entry, imagesSize + signalSize)) continue;
    tlcrash_writer_pack(file, threadsField, type::message, &length);
    body(file);
    ++threadNumber;
  }

  writeImages(file, images, signalSize);

  if (std::atomic_ref(writer->uncaught_exception.has_exception).load(std::memory_order_acquire)) {
    auto body = [&](tlcrash_async_file* out) { return writeExceptionBody(out, context); };
    if (fits(file, packMessage(nullptr, exceptionField, body), signalSize))
      packMessage(file, exceptionField, body);
  }

  packMessage(file, signalField,
              [&](tlcrash_async_file* out) { return writeSignalBody(out, crash_info); });

  const std::uint8_t* customBytes =
      std::atomic_ref(writer->custom_data.bytes).load(std::memory_order_acquire);
  if (customBytes != nullptr) {
    const std::size_t customLength = writer->custom_data.length;
    if (fits(file, packBytes(nullptr, customDataField, customBytes, customLength), 0))
      packBytes(file, customDataField, customBytes, customLength);
  }

  tlcrash_async_objc_cache_free(&objc_cache);
  threads.resumeAll();
  return tlcrash_error_t::success;
}

tlcrash_error_t tlcrash_log_writer_close(tlcrash_log_writer*) noexcept {
  return tlcrash_error_t::success;
}

}  // namespace tlcrash
