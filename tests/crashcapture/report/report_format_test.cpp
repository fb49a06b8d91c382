#include "crashcapture/report/report_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashcapture/report/tlcrash.pb-c.h"

namespace tlcrash {
namespace {

struct Unpacked {
  void operator()(Tlcrash__CrashReport* report) const {
    tlcrash__crash_report__free_unpacked(report, nullptr);
  }
};
using UnpackedReport = std::unique_ptr<Tlcrash__CrashReport, Unpacked>;

UnpackedReport unpack(const std::vector<std::uint8_t>& bytes) {
  return UnpackedReport(tlcrash__crash_report__unpack(nullptr, bytes.size(), bytes.data()));
}

std::vector<std::uint8_t> pack(const Tlcrash__CrashReport& report) {
  std::vector<std::uint8_t> bytes(tlcrash__crash_report__get_packed_size(&report));
  EXPECT_EQ(tlcrash__crash_report__pack(&report, bytes.data()), bytes.size());
  return bytes;
}

char* text(const char* value) {
  return const_cast<char*>(value);
}

TEST(ReportFormatTest, TheGeneratedCodeRoundTripsAFullReport) {
  Tlcrash__CrashReport report;
  tlcrash__crash_report__init(&report);

  Tlcrash__CrashReport__SystemInfo system;
  tlcrash__crash_report__system_info__init(&system);
  system.has_operating_system = 1;
  system.operating_system = TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX;
  system.os_version = text("6.1.0");
  system.os_build = text("#1 SMP Debian");
  system.architecture = TLCRASH__ARCHITECTURE__X86_64;
  system.timestamp = 1700000000;
  report.system_info = &system;

  Tlcrash__CrashReport__ApplicationInfo app;
  tlcrash__crash_report__application_info__init(&app);
  app.identifier = text("app.Wendrix");
  app.version = text("1");
  app.marketing_version = text("");
  report.application_info = &app;

  Tlcrash__CrashReport__Processor processor;
  tlcrash__crash_report__processor__init(&processor);
  processor.has_encoding = 1;
  processor.encoding = TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
  processor.type = 0x1000007;
  processor.subtype = 3;
  Tlcrash__CrashReport__MachineInfo machine;
  tlcrash__crash_report__machine_info__init(&machine);
  machine.processor = &processor;
  machine.processor_count = 4;
  machine.logical_processor_count = 8;
  report.machine_info = &machine;

  Tlcrash__CrashReport__Symbol symbol;
  tlcrash__crash_report__symbol__init(&symbol);
  symbol.name = text("main");
  symbol.start_address = 0x1000;
  Tlcrash__CrashReport__Thread__StackFrame frames[2];
  Tlcrash__CrashReport__Thread__StackFrame* framePointers[2] = {&frames[0], &frames[1]};
  for (auto& frame : frames)
    tlcrash__crash_report__thread__stack_frame__init(&frame);
  frames[0].pc = 0x1010;
  frames[0].symbol = &symbol;
  frames[1].pc = 0xFFFFFFFFFFFFFFF0u;
  Tlcrash__CrashReport__Thread__RegisterValue reg;
  tlcrash__crash_report__thread__register_value__init(&reg);
  reg.name = text("rip");
  reg.value = 0x1010;
  Tlcrash__CrashReport__Thread__RegisterValue* regPointers[1] = {&reg};
  Tlcrash__CrashReport__Thread thread;
  tlcrash__crash_report__thread__init(&thread);
  thread.thread_number = 0;
  thread.crashed = 1;
  thread.n_frames = 2;
  thread.frames = framePointers;
  thread.n_registers = 1;
  thread.registers = regPointers;
  Tlcrash__CrashReport__Thread* threads[1] = {&thread};
  report.n_threads = 1;
  report.threads = threads;

  const std::uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  Tlcrash__CrashReport__BinaryImage image;
  tlcrash__crash_report__binary_image__init(&image);
  image.base_address = 0x400000;
  image.size = 0x2000;
  image.name = text("/usr/bin/wendrix");
  image.has_uuid = 1;
  image.uuid = {16, const_cast<std::uint8_t*>(uuid)};
  Tlcrash__CrashReport__BinaryImage* images[1] = {&image};
  report.n_binary_images = 1;
  report.binary_images = images;

  Tlcrash__CrashReport__Signal__MachException mach;
  tlcrash__crash_report__signal__mach_exception__init(&mach);
  mach.type = 1;
  std::uint64_t codes[2] = {1, 0x10};
  mach.n_codes = 2;
  mach.codes = codes;
  Tlcrash__CrashReport__Signal signal;
  tlcrash__crash_report__signal__init(&signal);
  signal.name = text("SIGSEGV");
  signal.code = text("SEGV_MAPERR");
  signal.address = 0x10;
  signal.mach_exception = &mach;
  report.signal = &signal;

  Tlcrash__CrashReport__ReportInfo info;
  tlcrash__crash_report__report_info__init(&info);
  info.user_requested = 0;
  info.has_uuid = 1;
  info.uuid = {16, const_cast<std::uint8_t*>(uuid)};
  report.report_info = &info;
  report.has_custom_data = 1;
  const std::uint8_t custom[3] = {0, 0xFF, 7};
  report.custom_data = {3, const_cast<std::uint8_t*>(custom)};

  const UnpackedReport back = unpack(pack(report));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->system_info->operating_system,
            TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX);
  EXPECT_STREQ(back->system_info->os_version, "6.1.0");
  EXPECT_STREQ(back->system_info->os_build, "#1 SMP Debian");
  EXPECT_EQ(back->system_info->architecture, TLCRASH__ARCHITECTURE__X86_64);
  EXPECT_EQ(back->system_info->timestamp, 1700000000);
  EXPECT_STREQ(back->application_info->identifier, "app.Wendrix");
  EXPECT_STREQ(back->application_info->marketing_version, "");
  ASSERT_NE(back->machine_info, nullptr);
  EXPECT_EQ(back->machine_info->processor->type, 0x1000007u);
  EXPECT_EQ(back->machine_info->logical_processor_count, 8u);
  ASSERT_EQ(back->n_threads, 1u);
  ASSERT_EQ(back->threads[0]->n_frames, 2u);
  EXPECT_EQ(back->threads[0]->frames[0]->pc, 0x1010u);
  EXPECT_STREQ(back->threads[0]->frames[0]->symbol->name, "main");
  EXPECT_EQ(back->threads[0]->frames[1]->pc, 0xFFFFFFFFFFFFFFF0u);
  EXPECT_EQ(back->threads[0]->frames[1]->symbol, nullptr);
  EXPECT_STREQ(back->threads[0]->registers[0]->name, "rip");
  EXPECT_TRUE(back->threads[0]->crashed);
  ASSERT_EQ(back->n_binary_images, 1u);
  EXPECT_STREQ(back->binary_images[0]->name, "/usr/bin/wendrix");
  EXPECT_EQ(std::vector<std::uint8_t>(back->binary_images[0]->uuid.data,
                                      back->binary_images[0]->uuid.data + 16),
            std::vector<std::uint8_t>(uuid, uuid + 16));
  EXPECT_EQ(back->exception, nullptr);
  EXPECT_STREQ(back->signal->code, "SEGV_MAPERR");
  ASSERT_NE(back->signal->mach_exception, nullptr);
  ASSERT_EQ(back->signal->mach_exception->n_codes, 2u);
  EXPECT_EQ(back->signal->mach_exception->codes[1], 0x10u);
  ASSERT_NE(back->report_info, nullptr);
  EXPECT_EQ(back->report_info->uuid.len, 16u);
  ASSERT_TRUE(back->has_custom_data);
  EXPECT_EQ(back->custom_data.len, 3u);
  EXPECT_EQ(back->custom_data.data[1], 0xFF);
}

// Bytes encoded by hand as the report writer encodes them, top-level fields
// in the writer's order (9, 1, 8, 2, 7, 3, 4, 6), so the field numbers of
// the schema are checked against the wire rather than against themselves.
TEST(ReportFormatTest, AcceptsHandEncodedBytesInTheWritersFieldOrder) {
  const std::vector<std::uint8_t> bytes = {
      0x4A, 0x02, 0x08, 0x01,                                // 9 report_info {user_requested}
      0x0A, 0x09, 0x08, 0x05, 0x12, 0x01, '6',  0x18, 0x01,  // 1 system_info {LINUX, "6", X86_64,
      0x20, 0x07,                                            //   timestamp 7}
      0x42, 0x0A, 0x12, 0x04, 0x10, 0x07, 0x18, 0x03,        // 8 machine_info {processor {7, 3},
      0x18, 0x02, 0x20, 0x04,                                //   2, 4}
      0x12, 0x06, 0x0A, 0x01, 'a',  0x12, 0x01, '1',         // 2 application_info {"a", "1"}
      0x3A, 0x06, 0x10, 0x2A, 0x28, 0x01, 0x30, 0x01,        // 7 process_info {42, 1, true}
      0x1A, 0x09, 0x08, 0x00, 0x12, 0x03, 0x18, 0x90, 0x20,  // 3 thread {0, frame {pc 0x1010}
      0x18, 0x01,                                            //   crashed}
      0x22, 0x08, 0x08, 0x80, 0x20, 0x10, 0x10, 0x1A, 0x01, 'x',  // 4 image {0x1000, 16, "x"}
      0x32, 0x0B, 0x0A, 0x04, 'S',  'I',  'G',  'X',  0x12, 0x01, '#', 0x18, 0x00,  // 6 signal
  };
  const UnpackedReport report = unpack(bytes);
  ASSERT_NE(report, nullptr);
  EXPECT_TRUE(report->report_info->user_requested);
  EXPECT_FALSE(report->report_info->has_uuid);
  EXPECT_EQ(report->system_info->operating_system,
            TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX);
  EXPECT_EQ(report->system_info->timestamp, 7);
  EXPECT_EQ(report->system_info->os_build, nullptr);
  EXPECT_EQ(report->machine_info->processor->subtype, 3u);
  EXPECT_EQ(report->machine_info->processor_count, 2u);
  EXPECT_STREQ(report->application_info->version, "1");
  EXPECT_EQ(report->process_info->process_id, 42u);
  EXPECT_EQ(report->process_info->parent_process_id, 1u);
  EXPECT_TRUE(report->process_info->native);
  ASSERT_EQ(report->n_threads, 1u);
  ASSERT_EQ(report->threads[0]->n_frames, 1u);
  EXPECT_EQ(report->threads[0]->frames[0]->pc, 0x1010u);
  EXPECT_TRUE(report->threads[0]->crashed);
  EXPECT_EQ(report->binary_images[0]->base_address, 0x1000u);
  EXPECT_EQ(report->binary_images[0]->size, 16u);
  EXPECT_STREQ(report->signal->name, "SIGX");
  EXPECT_STREQ(report->signal->code, "#");
}

TEST(ReportFormatTest, DeclaredDefaultsApplyToAbsentFieldsAndRequiredOnesMustBePresent) {
  Tlcrash__CrashReport__SystemInfo system;
  tlcrash__crash_report__system_info__init(&system);
  EXPECT_EQ(system.operating_system,
            TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN);
  EXPECT_EQ(system.architecture, TLCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN);
  Tlcrash__CrashReport__Processor processor;
  tlcrash__crash_report__processor__init(&processor);
  EXPECT_EQ(processor.encoding,
            TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN);

  // A report without its signal (field 6) is not a report; with it, it is.
  std::vector<std::uint8_t> bytes = {0x0A, 0x07, 0x12, 0x01, '6', 0x18, 0x01, 0x20, 0x07,
                                     0x12, 0x06, 0x0A, 0x01, 'a', 0x12, 0x01, '1'};
  EXPECT_EQ(unpack(bytes), nullptr);
  bytes.insert(bytes.end(), {0x32, 0x08, 0x0A, 0x01, 'S', 0x12, 0x01, 'C', 0x18, 0x00});
  const UnpackedReport complete = unpack(bytes);
  ASSERT_NE(complete, nullptr);
  EXPECT_EQ(complete->system_info->operating_system,
            TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN);
  EXPECT_EQ(complete->report_info, nullptr);
  EXPECT_EQ(tlcrash__crash_report__descriptor.magic, 0x28AAEEF9u);
  EXPECT_EQ(tlcrash__crash_report__system_info__operating_system__descriptor.magic, 0x114315AFu);
}

TEST(ReportFormatTest, TheFileBodyFollowsTheMagicAndVersionOne) {
  struct Case {
    std::string file;
    std::size_t body;
  };
  const Case cases[] = {
      {std::string("tlcrash\x01") + "XY", 2},
      {std::string("tlcrash\x01"), 0},  // 8 bytes: nothing after the header
      {std::string("tlcrash\x01") + "X", 1},
      {std::string("tlcrash\x02") + "XY", 0},
      {std::string("tlcrasH\x01") + "XY", 0},
      {std::string("tl"), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    const std::vector<std::uint8_t> bytes(c.file.begin(), c.file.end());
    const auto body = reportFileBody(bytes);
    EXPECT_EQ(body.size(), c.body);
    if (c.body > 0) {
      EXPECT_EQ(body.data(), bytes.data() + 8);
    }
  }
}

}  // namespace
}  // namespace tlcrash
