// The subcommands of trevlinctl. Each lives in a file of its own, takes the
// arguments that follow its name and returns the process's exit status; main
// dispatches on the name through the table in main.cpp.
#pragma once

#include <string>
#include <vector>

namespace trevlinctl {

using Args = std::vector<std::string>;

/// `apps [--seconds N] [--json]`: samples for N seconds and prints the rows.
int runApps(const Args& args);

/// `limit KEY --cores N [--method M] [...]`: holds one app or group in the
/// foreground until SIGINT, SIGTERM or SIGHUP, then restores it.
int runLimit(const Args& args);

/// `recover`: continues what the journals of dead runs left stopped.
int runRecover(const Args& args);

/// Prints "trevlinctl: <message>" and the usage text to standard error and
/// returns 2, the status for bad arguments.
int usageError(const std::string& message);

}  // namespace trevlinctl
