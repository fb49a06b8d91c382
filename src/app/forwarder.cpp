// `wendrix [URL...]`: hands the URLs to the agent running in the user's
// session and exits with its answer, loading nothing but the socket client.
// When no agent runs (or for anything but URLs), it becomes the agent: it
// executes the agent program installed beside it with the same arguments,
// which takes the instance lock, waits for an instance that is starting, and
// serves.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/handoff/url_handoff.h"

namespace {

// The agent program: beside this one.
std::filesystem::path agentProgram() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return WENDRIX_AGENT_NAME;
  return self.parent_path() / WENDRIX_AGENT_NAME;
}

int becomeAgent(char** argv) {
  const auto agent = agentProgram();
  ::execv(agent.c_str(), argv);
  std::fprintf(stderr, "wendrix: cannot start the agent %s: %s\n", agent.c_str(),
               std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> urls;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    // Options are the agent's.
    if (argument.starts_with("--")) return becomeAgent(argv);
    urls.emplace_back(argument);
  }
  const auto paths = wendrix::InstancePaths::fromEnvironment(WENDRIX_BUNDLE_IDENTIFIER);
  if (auto ready = paths.preparePrivateFolder(); !ready.ok()) {
    std::fprintf(stderr, "wendrix: %s\n", ready.error().description.c_str());
    return 1;
  }
  auto sent = wendrix::sendURLsToInstance(paths.socket, urls);
  if (!sent.ok()) {
    std::fprintf(stderr, "wendrix: %s\n", sent.error().description.c_str());
    return 1;
  }
  if (!sent.value()) return becomeAgent(argv);
  if (urls.empty()) std::fprintf(stderr, "wendrix: already running\n");
  return 0;
}
