#include "run/run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "enforce/check.h"
#include "report/metrics_file.h"
#include "run/list_check.h"
#include "run/watch_list.h"

namespace zw {
namespace {

constexpr std::uint32_t kPathBufferSize = 260;

#ifndef ZW_VERSION
#error "ZW_VERSION must hold the project version"
#endif
constexpr std::string_view kVersionText = "zeitwache " ZW_VERSION "\n";

constexpr std::string_view kShortUsage =
    "Usage: zeitwache [/D] [--dry-run | --check]\n"
    "       zeitwache --help | --version\n";

// Follows kShortUsage in the help text.
constexpr std::string_view kUsageText =
    "Watches the programs listed in ZEITWACHE.INI in the current directory and\n"
    "terminates those that run longer than their limit; exits with 100 when none\n"
    "of them runs any more.\n"
    "  /D, -D      detailed trace\n"
    "  --dry-run   show what a run would do now; terminate nothing, exit 0\n"
    "  --check     check the watch list; terminate nothing; exit 0 when sound,\n"
    "              1 with findings, 2 without a readable list\n"
    "  --metrics FILE  in a run, keep figures for Prometheus in FILE (also /metrics)\n"
    "  --help      this text (also -h, -? and /?)\n"
    "  --version   name and version\n";

bool IsVerboseSwitch(std::string_view arg) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] == 'D' || arg[1] == 'd');
}

Mode ModeOf(std::string_view arg) {
  if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "/?") return Mode::kHelp;
  if (arg == "--version") return Mode::kVersion;
  if (arg == "--dry-run") return Mode::kDryRun;
  if (arg == "--check") return Mode::kCheck;
  return Mode::kWatch;
}

void PrintCheckTrace(RunState& state, const WatchEntry& entry) {
  Print(state.output, "Pruefe %s (MaxRunTime = %d)\n", entry.name.c_str(),
        static_cast<int>(entry.limit));
}

void PrintSummary(RunState& state) {
  Print(state.output, "Anzahl Prozesse %d\n", static_cast<int>(state.inventory.processCount));
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine commandLine;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (i > 0 && (arg == "--metrics" || arg == "/metrics")) {
      // The value is a file name, never an option, whatever it looks like.
      if (i + 1 < args.size() && !args[i + 1].empty()) {
        commandLine.metricsPath = args[++i];
        continue;
      }
      if (commandLine.mode < Mode::kMissingValue) commandLine.unknownOption = arg;
      commandLine.mode = std::max(commandLine.mode, Mode::kMissingValue);
      continue;
    }
    if (IsVerboseSwitch(arg)) commandLine.verbose = 1;
    Mode mode = ModeOf(arg);
    // A misspelt option must not become a run; the program name is no option.
    if (i > 0 && mode == Mode::kWatch && arg.size() > 2 && arg.starts_with("--")) {
      mode = Mode::kUnknownOption;
      if (commandLine.mode < mode) commandLine.unknownOption = arg;
    }
    commandLine.mode = std::max(commandLine.mode, mode);
  }
  return commandLine;
}

int EnableDebugPrivilege(RunState& state) {
  Platform& platform = state.platform;
  // The token stays open for the life of the process; the privilege lives
  // in it.
  Handle token = Handle::kNull;
  if (!platform.OpenProcessToken(platform.GetCurrentProcess(), kTokenAdjustPrivileges | kTokenQuery,
                                 &token)) {
    Print(state.output, "OpenProcessToken failed with %d\n",
          static_cast<int>(platform.GetLastError()));
    return 0;
  }
  Luid luid;
  if (!platform.LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid)) {
    Print(state.output, "LookupPrivilegeValue failed with %d\n",
          static_cast<int>(platform.GetLastError()));
    return 0;
  }
  // The call succeeds even when the privilege was not given; only the last
  // error tells.
  platform.AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled);
  const std::uint32_t error = platform.GetLastError();
  if (error != 0) {
    Print(state.output, "AdjustTokenPrivileges failed with %d\n", static_cast<int>(error));
    return 0;
  }
  return 1;
}

std::optional<std::string> WatchListPath(Platform& platform) {
  char directory[kPathBufferSize];
  const std::uint32_t length = platform.GetCurrentDirectoryA(sizeof directory, directory);
  const std::size_t nameLength = std::char_traits<char>::length(kWatchListName);
  // Room for the separator, the name and the terminator.
  if (length == 0 || length + 1 + nameLength + 1 > kPathBufferSize) return std::nullopt;
  std::string path(directory, length);
  path += platform.PathSeparator();
  path += kWatchListName;
  return path;
}

int RunWatchList(RunState& state, const std::optional<std::string>& path) {
  unsigned n = 0;
  while (path) {
    ++n;
    WatchEntry entry = ReadEntry(state.platform, *path, n);
    if (entry.limit != 0) {
      NoteWatchEntry(state, n, entry.name);
      if (state.verbose == 1) PrintCheckTrace(state, entry);
      const auto limit = static_cast<std::uint32_t>(entry.limit);
      if (CheckWatchEntry(state, entry.name, limit) == CheckResult::kHandled) n = 0;
    }
    if (EndsList(entry, n)) break;
  }
  PrintSummary(state);
  return kExitCode;
}

int DryRunWatchList(RunState& state, const std::optional<std::string>& path) {
  for (unsigned n = 1; path; ++n) {
    WatchEntry entry = ReadEntry(state.platform, *path, n);
    if (entry.limit != 0) {
      PrintCheckTrace(state, entry);
      DryCheckWatchEntry(state, entry.name, static_cast<std::uint32_t>(entry.limit));
    }
    if (EndsList(entry, n)) break;
  }
  PrintSummary(state);
  return kExitCodeNoRun;
}

int Main(std::span<const std::string_view> args, Platform& platform, Output& output,
         Output& errors) {
  const CommandLine commandLine = ParseCommandLine(args);
  if (commandLine.mode == Mode::kUnknownOption) {
    // Cut, so that a huge argument cannot flood the log.
    Print(errors, "zeitwache: unknown option %.64s\n", commandLine.unknownOption.c_str());
    errors.Write(kShortUsage);
    return kExitCodeUsage;
  }
  if (commandLine.mode == Mode::kMissingValue) {
    Print(errors, "zeitwache: option %s needs a file name\n", commandLine.unknownOption.c_str());
    errors.Write(kShortUsage);
    return kExitCodeUsage;
  }
  if (commandLine.mode == Mode::kHelp) {
    output.Write(kShortUsage);
    output.Write(kUsageText);
    return kExitCodeNoRun;
  }
  if (commandLine.mode == Mode::kVersion) {
    output.Write(kVersionText);
    return kExitCodeNoRun;
  }
  RunState state(platform, output, errors);
  state.verbose = commandLine.verbose;
  if (commandLine.mode == Mode::kWatch && !commandLine.metricsPath.empty()) {
    StartMetrics(state, commandLine.metricsPath);
  }
  const bool dryRun = commandLine.mode == Mode::kDryRun;
  // Said first, before any privilege message, so that nobody reading the
  // output can take it for a watch run.
  if (dryRun) Print(output, "Probelauf: es wird nichts beendet\n");
  if (commandLine.mode == Mode::kCheck) Print(output, "Listenpruefung: es wird nichts beendet\n");
  // A dry run should see what the watch run sees; the privilege only widens
  // what can be measured.
  const int privileged = EnableDebugPrivilege(state);
  const std::optional<std::string> path = WatchListPath(platform);
  if (commandLine.mode == Mode::kCheck) return CheckWatchList(state, path, privileged == 1);
  NoteListProblems(state, path, privileged == 1);
  if (dryRun) return DryRunWatchList(state, path);
  // Every way a watch run ends passes here, so the file always has the
  // code the run returns.
  const int exitCode = RunWatchList(state, path);
  FinishMetrics(state, exitCode);
  return exitCode;
}

}  // namespace zw
