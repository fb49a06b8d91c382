#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace platform {

// Starts `argv` (argv[0] a path, or a name looked up in PATH) as a child in a
// session of its own: standard input from /dev/null, output inherited, no
// other descriptors, default signal handling and an empty signal mask, in
// `workingDirectory` when given. Fails when the program cannot be started
// (not found, not executable, bad working directory).
base::Result<pid_t> spawnProcess(const std::vector<std::string>& argv,
                                 const std::optional<std::string>& workingDirectory);

}  // namespace platform
