// The report writer over a fake task with fake threads: the golden bytes of
// one report, its round trip through the generated unpacker, the decoder and
// the text formatter, and the writer's rules (registers only for the crashed
// thread, the 512-frame cap, sections written only when set, a report that
// still decodes when the output's limit is reached).

#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/capture/writer_setup/log_writer_setup.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crashcapture/image/macho_builder.h"
#include "crashcapture/platform/fake/fake_macho.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/text_formatter.h"
#include "crashcapture/report/report_format.h"
#include "crashcapture/report/tlcrash.pb-c.h"
#include "fake_threads.h"

namespace tlcrash {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::FakeThreadSource;
using test::makeStack;

constexpr tlcrash_vm_address_t kImageBase = 0x7f1000000000;
// _framed_outer of the fixture image, as loaded at kImageBase.
constexpr tlcrash_vm_address_t kFramedOuter = kImageBase + 0x380;
constexpr const char* kImageName = "/usr/lib/libfixture.dylib";
constexpr tlcrash_vm_address_t kCodeBase = 0x400000;
constexpr const char* kCodeName = "/usr/bin/fixture";

std::time_t fixedClock(std::time_t* now) {
  *now = 1700000000;
  return *now;
}

TLCrashLogWriterFacts facts() {
  TLCrashLogWriterFacts facts;
  facts.reportUuid = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                      0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
  facts.osVersion = "6.1.0";
  facts.osBuild = "#1 SMP PREEMPT_DYNAMIC";
  facts.model = "Test Machine";
  facts.cpuType = CPU_TYPE_X86_64;
  facts.cpuSubtype = CPU_SUBTYPE_X86_ALL;
  facts.processorCount = 4;
  facts.logicalProcessorCount = 8;
  facts.applicationIdentifier = "app.Wendrix";
  facts.applicationVersion = "42";
  facts.processName = "wendrix";
  facts.processId = 4321;
  facts.processPath = "/usr/bin/wendrix";
  facts.parentProcessName = "bash";
  facts.parentProcessId = 1234;
  facts.startTime = 1699999000;
  return facts;
}

struct Unpacked {
  explicit Unpacked(const Bytes& file) {
    if (file.size() > kReportFileHeaderSize)
      message = tlcrash__crash_report__unpack(nullptr, file.size() - kReportFileHeaderSize,
                                              file.data() + kReportFileHeaderSize);
  }
  ~Unpacked() {
    if (message != nullptr) tlcrash__crash_report__free_unpacked(message, nullptr);
  }
  Tlcrash__CrashReport* message = nullptr;
};

std::string hex(const Bytes& bytes) {
  std::string text;
  char digits[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    text += digits;
    text += (i % 32 == 31) ? '\n' : ' ';
  }
  if (!text.empty()) text.back() = '\n';
  return text;
}

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tlcrash_async_image_list_init(&images_, task_), tlcrash_error_t::success);
    const Bytes dylib = readFileBytes(TLCRASH_MACHO_FIXTURES "/unwind_x86_64.dylib");
    const auto header = loadMachO(task_, dylib, static_cast<tlcrash_vm_off_t>(kImageBase));
    ASSERT_TRUE(header.has_value());
    ASSERT_EQ(tlcrash_async_image_list_append(&images_, *header, kImageName),
              tlcrash_error_t::success);
    // The synthetic threads' code: an image of three megabytes of text at
    // 0x400000 with no unwind tables, so their frames follow the frame
    // pointers (a frame outside every image would end a walk).
    ASSERT_TRUE(
        task_.map(kCodeBase, test::MachOBuilder(true, false)
                                 .segment("__TEXT", test::MachOBuilder::kTextAddress, 0x300000)
                                 .build()));
    ASSERT_EQ(tlcrash_async_image_list_append(&images_, kCodeBase, kCodeName),
              tlcrash_error_t::success);

    // Thread 101 crashed in a frame of its own, called from the fixture
    // image; 102 is two frames deep; 103 did not stop in time.
    threads_.self = 999;
    threads_.threads = {
        {101, makeStack(task_, 0x7ffd00000000, 0x401000, {0x401100, kFramedOuter + 4}, 0x1000)},
        {102, makeStack(task_, 0x7ffd00100000, 0x402000, {0x402100}, 0x2000)},
        {103, std::nullopt},
    };
    setUpWriter(facts());
  }
  void TearDown() override {
    tlcrash_log_writer_free(&writer_);
    tlcrash_async_image_list_free(&images_);
  }

  void setUpWriter(const TLCrashLogWriterFacts& values) {
    tlcrash_log_writer_free(&writer_);
    tlcrash_log_writer_init_with_facts(&writer_, values);
    writer_.clock = fixedClock;
  }

  Bytes write(tlcrash_thread_t crashed, const tlcrash_async_thread_state* crashedState = nullptr,
              off_t limit = 0) {
    const int fd = ::memfd_create("report", 0);
    tlcrash_async_file file;
    tlcrash_async_file_init(&file, fd, limit);
    const tlcrash_log_writer_images images{&images_};
    EXPECT_EQ(tlcrash_log_writer_write(&writer_, crashed, threads_, task_, images, &file,
                                       crashedState, &crash_),
              tlcrash_error_t::success);
    tlcrash_async_file_flush(&file);
    Bytes bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
    EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    return bytes;
  }

  FakeTask task_;
  FakeThreadSource threads_;
  tlcrash_async_image_list images_;
  tlcrash_log_writer writer_{};
  tlcrash_log_writer_crash_info crash_{SIGSEGV, SEGV_MAPERR, 0, false, 0, nullptr, 0};
};

TEST_F(LogWriterTest, WritesTheGoldenBytes) {
  tlcrash_log_writer_set_custom_data(&writer_, Bytes{0xca, 0xfe});
  const std::string actual = hex(write(101));
  const std::string path = TLCRASH_WRITER_TEST_DIR "/golden_report.hex";
  if (std::getenv("TLCRASH_UPDATE_GOLDEN") != nullptr) std::ofstream(path) << actual;
  std::ifstream golden(path);
  ASSERT_TRUE(golden) << path;
  std::stringstream expected;
  expected << golden.rdbuf();
  EXPECT_EQ(actual, expected.str()) << "TLCRASH_UPDATE_GOLDEN=1 rewrites " << path;
}

TEST_F(LogWriterTest, TheReportRoundTripsThroughTheUnpackerAndTheDecoder) {
  const Bytes file = write(101);
  ASSERT_GT(file.size(), kReportFileHeaderSize);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 7), "tlcrash");
  EXPECT_EQ(file[7], 1);

  const Unpacked unpacked(file);
  const Tlcrash__CrashReport* m = unpacked.message;
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->report_info, nullptr);
  EXPECT_FALSE(m->report_info->user_requested);
  ASSERT_EQ(m->report_info->uuid.len, 16u);
  EXPECT_EQ(m->report_info->uuid.data[15], 0x1f);
  EXPECT_EQ(m->system_info->operating_system,
            TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX);
  EXPECT_STREQ(m->system_info->os_version, "6.1.0");
  EXPECT_STREQ(m->system_info->os_build, "#1 SMP PREEMPT_DYNAMIC");
  EXPECT_EQ(m->system_info->architecture, TLCRASH__ARCHITECTURE__X86_64);
  EXPECT_EQ(m->system_info->timestamp, 1700000000);
  EXPECT_STREQ(m->machine_info->model, "Test Machine");
  EXPECT_EQ(m->machine_info->processor->type, 0x1000007u);
  EXPECT_EQ(m->machine_info->processor->subtype, 3u);
  EXPECT_EQ(m->machine_info->logical_processor_count, 8u);
  EXPECT_STREQ(m->application_info->identifier, "app.Wendrix");
  EXPECT_STREQ(m->application_info->marketing_version, "");  // absent: written empty
  EXPECT_STREQ(m->process_info->process_name, "wendrix");
  EXPECT_EQ(m->process_info->process_id, 4321u);
  EXPECT_EQ(m->process_info->parent_process_id, 1234u);
  EXPECT_TRUE(m->process_info->native);
  EXPECT_EQ(m->process_info->start_time, 1699999000u);

  // Thread numbers count the written threads; only the crashed thread has
  // registers, every one of them, in register order.
  ASSERT_EQ(m->n_threads, 3u);
  const auto* crashed = m->threads[0];
  EXPECT_EQ(crashed->thread_number, 0u);
  EXPECT_TRUE(crashed->crashed);
  ASSERT_EQ(crashed->n_registers, 21u);
  EXPECT_STREQ(crashed->registers[0]->name, "rip");
  EXPECT_EQ(crashed->registers[0]->value, 0x401000u);
  EXPECT_STREQ(crashed->registers[1]->name, "rbp");
  EXPECT_EQ(crashed->registers[1]->value, 0x7ffd00000000u);
  EXPECT_STREQ(crashed->registers[3]->name, "rax");
  EXPECT_EQ(crashed->registers[3]->value, 0x1000u);
  EXPECT_STREQ(crashed->registers[20]->name, "gs");
  ASSERT_EQ(crashed->n_frames, 3u);
  EXPECT_EQ(crashed->frames[0]->pc, 0x401000u);
  EXPECT_EQ(crashed->frames[1]->pc, 0x401100u);
  EXPECT_EQ(crashed->frames[2]->pc, kFramedOuter + 4);
  EXPECT_EQ(crashed->frames[2]->symbol, nullptr);  // strategy 0 names nothing
  EXPECT_EQ(m->threads[1]->thread_number, 1u);
  EXPECT_FALSE(m->threads[1]->crashed);
  EXPECT_EQ(m->threads[1]->n_registers, 0u);
  EXPECT_EQ(m->threads[1]->n_frames, 2u);
  EXPECT_EQ(m->threads[2]->n_frames, 0u);  // no state: no frames

  ASSERT_EQ(m->n_binary_images, 2u);  // the fixture and the synthetic code
  const auto* image = m->binary_images[0];
  EXPECT_EQ(image->base_address, kImageBase);
  EXPECT_EQ(image->size, 0x2000u);
  EXPECT_STREQ(image->name, kImageName);
  ASSERT_EQ(image->uuid.len, 16u);
  EXPECT_EQ(image->uuid.data[0], 0x4c);
  EXPECT_EQ(image->uuid.data[15], 0xae);
  ASSERT_NE(image->code_type, nullptr);
  EXPECT_EQ(image->code_type->type, 0x1000007u);

  // Nothing recorded: no exception, no custom data.
  EXPECT_EQ(m->exception, nullptr);
  EXPECT_FALSE(m->has_custom_data);
  EXPECT_STREQ(m->signal->name, "SIGSEGV");
  EXPECT_STREQ(m->signal->code, "SEGV_MAPERR");
  EXPECT_EQ(m->signal->mach_exception, nullptr);

  const auto report = TLCrashReport::makeWithData(file);
  ASSERT_TRUE(report.ok()) << report.error().description;
  EXPECT_EQ(report->threads().size(), 3u);
  ASSERT_NE(report->imageForAddress(kFramedOuter + 4), nullptr);
  EXPECT_EQ(report->imageForAddress(kFramedOuter + 4)->imageUUID(),
            "4c4c445255553144a10f4843b4dad8ae");
  const std::string text = TLCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
  EXPECT_NE(text.find("Exception Type:  SIGSEGV"), std::string::npos) << text;
  EXPECT_NE(text.find("Thread 0 Crashed:"), std::string::npos) << text;
  EXPECT_NE(text.find("libfixture.dylib"), std::string::npos) << text;
}

TEST_F(LogWriterTest, TheCallingThreadIsWrittenOnlyWithTheGivenState) {
  threads_.self = 102;
  const auto given = makeStack(task_, 0x7ffd00200000, 0x403000, {}, 0x3000);

  const Unpacked without(write(102));
  ASSERT_NE(without.message, nullptr);
  ASSERT_EQ(without.message->n_threads, 2u);  // 101 and 103
  EXPECT_FALSE(without.message->threads[0]->crashed);

  const Unpacked with(write(102, &given));
  ASSERT_NE(with.message, nullptr);
  ASSERT_EQ(with.message->n_threads, 3u);
  const auto* self = with.message->threads[1];
  EXPECT_TRUE(self->crashed);
  ASSERT_EQ(self->n_frames, 1u);
  EXPECT_EQ(self->frames[0]->pc, 0x403000u);
  EXPECT_EQ(self->registers[3]->value, 0x3000u);
  EXPECT_EQ(threads_.suspended, 2);
  EXPECT_EQ(threads_.resumed, 2);
}

// The innermost frames and the outermost 16 (the thread's start, main).
TEST_F(LogWriterTest, ADeepStackKeepsItsInnermostAndOutermostFramesWithin512) {
  std::vector<std::uint64_t> callers;
  for (std::uint64_t i = 1; i < 600; ++i)
    callers.push_back(0x500000 + i);
  threads_.threads = {{101, makeStack(task_, 0x7ffd10000000, 0x500000, callers, 0)}};
  const Unpacked unpacked(write(101));
  ASSERT_NE(unpacked.message, nullptr);
  const auto* thread = unpacked.message->threads[0];
  ASSERT_EQ(thread->n_frames, 512u);
  for (std::size_t i = 0; i < 496; ++i)
    EXPECT_EQ(thread->frames[i]->pc, 0x500000u + i);
  for (std::size_t i = 496; i < 512; ++i)
    EXPECT_EQ(thread->frames[i]->pc, 0x500000u + 600 - 512 + i);
}

TEST_F(LogWriterTest, SymbolsAreWrittenByStrategyForFramesInAnImage) {
  auto values = facts();
  values.symbolicationStrategy = 1;
  setUpWriter(values);
  const Unpacked unpacked(write(101));
  ASSERT_NE(unpacked.message, nullptr);
  const auto* crashed = unpacked.message->threads[0];
  ASSERT_EQ(crashed->n_frames, 3u);
  EXPECT_EQ(crashed->frames[0]->symbol, nullptr);  // in no image
  ASSERT_NE(crashed->frames[2]->symbol, nullptr);
  EXPECT_STREQ(crashed->frames[2]->symbol->name, "_framed_outer");
  EXPECT_EQ(crashed->frames[2]->symbol->start_address, kFramedOuter);
  EXPECT_FALSE(crashed->frames[2]->symbol->has_end_address);
}

TEST_F(LogWriterTest, TheExceptionCustomDataAndMachExceptionAreWrittenWhenSet) {
  tlcrash_log_writer_set_exception(&writer_, "std::runtime_error", "boom",
                                   {kFramedOuter + 8, 0x401234});
  tlcrash_log_writer_set_custom_data(&writer_, Bytes{1, 2, 3});
  const std::uint64_t codes[] = {1, 0x10};
  crash_ = {SIGBUS, 99, 0x10, true, 1, codes, 2};
  const Unpacked unpacked(write(101));
  ASSERT_NE(unpacked.message, nullptr);
  const auto* m = unpacked.message;
  ASSERT_NE(m->exception, nullptr);
  EXPECT_STREQ(m->exception->name, "std::runtime_error");
  EXPECT_STREQ(m->exception->reason, "boom");
  ASSERT_EQ(m->exception->n_frames, 2u);
  EXPECT_EQ(m->exception->frames[0]->pc, kFramedOuter + 8);
  ASSERT_TRUE(m->has_custom_data);
  EXPECT_EQ(Bytes(m->custom_data.data, m->custom_data.data + m->custom_data.len), (Bytes{1, 2, 3}));
  EXPECT_STREQ(m->signal->name, "SIGBUS");
  EXPECT_STREQ(m->signal->code, "#99");  // no name for the code
  EXPECT_EQ(m->signal->address, 0x10u);
  ASSERT_NE(m->signal->mach_exception, nullptr);
  EXPECT_EQ(m->signal->mach_exception->type, 1u);
  ASSERT_EQ(m->signal->mach_exception->n_codes, 2u);
  EXPECT_EQ(m->signal->mach_exception->codes[1], 0x10u);

  tlcrash_log_writer_set_custom_data(&writer_, std::nullopt);
  const Unpacked cleared(write(101));
  ASSERT_NE(cleared.message, nullptr);
  EXPECT_FALSE(cleared.message->has_custom_data);
}

TEST_F(LogWriterTest, ASignalWithoutANameIsWrittenAsItsNumber) {
  crash_ = {77, -3, 0, false, 0, nullptr, 0};
  const Unpacked unpacked(write(101));
  ASSERT_NE(unpacked.message, nullptr);
  EXPECT_STREQ(unpacked.message->signal->name, "#77");
  EXPECT_STREQ(unpacked.message->signal->code, "#-3");
}

// The output refuses any write past its limit; the writer leaves out the
// threads that would not fit, so the report still decodes with its images
// and signal.
TEST_F(LogWriterTest, AReportAtTheOutputLimitLeavesThreadsOutAndStillDecodes) {
  std::vector<std::uint64_t> callers(400, 0x600000);
  for (std::uint64_t i = 0; i < callers.size(); ++i)
    callers[i] += i + 1;
  threads_.threads.clear();
  for (tlcrash_thread_t id = 200; id < 210; ++id)
    threads_.threads.push_back(
        {id, makeStack(task_, 0x7ffe00000000 + 0x100000 * static_cast<std::uint64_t>(id - 200),
                       0x600000, callers, 0)});
  const off_t limit = 16 * 1024;
  const Bytes file = write(200, nullptr, limit);
  EXPECT_LE(file.size(), static_cast<std::size_t>(limit));
  const Unpacked unpacked(file);
  ASSERT_NE(unpacked.message, nullptr);
  EXPECT_GE(unpacked.message->n_threads, 1u);
  EXPECT_LT(unpacked.message->n_threads, 10u);
  EXPECT_EQ(unpacked.message->n_binary_images, 2u);
  EXPECT_STREQ(unpacked.message->signal->name, "SIGSEGV");
  EXPECT_TRUE(TLCrashReport::makeWithData(file).ok());
}

TEST(LogWriterDeathTest, ASecondExceptionAborts) {
  tlcrash_log_writer writer{};
  tlcrash_log_writer_init_with_facts(&writer, facts());
  tlcrash_log_writer_set_exception(&writer, "first", "", {});
  EXPECT_DEATH(tlcrash_log_writer_set_exception(&writer, "second", "", {}),
               "writer->uncaught_exception.has_exception == false");
  tlcrash_log_writer_free(&writer);
}

}  // namespace
}  // namespace tlcrash
