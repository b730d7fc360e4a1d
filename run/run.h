// Run control: the command line, the debug privilege, the watch list and the
// loop over its entries.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "state/run_state.h"

namespace zw {

/// Exit code of every normal run.
inline constexpr int kExitCode = 100;

/// Name of the watch list, looked for in the current directory.
inline constexpr const char* kWatchListName = "ZEITWACHE.INI";

/// The whole program: parses `args` (argv[0] included), enables the debug
/// privilege, works through the watch list and returns the exit code.
int Main(std::span<const std::string_view> args, Platform& platform, Output& output);

/// 1 when any argument, the program name included, is "/D" or "-D" in
/// either case.
int ParseCommandLine(std::span<const std::string_view> args);

/// Enables the debug privilege on the own token. 1 when enabled, else 0 after
/// printing why; the run goes on either way.
int EnableDebugPrivilege(RunState& state);

/// The watch list's path in the current directory; nullopt when the current
/// directory cannot be read or is too long for a path of 260 bytes, and then
/// no watch list is read at all.
std::optional<std::string> WatchListPath(Platform& platform);

/// Visits the entries in number order, starting again at the first after
/// every entry that found a running process, until one pass finds none;
/// prints the process count and returns kExitCode.
int RunWatchList(RunState& state, const std::optional<std::string>& path);

}  // namespace zw
