#include "crashcapture/platform/linux/process_info.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "crashcapture/readers/core/utf8_prefix.h"

namespace tlcrash {
namespace {

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

// The value of the "<key>" line of /proc/stat or /proc/<pid>/status.
std::optional<unsigned long long> keyedNumber(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    try {
      return std::stoull(line.substr(key.size()));
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The name between the first "(" and the last ")" of /proc/<pid>/stat (a
// name may itself hold parentheses and spaces) and the fields after it,
// numbered as proc(5) numbers them (3: state, 4: parent, 22: start time).
struct StatRecord {
  std::string name;
  std::vector<std::string> fields;  // fields[0] is field 3

  const std::string* field(std::size_t number) const {
    return number >= 3 && number - 3 < fields.size() ? &fields[number - 3] : nullptr;
  }
};

std::optional<StatRecord> parseStat(const std::string& text) {
  const auto open = text.find('(');
  const auto close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  StatRecord record;
  record.name = text.substr(open + 1, close - open - 1);
  std::istringstream rest(text.substr(close + 1));
  for (std::string field; rest >> field;)
    record.fields.push_back(field);
  return record;
}

}  // namespace

std::optional<TLCrashProcessInfo> TLCrashProcessInfo::currentProcessInfo() {
  return makeWithProcessID(::getpid());
}

std::optional<TLCrashProcessInfo> TLCrashProcessInfo::makeWithProcessID(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  const std::string dir = "/proc/" + std::to_string(pid);
  const auto statText = readFile(dir + "/stat");
  if (!statText) return std::nullopt;
  const auto stat = parseStat(*statText);
  if (!stat) return std::nullopt;
  const std::string* parent = stat->field(4);
  const std::string* startTicks = stat->field(22);
  if (parent == nullptr || startTicks == nullptr) return std::nullopt;

  TLCrashProcessInfo info;
  info.processID_ = pid;
  try {
    info.parentProcessID_ = static_cast<pid_t>(std::stol(*parent));
    const unsigned long long ticks = std::stoull(*startTicks);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const auto bootTime = keyedNumber(readFile("/proc/stat").value_or(""), "btime ");
    if (ticksPerSecond > 0 && bootTime) {
      const auto perSecond = static_cast<unsigned long long>(ticksPerSecond);
      info.startTime_.tv_sec = static_cast<time_t>(*bootTime + ticks / perSecond);
      info.startTime_.tv_usec = static_cast<suseconds_t>(ticks % perSecond * 1000000 / perSecond);
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }

  const std::string& name = stat->name;
  const std::size_t valid =
      tlcrash_async_utf8_valid_prefix(name.data(), std::min<std::size_t>(name.size(), 16));
  if (valid > 0) info.processName_ = name.substr(0, valid);

  const auto tracer = keyedNumber(readFile(dir + "/status").value_or(""), "TracerPid:");
  info.traced_ = tracer.value_or(0) != 0;

  std::error_code error;
  const auto path = std::filesystem::read_symlink(dir + "/exe", error);
  if (!error && !path.empty()) info.processPath_ = path.string();
  return info;
}

}  // namespace tlcrash
