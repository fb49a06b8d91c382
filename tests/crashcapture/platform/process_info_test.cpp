#include "crashcapture/platform/linux/process_info.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

namespace tlcrash {
namespace {

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(TLCrashProcessInfoTest, DescribesTheCallingProcess) {
  const auto info = TLCrashProcessInfo::currentProcessInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->processID(), ::getpid());
  EXPECT_EQ(info->parentProcessID(), ::getppid());
  EXPECT_EQ(info->processName(), std::string(program_invocation_short_name).substr(0, 15));
  ASSERT_TRUE(info->processPath().has_value());
  EXPECT_EQ(std::filesystem::path(*info->processPath()).filename(), program_invocation_short_name);
  // This test program started a moment ago (the boot time is kept in whole
  // seconds, hence the slack).
  EXPECT_LE(info->startTime().tv_sec, nowSeconds() + 1);
  EXPECT_GE(info->startTime().tv_sec, nowSeconds() - 600);
  EXPECT_GE(info->startTime().tv_usec, 0);
  EXPECT_LT(info->startTime().tv_usec, 1000000);
}

TEST(TLCrashProcessInfoTest, AProcessThatDoesNotExistHasNoInformation) {
  EXPECT_FALSE(TLCrashProcessInfo::makeWithProcessID(0).has_value());
  EXPECT_FALSE(TLCrashProcessInfo::makeWithProcessID(-1).has_value());
  EXPECT_FALSE(TLCrashProcessInfo::makeWithProcessID(0x7FFFFFFF).has_value());
}

// A child that names itself `name`, asks to be traced by this process when
// `traced`, tells the parent it is ready and waits to be killed.
class Child {
 public:
  Child(const char* name, bool traced) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::prctl(PR_SET_NAME, name, 0, 0, 0);
      char ok = 1;
      if (traced && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ok = 0;
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      for (;;)
        ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ready_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  pid_t pid() const { return pid_; }
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(TLCrashProcessInfoTest, SeesAnotherProcesssNameParentAndTracer) {
  Child plain("plain child", false);
  ASSERT_TRUE(plain.ready());
  const auto info = TLCrashProcessInfo::makeWithProcessID(plain.pid());
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->processID(), plain.pid());
  EXPECT_EQ(info->processName(), "plain child");
  EXPECT_EQ(info->parentProcessID(), ::getpid());
  EXPECT_FALSE(info->isTraced());

  Child traced("traced", true);
  if (!traced.ready()) GTEST_SKIP() << "ptrace is not permitted here";
  const auto tracedInfo = TLCrashProcessInfo::makeWithProcessID(traced.pid());
  ASSERT_TRUE(tracedInfo.has_value());
  EXPECT_TRUE(tracedInfo->isTraced());
}

TEST(TLCrashProcessInfoTest, CutsTheNameToItsValidUtf8Prefix) {
  struct Case {
    const char* name;
    std::optional<std::string> expected;
  };
  // The kernel keeps 15 bytes of a name, so the first one loses the second
  // byte of its "é".
  const Case cases[] = {
      {"abcdefghijklmn\xC3\xA9", std::string("abcdefghijklmn")},
      {"caf\xC3\xA9", std::string("caf\xC3\xA9")},
      {"\xC3", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.name)));
    Child child(c.name, false);
    ASSERT_TRUE(child.ready());
    const auto info = TLCrashProcessInfo::makeWithProcessID(child.pid());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->processName(), c.expected);
  }
}

}  // namespace
}  // namespace tlcrash
