#pragma once

// Crash reports for tests, described as plain values (ReportSpec) and
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

struct ProcessorSpec {
  std::optional<int> encoding = TLCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
  std::uint64_t type = 0x1000007;
  std::uint64_t subtype = 3;
};

struct SymbolSpec {
  std::string name = {};
  std::uint64_t start = 0;
  std::optional<std::uint64_t> end = {};
};

struct FrameSpec {
  std::uint64_t pc = 0;
  std::optional<SymbolSpec> symbol = {};
};

struct RegisterSpec {
  std::string name = {};
  std::uint64_t value = 0;
};

struct ThreadSpec {
  std::uint32_t number = 0;
  bool crashed = false;
  std::vector<FrameSpec> frames = {};
  std::vector<RegisterSpec> registers = {};
};

struct ImageSpec {
  std::uint64_t base = 0;
  std::uint64_t size = 0;
  std::string name = {};
  std::optional<Bytes> uuid = {};
  std::optional<ProcessorSpec> codeType = {};
};

struct SystemSpec {
  std::optional<int> os = TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX;
  std::string version = "6.1.0";
  int architecture = TLCRASH__ARCHITECTURE__X86_64;
  std::int64_t timestamp = 1700000000;
  std::optional<std::string> build = {};
};

struct MachineSpec {
  std::optional<std::string> model = {};
  ProcessorSpec processor = {};
  std::uint32_t processorCount = 4;
  std::uint32_t logicalProcessorCount = 8;
};

struct ApplicationSpec {
  std::string identifier = "app.Wendrix";
  std::string version = "1";
  std::optional<std::string> marketingVersion = {};
};

struct ProcessSpec {
  std::optional<std::string> name = {};
  std::uint32_t id = 0;
  std::optional<std::string> path = {};
  std::optional<std::string> parentName = {};
  std::uint32_t parentId = 0;
  bool native = true;
  std::optional<std::uint64_t> startTime = {};
};

struct ExceptionSpec {
  std::string name = {};
  std::string reason = {};
  std::vector<FrameSpec> frames = {};
};

struct MachExceptionSpec {
  std::uint64_t type = 0;
  std::vector<std::uint64_t> codes = {};
};

struct SignalSpec {
  std::string name = "SIGSEGV";
  std::string code = "SEGV_MAPERR";
  std::uint64_t address = 0;
  std::optional<MachExceptionSpec> machException = {};
};

struct ReportInfoSpec {
  bool userRequested = false;
  std::optional<Bytes> uuid = {};
};

struct ReportSpec {
  SystemSpec system = {};
  ApplicationSpec application = {};
  std::vector<ThreadSpec> threads = {};
  std::vector<ImageSpec> images = {};
  std::optional<ExceptionSpec> exception = {};
  SignalSpec signal = {};
  std::optional<ProcessSpec> process = {};
  std::optional<MachineSpec> machine = {};
  std::optional<ReportInfoSpec> reportInfo = {};
  std::optional<Bytes> customData = {};
};

// The smallest report the decoder accepts: the required sections, one thread
// with one frame inside the one image.
inline ReportSpec minimalReport() {
  ReportSpec spec;
  spec.threads.push_back({.number = 0, .crashed = true, .frames = {{.pc = 0x401000}}});
  spec.images.push_back({.base = 0x400000, .size = 0x2000, .name = "/usr/bin/wendrix"});
  return spec;
}

// The bytes 0, 1, ..., n - 1.
inline Bytes countingBytes(std::size_t n);

// A report with every section, as a Linux x86-64 crash writes it, plus an
// uncaught exception, a Mach exception record, images out of address order
// (two at one base) and frames inside and outside the images.
inline ReportSpec fullReport() {
  constexpr std::uint64_t kMain = 0x555555554000;
  constexpr std::uint64_t kLibc = 0x7ffff7c00000;
  ReportSpec spec;
  spec.reportInfo = ReportInfoSpec{.userRequested = false,
                                   .uuid = Bytes{0x6B, 0xA7, 0xB8, 0x10, 0x9D, 0xAD, 0x11, 0xD1,
                                                 0x80, 0xB4, 0x00, 0xC0, 0x4F, 0xD4, 0x30, 0xC8}};
  spec.system = {.os = TLCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX,
                 .version = "6.1.0",
                 .architecture = TLCRASH__ARCHITECTURE__X86_64,
                 .timestamp = 1700000000,
                 .build = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"};
  spec.machine = MachineSpec{.model = "Standard PC (Q35 + ICH9, 2009)",
                             .processor = {},
                             .processorCount = 4,
                             .logicalProcessorCount = 8};
  spec.application = {.identifier = "app.Wendrix", .version = "42", .marketingVersion = "0.1.0"};
  spec.process = ProcessSpec{.name = "wendrix",
                             .id = 4242,
                             .path = "/home/alice/.local/bin/wendrix",
                             .parentName = "bash",
                             .parentId = 4000,
                             .native = true,
                             .startTime = 1699999990};
  spec.threads = {
      {.number = 0,
       .crashed = false,
       .frames = {{.pc = kLibc + 0x91d36}, {.pc = kMain + 0x1234}},
       .registers = {}},
      {.number = 1,
       .crashed = true,
       .frames = {{.pc = kMain + 0x2f0a,
                   .symbol = SymbolSpec{.name = "_ZN7wendrix6Engine7restoreEv",
                                        .start = kMain + 0x2ee0,
                                        .end = kMain + 0x2f40}},
                  {.pc = kMain + 0x1100,
                   .symbol = SymbolSpec{.name = "main", .start = kMain + 0x10f0}},
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
  spec.images = {
      {.base = kLibc,
       .size = 0x1c6000,
       .name = "/usr/lib/x86_64-linux-gnu/libc.so.6",
       .uuid = countingBytes(16),
       .codeType = ProcessorSpec{}},
      {.base = kMain,
       .size = 0x4000,
       .name = "/home/alice/.local/bin/wendrix",
       .uuid = Bytes{0x1f, 0x2e, 0x3d, 0x4c, 0x5b, 0x6a, 0x79, 0x88, 0x97, 0xa6,
                     0xb5, 0xc4, 0xd3, 0xe2, 0xf1, 0x00, 0x12, 0x34, 0x56, 0x78},
       .codeType = ProcessorSpec{}},
      {.base = kLibc, .size = 0x1000, .name = "/usr/lib/x86_64-linux-gnu/libc-alias.so"},
      {.base = 0x7ffff7fc1000, .size = 0, .name = "linux-vdso.so.1"},
  };
  spec.exception = ExceptionSpec{.name = "std::runtime_error",
                                 .reason = "cannot read /home/alice/layouts.json",
                                 .frames = {{.pc = kLibc + 0x9a1f0}, {.pc = kMain + 0x2f0a}}};
  spec.signal = {.name = "SIGABRT",
                 .code = "#0",
                 .address = 0,
                 .machException = MachExceptionSpec{.type = 1, .codes = {1, 0x10}}};
  spec.customData = Bytes{0xC0, 0xFF, 0xEE};
  return spec;
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
  explicit ReportMessage(const ReportSpec& spec) {
    tlcrash__crash_report__init(&message_);
    message_.system_info = system(spec.system);
    message_.application_info = application(spec.application);
    std::vector<Tlcrash__CrashReport__Thread*>& threads = pointers<Tlcrash__CrashReport__Thread>();
    for (const ThreadSpec& t : spec.threads)
      threads.push_back(thread(t));
    message_.n_threads = threads.size();
    message_.threads = threads.data();
    std::vector<Tlcrash__CrashReport__BinaryImage*>& images =
        pointers<Tlcrash__CrashReport__BinaryImage>();
    for (const ImageSpec& i : spec.images)
      images.push_back(image(i));
    message_.n_binary_images = images.size();
    message_.binary_images = images.data();
    if (spec.exception) message_.exception = exception(*spec.exception);
    message_.signal = signal(spec.signal);
    if (spec.process) message_.process_info = process(*spec.process);
    if (spec.machine) message_.machine_info = machine(*spec.machine);
    if (spec.reportInfo) message_.report_info = reportInfo(*spec.reportInfo);
    if (spec.customData) {
      message_.has_custom_data = 1;
      message_.custom_data = binary(*spec.customData);
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

  Tlcrash__CrashReport__Processor* processor(const ProcessorSpec& spec) {
    auto* p = make<Tlcrash__CrashReport__Processor>();
    tlcrash__crash_report__processor__init(p);
    if (spec.encoding) {
      p->has_encoding = 1;
      setNumber(p->encoding, *spec.encoding);
    }
    p->type = spec.type;
    p->subtype = spec.subtype;
    return p;
  }

  Tlcrash__CrashReport__SystemInfo* system(const SystemSpec& spec) {
    auto* s = make<Tlcrash__CrashReport__SystemInfo>();
    tlcrash__crash_report__system_info__init(s);
    if (spec.os) {
      s->has_operating_system = 1;
      setNumber(s->operating_system, *spec.os);
    }
    s->os_version = string(spec.version);
    setNumber(s->architecture, spec.architecture);
    s->timestamp = spec.timestamp;
    s->os_build = optionalString(spec.build);
    return s;
  }

  Tlcrash__CrashReport__ApplicationInfo* application(const ApplicationSpec& spec) {
    auto* a = make<Tlcrash__CrashReport__ApplicationInfo>();
    tlcrash__crash_report__application_info__init(a);
    a->identifier = string(spec.identifier);
    a->version = string(spec.version);
    a->marketing_version = optionalString(spec.marketingVersion);
    return a;
  }

  Tlcrash__CrashReport__Thread__StackFrame* frame(const FrameSpec& spec) {
    auto* f = make<Tlcrash__CrashReport__Thread__StackFrame>();
    tlcrash__crash_report__thread__stack_frame__init(f);
    f->pc = spec.pc;
    if (spec.symbol) {
      auto* s = make<Tlcrash__CrashReport__Symbol>();
      tlcrash__crash_report__symbol__init(s);
      s->name = string(spec.symbol->name);
      s->start_address = spec.symbol->start;
      if (spec.symbol->end) {
        s->has_end_address = 1;
        s->end_address = *spec.symbol->end;
      }
      f->symbol = s;
    }
    return f;
  }

  std::vector<Tlcrash__CrashReport__Thread__StackFrame*>& frames(
      const std::vector<FrameSpec>& specs) {
    auto& out = pointers<Tlcrash__CrashReport__Thread__StackFrame>();
    for (const FrameSpec& spec : specs)
      out.push_back(frame(spec));
    return out;
  }

  Tlcrash__CrashReport__Thread* thread(const ThreadSpec& spec) {
    auto* t = make<Tlcrash__CrashReport__Thread>();
    tlcrash__crash_report__thread__init(t);
    t->thread_number = spec.number;
    t->crashed = spec.crashed;
    auto& f = frames(spec.frames);
    t->n_frames = f.size();
    t->frames = f.data();
    auto& registers = pointers<Tlcrash__CrashReport__Thread__RegisterValue>();
    for (const RegisterSpec& r : spec.registers) {
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

  Tlcrash__CrashReport__BinaryImage* image(const ImageSpec& spec) {
    auto* i = make<Tlcrash__CrashReport__BinaryImage>();
    tlcrash__crash_report__binary_image__init(i);
    i->base_address = spec.base;
    i->size = spec.size;
    i->name = string(spec.name);
    if (spec.uuid) {
      i->has_uuid = 1;
      i->uuid = binary(*spec.uuid);
    }
    if (spec.codeType) i->code_type = processor(*spec.codeType);
    return i;
  }

  Tlcrash__CrashReport__Exception* exception(const ExceptionSpec& spec) {
    auto* e = make<Tlcrash__CrashReport__Exception>();
    tlcrash__crash_report__exception__init(e);
    e->name = string(spec.name);
    e->reason = string(spec.reason);
    auto& f = frames(spec.frames);
    e->n_frames = f.size();
    e->frames = f.data();
    return e;
  }

  Tlcrash__CrashReport__Signal* signal(const SignalSpec& spec) {
    auto* s = make<Tlcrash__CrashReport__Signal>();
    tlcrash__crash_report__signal__init(s);
    s->name = string(spec.name);
    s->code = string(spec.code);
    s->address = spec.address;
    if (spec.machException) {
      auto* m = make<Tlcrash__CrashReport__Signal__MachException>();
      tlcrash__crash_report__signal__mach_exception__init(m);
      m->type = spec.machException->type;
      auto& codes = std::get<std::deque<std::vector<std::uint64_t>>>(parts_).emplace_back(
          spec.machException->codes);
      m->n_codes = codes.size();
      m->codes = codes.data();
      s->mach_exception = m;
    }
    return s;
  }

  Tlcrash__CrashReport__ProcessInfo* process(const ProcessSpec& spec) {
    auto* p = make<Tlcrash__CrashReport__ProcessInfo>();
    tlcrash__crash_report__process_info__init(p);
    p->process_name = optionalString(spec.name);
    p->process_id = spec.id;
    p->process_path = optionalString(spec.path);
    p->parent_process_name = optionalString(spec.parentName);
    p->parent_process_id = spec.parentId;
    p->native = spec.native;
    if (spec.startTime) {
      p->has_start_time = 1;
      p->start_time = *spec.startTime;
    }
    return p;
  }

  Tlcrash__CrashReport__MachineInfo* machine(const MachineSpec& spec) {
    auto* m = make<Tlcrash__CrashReport__MachineInfo>();
    tlcrash__crash_report__machine_info__init(m);
    m->model = optionalString(spec.model);
    m->processor = processor(spec.processor);
    m->processor_count = spec.processorCount;
    m->logical_processor_count = spec.logicalProcessorCount;
    return m;
  }

  Tlcrash__CrashReport__ReportInfo* reportInfo(const ReportInfoSpec& spec) {
    auto* r = make<Tlcrash__CrashReport__ReportInfo>();
    tlcrash__crash_report__report_info__init(r);
    r->user_requested = spec.userRequested;
    if (spec.uuid) {
      r->has_uuid = 1;
      r->uuid = binary(*spec.uuid);
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

inline Bytes reportFile(const ReportSpec& spec) {
  return ReportMessage(spec).file();
}

}  // namespace tlcrash::test
