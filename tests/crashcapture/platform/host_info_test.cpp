#include "crashcapture/platform/linux/host_info.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace tlcrash {
namespace {

std::string firstLineOf(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && line.back() == ' ')
    line.pop_back();
  return line;
}

TEST(TLCrashHostInfoTest, ScansTheReleaseIntoThreeNumbersAndLogsAShortOne) {
  struct Case {
    const char* release;
    TLCrashHostVersion version;
    bool logged;
  };
  const Case cases[] = {
      {"19.6.0", {19, 6, 0}, false}, {"6.1.0-18-amd64", {6, 1, 0}, false},
      {"20", {20, 0, 0}, true},      {"5.15", {5, 15, 0}, true},
      {"x", {0, 0, 0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    std::vector<std::string> lines;
    const auto version = TLCrashHostInfo::parseRelease(
        c.release, [&lines](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(version, c.version);
    if (c.logged) {
      EXPECT_EQ(lines,
                std::vector<std::string>{
                    std::string("[TLCrashReporter] Unexpected kern.osrelease string format: ") +
                    c.release});
    } else {
      EXPECT_TRUE(lines.empty());
    }
  }
}

TEST(TLCrashHostInfoTest, DescribesThisHostAsUnameAndProcSeeIt) {
  const auto info = TLCrashHostInfo::currentHostInfo([](const std::string&) {});
  ASSERT_TRUE(info.has_value());
  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  EXPECT_EQ(info->osRelease(), names.release);
  EXPECT_EQ(info->osBuild(), names.version);

  // The kernel's own text of the release, scanned independently.
  unsigned parts[3] = {};
  const std::string release = firstLineOf("/proc/sys/kernel/osrelease");
  ASSERT_GE(std::sscanf(release.c_str(), "%u.%u.%u", &parts[0], &parts[1], &parts[2]), 2);
  EXPECT_EQ(info->darwinVersion(), (TLCrashHostVersion{parts[0], parts[1], parts[2]}));

  const std::string model = firstLineOf("/sys/class/dmi/id/product_name");
  if (model.empty()) {
    EXPECT_FALSE(info->model().has_value());
  } else {
    EXPECT_EQ(info->model(), model);
  }

  // /proc/cpuinfo lists the online processors, with their package and core.
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::uint32_t online = 0;
  std::set<std::pair<std::string, std::string>> cores;
  std::string line;
  std::string package;
  while (std::getline(cpuinfo, line)) {
    const auto value = line.substr(line.find(':') == std::string::npos ? 0 : line.find(':') + 1);
    if (line.rfind("processor", 0) == 0) ++online;
    if (line.rfind("physical id", 0) == 0) package = value;
    if (line.rfind("core id", 0) == 0) cores.emplace(package, value);
  }
  ASSERT_GT(online, 0u);
  EXPECT_GE(info->logicalProcessorCount(), online);
  EXPECT_GE(info->processorCount(), 1u);
  EXPECT_LE(info->processorCount(), info->logicalProcessorCount());
  if (!cores.empty()) {
    EXPECT_GE(info->processorCount(), cores.size());
  }

#if defined(__x86_64__)
  EXPECT_EQ(info->cpuType(), 0x1000007);
  EXPECT_EQ(info->cpuSubtype(), 3);
#endif
}

}  // namespace
}  // namespace tlcrash
