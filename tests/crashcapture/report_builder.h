#pragma once

// Crash reports for tests, described as plain values (ReportSetup) and
// turned into protoc-c messages (ReportMessage) that pack into report files.
// A test changes a description to make the report it needs, or changes the
// message itself for what no packed file can hold (a required field left
// out).

#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "crashcapture/report/tlcrash.pb-c.h"

namespace tlcrash::test {

using Bytes = std::vector<std::uint8_t>;

struct ProcessorSetup {
  std::optional<int> encoding = TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
  std::uint64_t type = 0x1000007;
  std::uint64_t subtype = 3;
};

struct SymbolSetup {
  std::string name = {};
  std::uint64_t start = 0;
  std::optional<std::uint64_t> end = {};
};

struct FrameSetup {
  std::uint64_t pc = 0;
  std::optional<SymbolSetup> symbol = {};
};

struct RegisterSetup {
  std::string name = {};
  std::uint64_t value = 0;
};

struct ThreadSetup {
  std::uint32_t number = 0;
  bool crashed = false;
  std::vector<FrameSetup> frames = {};
  std::vector<RegisterSetup> registers = {};
};

struct ImageSetup {
  std::uint64_t base = 0;
  std::uint64_t size = 0;
  std::string name = {};
  std::optional<Bytes> uuid = {};
  std::optional<ProcessorSetup> codeType = {};
};

struct SystemSetup {
  std::optional<int> os = TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX;
  std::string version = "6.1.0";
  int architecture = TLCRASH__ARCHITECTURE__X86_64;
  std::int64_t timestamp = 1700000000;
  std::optional<std::string> build = {};
};

struct MachineSetup {
  std::optional<std::string> model = {};
  ProcessorSetup processor = {};
  std::uint32_t processorCount = 4;
  std::uint32_t logicalProcessorCount = 8;
};

struct ApplicationSetup {
  std::string identifier = "app.Wendrix";
  std::string version = "1";
  std::optional<std::string> marketingVersion = {};
};

struct ProcessSetup {
  std::optional<std::string> name = {};
  std::uint32_t id = 0;
  std::optional<std::string> path = {};
  std::optional<std::string> parentName = {};
  std::uint32_t parentId = 0;
  bool native = true;
  std::optional<std::uint64_t> startTime = {};
};

struct ExceptionSetup {
  std::string name = {};
  std::string reason = {};
  std::vector<FrameSetup> frames = {};
};

struct MachExceptionSetup {
  std::uint64_t type = 0;
  std::vector<std::uint64_t> codes = {};
};

struct SignalSetup {
  std::string name = "SIGSEGV";
  std::string code = "SEGV_MAPERR";
  std::uint64_t address = 0;
  std::optional<MachExceptionSetup> machException = {};
};

struct ReportInfoSetup {
  bool userRequested = false;
  std::optional<Bytes> uuid = {};
};

struct ReportSetup {
  SystemSetup system = {};
  ApplicationSetup application = {};
  std::vector<ThreadSetup> threads = {};
  std::vector<ImageSetup> images = {};
  std::optional<ExceptionSetup> exception = {};
  SignalSetup signal = {};
  std::optional<ProcessSetup> process = {};
  std::optional<MachineSetup> machine = {};
  std::optional<ReportInfoSetup> reportInfo = {};
  std::optional<Bytes> customData = {};
};

// The smallest report the decoder accepts: the required sections, one thread
// with one frame inside the one image.
inline ReportSetup minimalReport() {
  ReportSetup setup;
  setup.threads.push_back({.number = 0, .crashed = true, .frames = {{.pc = 0x401000}}});
  setup.images.push_back({.base = 0x400000, .size = 0x2000, .name = "/usr/bin/wendrix"});
  return setup;
}

// The bytes 0, 1, ..., n - 1.
inline Bytes countingBytes(std::size_t n);

// A report with every section, as a Linux x86-64 crash writes it, plus an
// uncaught exception, a Mach exception record, images out of address order
// (two at one base) and frames inside and outside the images.
inline ReportSetup fullReport() {
  constexpr std::uint64_t kMain = 0x555555554000;
  constexpr std::uint64_t kLibc = 0x7ffff7c00000;
  ReportSetup setup;
  setup.reportInfo = ReportInfoSetup{.userRequested = false,
                                     .uuid = Bytes{0x6B, 0xA7, 0xB8, 0x10, 0x9D, 0xAD, 0x11, 0xD1,
                                                   0x80, 0xB4, 0x00, 0xC0, 0x4F, 0xD4, 0x30, 0xC8}};
  setup.system = {.os = TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX,
                  .version = "6.1.0",
                  .architecture = TLCRASH__ARCHITECTURE__X86_64,
                  .timestamp = 1700000000,
                  .build = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"};
  setup.machine = MachineSetup{.model = "Standard PC (Q35 + ICH9, 2009)",
                               .processor = {},
                               .processorCount = 4,
                               .logicalProcessorCount = 8};
  setup.application = {.identifier = "app.Wendrix", .version = "42", .marketingVersion = "0.1.0"};
  setup.process = ProcessSetup{.name = "wendrix",
                               .id = 4242,
                               .path = "/home/alice/.local/bin/wendrix",
                               .parentName = "bash",
                               .parentId = 4000,
                               .native = true,
                               .startTime = 1699999990};
  setup.threads = {
      {.number = 0,
       .crashed = false,
       .frames = {{.pc = kLibc + 0x91d36}, {.pc = kMain + 0x1234}},
       .registers = {}},
      {.number = 1,
       .crashed = true,
       .frames = {{.pc = kMain + 0x2f0a,
                   .symbol = SymbolSetup{.name = "_ZN7wendrix6Engine7restoreEv",
                                         .start = kMain + 0x2ee0,
                                         .end = kMain + 0x2f40}},
                  {.pc = kMain + 0x1100,
                   .symbol = SymbolSetup{.name = "main", .start = kMain + 0x10f0}},
                  {.pc = kLibc + 0x2724a},
                  {.pc = 0xdeadbeef},
                  {.pc = 0}},
       .registers = {{"rax", 0},
                     {"rbx", 0x7fffffffe3a8},
                     {"rcx", 0x10},
                     {"rdx", 0x1},
                     {"rdi", 0x555555558040},
                     {"rsi", 0x7fffffffe398}}},
  };
  setup.images = {
      {.base = kLibc,
       .size = 0x1c6000,
       .name = "/usr/lib/x86_64-linux-gnu/libc.so.6",
       .uuid = countingBytes(16),
       .codeType = ProcessorSetup{}},
      {.base = kMain,
       .size = 0x4000,
       .name = "/home/alice/.local/bin/wendrix",
       .uuid = Bytes{0x1f, 0x2e, 0x3d, 0x4c, 0x5b, 0x6a, 0x79, 0x88, 0x97, 0xa6,
                     0xb5, 0xc4, 0xd3, 0xe2, 0xf1, 0x00, 0x12, 0x34, 0x56, 0x78},
       .codeType = ProcessorSetup{}},
      {.base = kLibc, .size = 0x1000, .name = "/usr/lib/x86_64-linux-gnu/libc-alias.so"},
      {.base = 0x7ffff7fc1000, .size = 0, .name = "linux-vdso.so.1"},
  };
  setup.exception = ExceptionSetup{.name = "std::runtime_error",
                                   .reason = "cannot read /home/alice/layouts.json",
                                   .frames = {{.pc = kLibc + 0x9a1f0}, {.pc = kMain + 0x2f0a}}};
  setup.signal = {.name = "SIGABRT",
                  .code = "#0",
                  .address = 0,
                  .machException = MachExceptionSetup{.type = 1, .codes = {1, 0x10}}};
  setup.customData = Bytes{0xC0, 0xFF, 0xEE};
  return setup;
}

// The bytes 0, 1, ..., n - 1.
inline Bytes countingBytes(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

// The protoc-c message of a description. It owns every part, so the message
// stays valid as long as this object lives; it may be changed in place.
class ReportMessage {
 public:
  explicit ReportMessage(const ReportSetup& setup) {
    tlcrash__crash_report__init(&message_);
    message_.system_info = system(setup.system);
    message_.application_info = application(setup.application);
    std::vector<Tlcrash__CrashReport__Thread*>& threads = pointers<Tlcrash__CrashReport__Thread>();
    for (const ThreadSetup& t : setup.threads)
      threads.push_back(thread(t));
    message_.n_threads = threads.size();
    message_.threads = threads.data();
    std::vector<Tlcrash__CrashReport__BinaryImage*>& images =
        pointers<Tlcrash__CrashReport__BinaryImage>();
    for (const ImageSetup& i : setup.images)
      images.push_back(image(i));
    message_.n_binary_images = images.size();
    message_.binary_images = images.data();
    if (setup.exception) message_.exception = exception(*setup.exception);
    message_.signal = signal(setup.signal);
    if (setup.process) message_.process_info = process(*setup.process);
    if (setup.machine) message_.machine_info = machine(*setup.machine);
    if (setup.reportInfo) message_.report_info = reportInfo(*setup.reportInfo);
    if (setup.customData) {
      message_.has_custom_data = 1;
      message_.custom_data = binary(*setup.customData);
    }
  }
  ReportMessage(const ReportMessage&) = delete;
  ReportMessage& operator=(const ReportMessage&) = delete;

  Tlcrash__CrashReport& message() { return message_; }

  // The packed message.
  Bytes body() const {
    Bytes bytes(tlcrash__crash_report__get_packed_size(&message_));
    tlcrash__crash_report__pack(&message_, bytes.data());
    return bytes;
  }

  // A report file: "tlcrash", version 1, the packed message.
  Bytes file() const {
    Bytes bytes = {'t', 'l', 'c', 'r', 'a', 's', 'h', 1};
    const Bytes packed = body();
    bytes.insert(bytes.end(), packed.begin(), packed.end());
    return bytes;
  }

 private:
  // Any number into an enumeration field, named value or not (a cast to the
  // enumeration type would be undefined for numbers outside its values).
  template <class Enumeration>
  static void setNumber(Enumeration& field, std::int32_t value) {
    static_assert(sizeof(Enumeration) == sizeof value);
    std::memcpy(&field, &value, sizeof value);
  }

  template <class T>
  T* make() {
    return &std::get<std::deque<T>>(parts_).emplace_back();
  }
  template <class T>
  std::vector<T*>& pointers() {
    return std::get<std::deque<std::vector<T*>>>(parts_).emplace_back();
  }
  char* string(const std::string& value) { return strings_.emplace_back(value).data(); }
  char* optionalString(const std::optional<std::string>& value) {
    return value ? string(*value) : nullptr;
  }
  ProtobufCBinaryData binary(const Bytes& value) {
    Bytes& stored = binaries_.emplace_back(value);
    return {stored.size(), stored.data()};
  }

  Tlcrash__CrashReport__Processor* processor(const ProcessorSetup& setup) {
    auto* p = make<Tlcrash__CrashReport__Processor>();
    tlcrash__crash_report__processor__init(p);
    if (setup.encoding) {
      p->has_encoding = 1;
      setNumber(p->encoding, *setup.encoding);
    }
    p->type = setup.type;
    p->subtype = setup.subtype;
    return p;
  }

  Tlcrash__CrashReport__SystemInfo* system(const SystemSetup& setup) {
    auto* s = make<Tlcrash__CrashReport__SystemInfo>();
    tlcrash__crash_report__system_info__init(s);
    if (setup.os) {
      s->has_operating_system = 1;
      setNumber(s->operating_system, *setup.os);
    }
    s->os_version = string(setup.version);
    setNumber(s->architecture, setup.architecture);
    s->timestamp = setup.timestamp;
    s->os_build = optionalString(setup.build);
    return s;
  }

  Tlcrash__CrashReport__ApplicationInfo* application(const ApplicationSetup& setup) {
    auto* a = make<Tlcrash__CrashReport__ApplicationInfo>();
    tlcrash__crash_report__application_info__init(a);
    a->identifier = string(setup.identifier);
    a->version = string(setup.version);
    a->marketing_version = optionalString(setup.marketingVersion);
    return a;
  }

  Tlcrash__CrashReport__Thread__StackFrame* frame(const FrameSetup& setup) {
    auto* f = make<Tlcrash__CrashReport__Thread__StackFrame>();
    tlcrash__crash_report__thread__stack_frame__init(f);
    f->pc = setup.pc;
    if (setup.symbol) {
      auto* s = make<Tlcrash__CrashReport__Symbol>();
      tlcrash__crash_report__symbol__init(s);
      s->name = string(setup.symbol->name);
      s->start_address = setup.symbol->start;
      if (setup.symbol->end) {
        s->has_end_address = 1;
        s->end_address = *setup.symbol->end;
      }
      f->symbol = s;
    }
    return f;
  }

  std::vector<Tlcrash__CrashReport__Thread__StackFrame*>& frames(
      const std::vector<FrameSetup>& setups) {
    auto& out = pointers<Tlcrash__CrashReport__Thread__StackFrame>();
    for (const FrameSetup& setup : setups)
      out.push_back(frame(setup));
    return out;
  }

  Tlcrash__CrashReport__Thread* thread(const ThreadSetup& setup) {
    auto* t = make<Tlcrash__CrashReport__Thread>();
    tlcrash__crash_report__thread__init(t);
    t->thread_number = setup.number;
    t->crashed = setup.crashed;
    auto& f = frames(setup.frames);
    t->n_frames = f.size();
    t->frames = f.data();
    auto& registers = pointers<Tlcrash__CrashReport__Thread__RegisterValue>();
    for (const RegisterSetup& r : setup.registers) {
      auto* value = make<Tlcrash__CrashReport__Thread__RegisterValue>();
      tlcrash__crash_report__thread__register_value__init(value);
      value->name = string(r.name);
      value->value = r.value;
      registers.push_back(value);
    }
    t->n_registers = registers.size();
    t->registers = registers.data();
    return t;
  }

  Tlcrash__CrashReport__BinaryImage* image(const ImageSetup& setup) {
    auto* i = make<Tlcrash__CrashReport__BinaryImage>();
    tlcrash__crash_report__binary_image__init(i);
    i->base_address = setup.base;
    i->size = setup.size;
    i->name = string(setup.name);
    if (setup.uuid) {
      i->has_uuid = 1;
      i->uuid = binary(*setup.uuid);
    }
    if (setup.codeType) i->code_type = processor(*setup.codeType);
    return i;
  }

  Tlcrash__CrashReport__Exception* exception(const ExceptionSetup& setup) {
    auto* e = make<Tlcrash__CrashReport__Exception>();
    tlcrash__crash_report__exception__init(e);
    e->name = string(setup.name);
    e->reason = string(setup.reason);
    auto& f = frames(setup.frames);
    e->n_frames = f.size();
    e->frames = f.data();
    return e;
  }

  Tlcrash__CrashReport__Signal* signal(const SignalSetup& setup) {
    auto* s = make<Tlcrash__CrashReport__Signal>();
    tlcrash__crash_report__signal__init(s);
    s->name = string(setup.name);
    s->code = string(setup.code);
    s->address = setup.address;
    if (setup.machException) {
      auto* m = make<Tlcrash__CrashReport__Signal__MachException>();
      tlcrash__crash_report__signal__mach_exception__init(m);
      m->type = setup.machException->type;
      auto& codes = std::get<std::deque<std::vector<std::uint64_t>>>(parts_).emplace_back(
          setup.machException->codes);
      m->n_codes = codes.size();
      m->codes = codes.data();
      s->mach_exception = m;
    }
    return s;
  }

  Tlcrash__CrashReport__ProcessInfo* process(const ProcessSetup& setup) {
    auto* p = make<Tlcrash__CrashReport__ProcessInfo>();
    tlcrash__crash_report__process_info__init(p);
    p->process_name = optionalString(setup.name);
    p->process_id = setup.id;
    p->process_path = optionalString(setup.path);
    p->parent_process_name = optionalString(setup.parentName);
    p->parent_process_id = setup.parentId;
    p->native = setup.native;
    if (setup.startTime) {
      p->has_start_time = 1;
      p->start_time = *setup.startTime;
    }
    return p;
  }

  Tlcrash__CrashReport__MachineInfo* machine(const MachineSetup& setup) {
    auto* m = make<Tlcrash__CrashReport__MachineInfo>();
    tlcrash__crash_report__machine_info__init(m);
    m->model = optionalString(setup.model);
    m->processor = processor(setup.processor);
    m->processor_count = setup.processorCount;
    m->logical_processor_count = setup.logicalProcessorCount;
    return m;
  }

  Tlcrash__CrashReport__ReportInfo* reportInfo(const ReportInfoSetup& setup) {
    auto* r = make<Tlcrash__CrashReport__ReportInfo>();
    tlcrash__crash_report__report_info__init(r);
    r->user_requested = setup.userRequested;
    if (setup.uuid) {
      r->has_uuid = 1;
      r->uuid = binary(*setup.uuid);
    }
    return r;
  }

  Tlcrash__CrashReport message_;
  std::deque<std::string> strings_;
  std::deque<Bytes> binaries_;
  // Every part of the message, each kind in a deque so that addresses stay put.
  std::tuple<
      std::deque<Tlcrash__CrashReport__Processor>, std::deque<Tlcrash__CrashReport__SystemInfo>,
      std::deque<Tlcrash__CrashReport__ApplicationInfo>,
      std::deque<Tlcrash__CrashReport__Thread__StackFrame>,
      std::deque<Tlcrash__CrashReport__Symbol>, std::deque<Tlcrash__CrashReport__Thread>,
      std::deque<Tlcrash__CrashReport__Thread__RegisterValue>,
      std::deque<Tlcrash__CrashReport__BinaryImage>, std::deque<Tlcrash__CrashReport__Exception>,
      std::deque<Tlcrash__CrashReport__Signal>,
      std::deque<Tlcrash__CrashReport__Signal__MachException>,
      std::deque<Tlcrash__CrashReport__ProcessInfo>, std::deque<Tlcrash__CrashReport__MachineInfo>,
      std::deque<Tlcrash__CrashReport__ReportInfo>,
      std::deque<std::vector<Tlcrash__CrashReport__Thread*>>,
      std::deque<std::vector<Tlcrash__CrashReport__BinaryImage*>>,
      std::deque<std::vector<Tlcrash__CrashReport__Thread__StackFrame*>>,
      std::deque<std::vector<Tlcrash__CrashReport__Thread__RegisterValue*>>,
      std::deque<std::vector<std::uint64_t>>>
      parts_;
};

inline Bytes reportFile(const ReportSetup& setup) {
  return ReportMessage(setup).file();
}

}  // namespace tlcrash::test
