// Run control: the command line, the debug privilege, the watch list and the
// loop over its entries.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "enforce/run_state.h"

namespace zw {

/// Exit code of a run that leaves no watched program running that it could
/// end.
inline constexpr int kExitCode = 100;

/// Exit code of a run that finished, but could not end at least one overdue
/// process ("Prozess nicht beendet").
inline constexpr int kExitCodeNotEnded = 101;
/// Exit code of a run or dry run that could not read the process list, a
/// run after kListAttempts failures in a row: it cannot tell whether a
/// watched program still runs, so it must not look like a normal end.
inline constexpr int kExitCodeNoProcessList = 102;

/// Exit code of help, version and the dry run, which terminate nothing.
inline constexpr int kExitCodeNoRun = 0;

/// Exit code of a command line with a long option the tool does not know.
inline constexpr int kExitCodeUsage = 2;

/// Exit code of a privileged run whose watch list others could change:
/// nothing is matched or ended.
inline constexpr int kExitCodeListRefused = 2;

/// Name of the watch list, looked for in the current directory.
inline constexpr const char* kWatchListName = "ZEITWACHE.INI";

/// What the command line asks for. The modes are ordered by precedence:
/// when several are given, a refusal wins over everything, help over
/// version, version over the check and the check over the dry run, so that
/// a command line that asks for anything but the watch run never acts.
enum class Mode {
  /// No option: the watch run.
  kWatch,
  /// "--dry-run": one pass that tells what the watch run would do now.
  kDryRun,
  /// "--check": the watch list as a run reads it, and what is wrong with it.
  kCheck,
  /// "--version": the name and version.
  kVersion,
  /// "--help", "-h", "-?" or "/?": the usage text.
  kHelp,
  /// A long option the tool does not know, or one of its own in a spelling
  /// it does not take: refused, nothing done.
  kUnknownOption,
};

struct CommandLine {
  /// 1 when the trace is asked for ("/D" or "-D" in either case).
  int verbose = 0;
  Mode mode = Mode::kWatch;
  /// Why the command line is refused, with kUnknownOption: "unknown option
  /// --dryrun".
  std::string refusal;
  /// The list "--check" is to read instead of the current directory's.
  std::optional<std::string> checkFile;
  /// "--metrics FILE" (or "/metrics FILE"): where a watch run keeps its
  /// figures for Prometheus.
  std::optional<std::string> metricsPath;
};

/// The whole program: parses `args` (argv[0] included). Help and version are
/// printed before anything else, without reading the watch list or touching
/// a process. Otherwise enables the debug privilege and works through the
/// watch list, for real or as a dry run, and returns the exit code.
/// Diagnostics (a refused option, notes on the watch list) go to `errors`.
int Main(std::span<const std::string_view> args, Platform& platform, Output& output,
         Output& errors);

/// Examines every argument: "/D" and "-D" in either case switch on the
/// trace, the program name included. Each long option (help, version,
/// check, dry-run, metrics) is taken as "--name" exactly as written or
/// "/name" in any letter case; "-name" and a bare "name" of one of them, in
/// any case, and any other argument that starts with "--" and has more after
/// it, refuse the command line. "-h", "-?" and "/?" ask for help. "--check"
/// takes the next argument as the list to check unless it is one of the
/// tool's own; "--metrics" takes the next argument, whatever it is, as its
/// file, and is refused without one (or with an empty one).
/// A bare "--" and every other argument are ignored. Arguments of any length
/// are safe.
CommandLine ParseCommandLine(std::span<const std::string_view> args);

/// Enables the debug privilege on the own token. 1 when enabled, else 0 after
/// printing why; the run goes on either way.
int EnableDebugPrivilege(RunState& state);

/// The watch list's path in the current directory; nullopt when the current
/// directory cannot be read or is too long for a path of 260 bytes, and then
/// no watch list is read at all.
std::optional<std::string> WatchListPath(Platform& platform);

/// The path of the list `file` given to "--check": as it is when absolute,
/// else in the current directory; nullopt when that cannot be read.
std::optional<std::string> GivenListPath(Platform& platform, const std::string& file);

/// Visits the entries in number order, starting again at the first after
/// every entry that found a running process, until one pass finds none;
/// prints the process count and returns kExitCode, or kExitCodeNotEnded
/// when a process could not be ended. Returns kExitCodeNoProcessList, after
/// one line on the error sink, when a check cannot read the process list.
int RunWatchList(RunState& state, const std::optional<std::string>& path);

/// Visits every entry once, in number order up to the end of the list as the
/// watch run does, and tells for each what the watch run would do now;
/// terminates nothing, starts no command, never pauses. Prints the process
/// count and returns kExitCodeNoRun; kExitCodeNoProcessList as a run does.
int DryRunWatchList(RunState& state, const std::optional<std::string>& path);

}  // namespace zw
