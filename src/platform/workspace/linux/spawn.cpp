#include "platform/workspace/linux/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace platform {
namespace {

// Owns the attribute objects of one spawn.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  int failed = 0;

  SpawnSetup() {
    failed = posix_spawn_file_actions_init(&actions);
    if (failed) return;
    failed = posix_spawnattr_init(&attributes);
    if (failed) posix_spawn_file_actions_destroy(&actions);
  }
  ~SpawnSetup() {
    if (failed) return;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

base::Result<pid_t> spawnProcess(const std::vector<std::string>& argv,
                                 const std::optional<std::string>& workingDirectory) {
  auto failure = [&](int error) {
    return base::Error("Wendrix.WorkspaceError", 2,
                       "Cannot start " + (argv.empty() ? std::string("nothing") : argv.front()) +
                           ": " + std::strerror(error) + ".");
  };
  if (argv.empty() || argv.front().empty()) return failure(ENOENT);

  SpawnSetup setup;
  if (setup.failed) return failure(setup.failed);
  int rc = posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  // Descriptors of this process (the X connection, sockets, databases) stay here.
  if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
  if (!rc && workingDirectory) {
    rc = posix_spawn_file_actions_addchdir_np(&setup.actions, workingDirectory->c_str());
  }
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  if (!rc) rc = posix_spawnattr_setsigmask(&setup.attributes, &none);
  if (!rc) rc = posix_spawnattr_setsigdefault(&setup.attributes, &all);
  if (!rc) {
    rc = posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  }
  if (rc) return failure(rc);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  rc = posix_spawnp(&pid, args.front(), &setup.actions, &setup.attributes, args.data(), environ);
  if (rc) return failure(rc);
  return pid;
}

}  // namespace platform
