#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/telemetry_devices.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/core/archive.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_records.h"
#include "telemetry/crashes/error_report.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using nlohmann::ordered_json;
using testing::linuxDevice;
using testing::LogCapture;

// 2023-11-14T22:13:20.999Z plus nanoseconds the JSON text drops.
const Date kCrashTime = Date(1700000000s + 999ms + 123456ns);
const Date kLaunchTime = Date(1699999990s);

std::shared_ptr<TLMStackFrame> frame(std::string address, std::optional<std::string> code) {
  auto f = std::make_shared<TLMStackFrame>();
  f->address = std::move(address);
  f->code = std::move(code);
  return f;
}

std::shared_ptr<TLMException> exceptionWithFrame() {
  auto e = std::make_shared<TLMException>();
  e->type = "std::runtime_error";
  e->message = "cannot read /home/USER/layouts.json";
  e->frames = TLMStackFrames{frame("0x00007ffff7c9a1f0", std::nullopt)};
  return e;
}

std::shared_ptr<TLMThread> thread(std::int64_t id, std::string code) {
  auto t = std::make_shared<TLMThread>();
  t->threadId = id;
  t->frames->push_back(frame("0x0000555555556f0a", std::move(code)));
  return t;
}

std::shared_ptr<TLMBinary> binary() {
  auto b = std::make_shared<TLMBinary>();
  b->binaryId = "1f2e3d4c5b6a798897a6b5c4d3e2f10012345678";
  b->startAddress = "0x0000555555554000";
  b->endAddress = "0x0000555555557fff";
  b->name = "wendrix";
  b->path = "/home/USER/.local/bin/wendrix";
  b->primaryArchitectureId = 0x1000007;
  b->architectureVariantId = 3;
  return b;
}

// A crash log with every member the formatter fills.
std::shared_ptr<TLMAppleErrorLog> crashLog() {
  auto log = std::make_shared<TLMAppleErrorLog>();
  log->timestamp = kCrashTime;
  log->sid = "0D5C4E2A-3A4B-4C5D-8E6F-708192A3B4C5";
  log->device = linuxDevice();
  log->errorId = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8";
  log->processId = 4242;
  log->processName = "wendrix";
  log->parentProcessId = 4000;
  log->parentProcessName = "bash";
  log->errorThreadId = 1;
  log->fatal = true;
  log->appLaunchTimestamp = kLaunchTime;
  log->primaryArchitectureId = 0x1000007;
  log->architectureVariantId = 3;
  log->applicationPath = "/home/USER/.local/bin/wendrix";
  log->osExceptionType = "SIGABRT";
  log->osExceptionCode = "#0";
  log->osExceptionAddress = "0x0";
  log->exceptionType = "std::runtime_error";
  log->exceptionReason = "cannot read /home/USER/layouts.json";
  log->threads = std::vector{thread(0, "0x7ffff7c00000 + 597302"), thread(1, "main + 16")};
  (*log->threads)[1]->exception = exceptionWithFrame();
  log->binaries = std::vector{binary()};
  log->registers = std::map<std::string, std::string>{{"rip", "0x0000555555556f0a"},
                                                      {"rsi", "0x00007fffffffe398"}};
  return log;
}

std::shared_ptr<TLMHandledErrorLog> handledLog() {
  auto log = std::make_shared<TLMHandledErrorLog>();
  log->timestamp = kCrashTime;
  log->device = linuxDevice();
  log->properties = std::map<std::string, std::string>{{"layout", "Work"}};
  log->errorId = "A1B2C3D4-0000-4000-8000-000000000001";
  log->exception = exceptionWithFrame();
  return log;
}

std::shared_ptr<TLMErrorAttachmentLog> attachmentLog() {
  auto log = TLMErrorAttachmentLog::attachmentWithText("é/1", "notes.txt");
  log->timestamp = kCrashTime;
  log->device = linuxDevice();
  log->errorId = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8";
  return log;
}

// The members of an object, without the device's.
std::vector<std::string> keysOf(const ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items())
    keys.push_back(item.key());
  return keys;
}

template <class T>
std::shared_ptr<T> roundTrip(const T& object) {
  auto decoded = unarchiveKeyedDataOf<T>(archiveKeyedData(object));
  EXPECT_TRUE(decoded) << object.className();
  return decoded;
}

TEST(ErrorLogJsonTest, CrashLogWritesItsMembersAndNestedRecords) {
  const ordered_json json = crashLog()->serializeToDictionary();
  EXPECT_EQ(keysOf(json), (std::vector<std::string>{"type",
                                                    "timestamp",
                                                    "sid",
                                                    "device",
                                                    "id",
                                                    "processId",
                                                    "processName",
                                                    "parentProcessId",
                                                    "parentProcessName",
                                                    "errorThreadId",
                                                    "fatal",
                                                    "appLaunchTimestamp",
                                                    "primaryArchitectureId",
                                                    "architectureVariantId",
                                                    "applicationPath",
                                                    "osExceptionType",
                                                    "osExceptionCode",
                                                    "osExceptionAddress",
                                                    "exceptionType",
                                                    "exceptionReason",
                                                    "threads",
                                                    "binaries",
                                                    "registers"}));
  EXPECT_EQ(json["type"], "appleError");
  EXPECT_EQ(json["timestamp"], "2023-11-14T22:13:20.999Z");
  EXPECT_EQ(json["appLaunchTimestamp"], "2023-11-14T22:13:10.000Z");
  EXPECT_EQ(json["fatal"], true);
  EXPECT_EQ(json["primaryArchitectureId"], 0x1000007);
  EXPECT_EQ(json["threads"][0], ordered_json::parse(R"({"id":0,"frames":[
      {"address":"0x0000555555556f0a","code":"0x7ffff7c00000 + 597302"}]})"));
  EXPECT_EQ(json["threads"][1]["exception"], ordered_json::parse(R"({
      "type":"std::runtime_error","message":"cannot read /home/USER/layouts.json",
      "frames":[{"address":"0x00007ffff7c9a1f0"}]})"));
  EXPECT_EQ(json["binaries"][0], ordered_json::parse(R"({
      "id":"1f2e3d4c5b6a798897a6b5c4d3e2f10012345678","startAddress":"0x0000555555554000",
      "endAddress":"0x0000555555557fff","name":"wendrix","path":"/home/USER/.local/bin/wendrix",
      "primaryArchitectureId":16777223,"architectureVariantId":3})"));
  EXPECT_EQ(json["registers"],
            ordered_json::parse(R"({"rip":"0x0000555555556f0a","rsi":"0x00007fffffffe398"})"));
  // Slashes stay as they are in the text.
  EXPECT_NE(crashLog()->serializeLogWithPrettyPrinting(false)->find("/home/USER/.local"),
            std::string::npos);
}

TEST(ErrorLogJsonTest, FatalIsAlwaysWrittenAndAbsentMembersAreLeftOut) {
  TLMAppleErrorLog log;
  const ordered_json json = log.serializeToDictionary();
  EXPECT_EQ(json, ordered_json::parse(R"({"type":"appleError","fatal":false})"));
}

TEST(ErrorLogJsonTest, HandledErrorAndAttachment) {
  EXPECT_EQ(handledLog()->serializeToDictionary()["exception"]["type"], "std::runtime_error");
  EXPECT_EQ(handledLog()->serializeToDictionary()["id"], "A1B2C3D4-0000-4000-8000-000000000001");
  EXPECT_EQ(handledLog()->serializeToDictionary()["properties"]["layout"], "Work");

  const auto attachment = attachmentLog();
  const ordered_json json = attachment->serializeToDictionary();
  EXPECT_EQ(json["type"], "errorAttachment");
  EXPECT_EQ(json["contentType"], "text/plain");
  EXPECT_EQ(json["fileName"], "notes.txt");
  EXPECT_EQ(json["data"], "w6kvMQ==");  // the UTF-8 bytes of "é/1"
  EXPECT_EQ(json["errorId"], "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
  EXPECT_EQ(json["id"].get<std::string>().size(), 36u);
  EXPECT_NE(attachmentLog()->attachmentId, attachment->attachmentId);

  auto binaryAttachment =
      TLMErrorAttachmentLog::attachmentWithBinary({0xff, 0x00}, std::nullopt, "image/png");
  EXPECT_EQ(binaryAttachment->serializeToDictionary()["data"], "/wA=");
  EXPECT_FALSE(binaryAttachment->serializeToDictionary().contains("fileName"));
}

TEST(ErrorLogJsonTest, RecordsWriteOnlySetMembers) {
  TLMStackFrame wrapperFrame;
  wrapperFrame.frameClassName = "LayoutStore";
  wrapperFrame.methodName = "load";
  wrapperFrame.lineNumber = 12;
  wrapperFrame.fileName = "store.js";
  EXPECT_EQ(wrapperFrame.serializeToDictionary(),
            ordered_json::parse(R"({"className":"LayoutStore","methodName":"load",
                                    "lineNumber":12,"fileName":"store.js"})"));

  auto inner = std::make_shared<TLMException>();
  inner->type = "inner";
  TLMException outer;
  outer.type = "outer";
  outer.stackTrace = "at load (store.js:12)";
  outer.innerExceptions = std::vector{inner};
  outer.wrapperSdkName = "daraveved.js";
  EXPECT_EQ(outer.serializeToDictionary(),
            ordered_json::parse(R"json({"type":"outer","stackTrace":"at load (store.js:12)",
                                    "innerExceptions":[{"type":"inner"}],
                                    "wrapperSdkName":"daraveved.js"})json"));

  EXPECT_EQ(TLMThread().serializeToDictionary(), ordered_json::parse(R"({"frames":[]})"));

  TLMWrapperException wrapper;
  wrapper.modelException = inner;
  wrapper.processId = 77;
  wrapper.exceptionData = base::Bytes{1, 2, 3};
  EXPECT_EQ(wrapper.serializeToDictionary(),
            ordered_json::parse(R"({"modelException":{"type":"inner"},"processId":77,
                                    "exceptionData":"AQID"})"));
}

TEST(ErrorLogArchiveTest, EveryClassRoundTripsToAnEqualObject) {
  const auto crash = crashLog();
  crash->properties = std::map<std::string, std::string>{{"k", "v"}};
  crash->exception = exceptionWithFrame();
  crash->primaryArchitectureId = 0xffffffffffffffff;  // any 64-bit CPU type
  auto decodedCrash = roundTrip(*crash);
  ASSERT_TRUE(decodedCrash);
  EXPECT_TRUE(decodedCrash->isEqual(*crash));
  EXPECT_EQ(decodedCrash->timestamp, crash->timestamp);  // nanoseconds kept
  EXPECT_EQ(decodedCrash->serializeToDictionary(), crash->serializeToDictionary());

  auto handled = roundTrip(*handledLog());
  ASSERT_TRUE(handled);
  EXPECT_TRUE(handled->isEqual(*handledLog()));

  const auto attachment = attachmentLog();
  auto decodedAttachment = roundTrip(*attachment);
  ASSERT_TRUE(decodedAttachment);
  EXPECT_TRUE(decodedAttachment->isEqual(*attachment));
  EXPECT_EQ(decodedAttachment->data, attachment->data);

  TLMWrapperException wrapper;
  wrapper.modelException = exceptionWithFrame();
  wrapper.processId = 77;
  wrapper.exceptionData = base::Bytes{0, 255};
  auto decodedWrapper = roundTrip(wrapper);
  ASSERT_TRUE(decodedWrapper);
  EXPECT_EQ(*decodedWrapper, wrapper);

  TLMStackFrame wrapperFrame;
  wrapperFrame.frameClassName = "LayoutStore";
  wrapperFrame.lineNumber = 12;
  auto decodedFrame = roundTrip(wrapperFrame);
  ASSERT_TRUE(decodedFrame);
  EXPECT_EQ(*decodedFrame, wrapperFrame);
}

TEST(ErrorLogArchiveTest, MissingKeysDecodeAsAbsent) {
  TLMThread empty;
  empty.frames.reset();
  auto decoded = roundTrip(empty);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->frames);  // not the empty array a new thread starts with
  EXPECT_FALSE(decoded->threadId);

  TLMErrorAttachmentLog attachment;
  attachment.attachmentId.reset();
  auto decodedAttachment = roundTrip(attachment);
  ASSERT_TRUE(decodedAttachment);
  EXPECT_FALSE(decodedAttachment->attachmentId);  // no fresh id on decoding

  auto decodedLog = roundTrip(TLMAppleErrorLog());
  ASSERT_TRUE(decodedLog);
  EXPECT_FALSE(decodedLog->fatal);
  EXPECT_FALSE(decodedLog->threads);
  EXPECT_FALSE(decodedLog->registers);
}

// Fills the fields a rule checks, one at a time, and expects the rule to name
// each missing one in order.
template <class T>
void expectRuleOrder(T& object, const std::string& className,
                     const std::vector<std::pair<std::string, std::function<void()>>>& rule) {
  LogCapture logs;
  for (const auto& [field, fill] : rule) {
    logs.clear();
    EXPECT_FALSE(object.isValid()) << field;
    EXPECT_EQ(logs.messages(),
              std::vector<std::string>{className + ": \"" + field + "\" is not valid."});
    EXPECT_TRUE(logs.has(TLMLogLevel::Verbose, className));
    fill();
  }
  logs.clear();
  EXPECT_TRUE(object.isValid()) << className;
  EXPECT_TRUE(logs.lines().empty());
}

TEST(ErrorLogValidityTest, EachClassNamesTheFirstMissingFieldInOrder) {
  TLMAppleErrorLog crash;
  crash.timestamp = kCrashTime;
  expectRuleOrder(crash, "TLMAppleErrorLog",
                  {{"device", [&] { crash.device = linuxDevice(); }},
                   {"errorId", [&] { crash.errorId = "E"; }},
                   {"processId", [&] { crash.processId = 0; }},
                   {"processName", [&] { crash.processName = ""; }},
                   {"primaryArchitectureId", [&] { crash.primaryArchitectureId = 0; }},
                   {"applicationPath", [&] { crash.applicationPath = ""; }},
                   {"osExceptionType", [&] { crash.osExceptionType = "SIGSEGV"; }},
                   {"osExceptionCode", [&] { crash.osExceptionCode = "SEGV_MAPERR"; }},
                   {"osExceptionAddress", [&] { crash.osExceptionAddress = "0x10"; }}});
  // Threads, binaries and exception are not looked into.
  crash.threads = std::vector{std::make_shared<TLMThread>()};
  EXPECT_TRUE(crash.isValid());

  TLMHandledErrorLog handled;
  handled.timestamp = kCrashTime;
  handled.device = linuxDevice();
  expectRuleOrder(handled, "TLMHandledErrorLog",
                  {{"errorId", [&] { handled.errorId = "E"; }},
                   {"exception", [&] { handled.exception = std::make_shared<TLMException>(); }}});

  TLMErrorAttachmentLog attachment;
  attachment.timestamp = kCrashTime;
  attachment.device = linuxDevice();
  attachment.attachmentId.reset();
  expectRuleOrder(attachment, "TLMErrorAttachmentLog",
                  {{"errorId", [&] { attachment.errorId = "E"; }},
                   {"attachmentId", [&] { attachment.attachmentId = "A"; }},
                   {"data", [&] { attachment.data = base::Bytes{}; }},  // empty counts
                   {"contentType", [&] { attachment.contentType = "text/plain"; }}});

  TLMThread thread;
  expectRuleOrder(thread, "TLMThread",
                  {{"threadId", [&] { thread.threadId = 0; }},
                   {"frames", [&] { thread.frames->push_back(frame("0x0", "c")); }}});

  TLMBinary binary;
  expectRuleOrder(binary, "TLMBinary",
                  {{"binaryId", [&] { binary.binaryId = "???"; }},
                   {"startAddress", [&] { binary.startAddress = "0x0"; }},
                   {"endAddress", [&] { binary.endAddress = "0x0"; }},
                   {"name", [&] { binary.name = "???"; }},
                   {"path", [&] { binary.path = ""; }}});

  TLMException exception;
  exception.frames = TLMStackFrames{};
  expectRuleOrder(exception, "TLMException",
                  {{"type", [&] { exception.type = "SIGABRT"; }},
                   {"frames", [&] { exception.frames->push_back(frame("0x0", std::nullopt)); }}});
}

TEST(ErrorLogEqualityTest, ComparesEveryFieldByValue) {
  EXPECT_TRUE(crashLog()->isEqual(*crashLog()));

  const std::vector<std::pair<const char*, std::function<void(TLMAppleErrorLog&)>>> changes = {
      {"base field", [](TLMAppleErrorLog& l) { l.sid.reset(); }},
      {"process field", [](TLMAppleErrorLog& l) { l.parentProcessId = 1; }},
      {"fatal", [](TLMAppleErrorLog& l) { l.fatal = false; }},
      {"launch time", [](TLMAppleErrorLog& l) { l.appLaunchTimestamp.reset(); }},
      {"crash field", [](TLMAppleErrorLog& l) { l.osExceptionCode = "#1"; }},
      {"frame code", [](TLMAppleErrorLog& l) { (*l.threads)[0]->frames->at(0)->code = "x"; }},
      {"thread exception", [](TLMAppleErrorLog& l) { (*l.threads)[1]->exception.reset(); }},
      {"binary", [](TLMAppleErrorLog& l) { (*l.binaries)[0]->architectureVariantId = 0; }},
      {"register", [](TLMAppleErrorLog& l) { (*l.registers)["rip"] = "0x0000000000000000"; }},
      {"wrapper exception", [](TLMAppleErrorLog& l) { l.exception = exceptionWithFrame(); }},
  };
  for (const auto& [what, change] : changes) {
    auto changed = crashLog();
    change(*changed);
    EXPECT_FALSE(changed->isEqual(*crashLog())) << what;
    EXPECT_FALSE(crashLog()->isEqual(*changed)) << what;
  }

  // Absent on both sides is equal; a log of another class is not.
  auto a = binary();
  auto b = binary();
  EXPECT_FALSE(a->architecture);
  EXPECT_EQ(*a, *b);
  b->architecture = "x86_64";
  EXPECT_FALSE(*a == *b);
  EXPECT_FALSE(handledLog()->isEqual(*crashLog()));
  EXPECT_FALSE(crashLog()->isEqual(*handledLog()));
}

TEST(ErrorLogTest, OnlyTheCrashLogKeepsItsOwnSessionId) {
  EXPECT_TRUE(dynamic_cast<const TLMNoAutoAssignSessionIdLog*>(crashLog().get()));
  EXPECT_FALSE(dynamic_cast<const TLMNoAutoAssignSessionIdLog*>(handledLog().get()));
  EXPECT_FALSE(dynamic_cast<const TLMNoAutoAssignSessionIdLog*>(attachmentLog().get()));
}

TEST(ErrorReportTest, IsAppKillForAnyCaseOfSigkillOnly) {
  const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
      {"SIGKILL", true}, {"sigkill", true}, {"SIGABRT", false}, {std::nullopt, false}};
  for (const auto& [signalName, appKill] : cases) {
    TLMErrorReport report("E", "", signalName, std::nullopt, std::nullopt, std::nullopt,
                          std::nullopt, nullptr, 1);
    EXPECT_EQ(report.isAppKill(), appKill) << signalName.value_or("(none)");
  }
  TLMErrorReport report("E", "", "SIGABRT", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                        nullptr, 1);
  report.setSignal("SIGKILL");
  EXPECT_TRUE(report.isAppKill());
}

}  // namespace
}  // namespace tlm
