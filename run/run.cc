#include "run/run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "enforce/check.h"
#include "enforce/dry_run.h"
#include "enforce/metrics_file.h"
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
    "Usage: zeitwache [/D] [--dry-run | --check [FILE]]\n"
    "       zeitwache --help | --version\n";

// Follows kShortUsage in the help text.
constexpr std::string_view kUsageText =
    "Watches the programs listed in ZEITWACHE.INI in the current directory and\n"
    "terminates those that run longer than their limit.\n"
    "  /D, -D          detailed trace\n"
    "  --dry-run       show what a run would do now; terminate nothing, exit 0\n"
    "  --check [FILE]  check the watch list FILE (default: the current\n"
    "                  directory's); terminate nothing; exit 0 when sound,\n"
    "                  1 with findings, 2 without a readable list\n"
    "  --metrics FILE  in a run, keep figures for Prometheus in FILE\n"
    "  --help          this text (also -h, -? and /?)\n"
    "  --version       name and version\n"
    "Each long option may also be written /NAME in any letter case; -NAME and\n"
    "NAME are refused.\n"
    "Exit status of a run: 100 when no watched program is left running that it\n"
    "could end; 101 when at least one overdue process could not be ended;\n"
    "102 when the process list could not be read; 2 for a refused command line\n"
    "or watch list; 128+N when ended by signal N.\n";

void PrintCheckTrace(RunState& state, const WatchEntry& entry) {
  Print(state.output, "Pruefe %s (MaxRunTime = %d)\n", entry.name.c_str(),
        static_cast<int>(entry.limit));
}

int EndWithoutProcessList(RunState& state) {
  Print(state.errors,
        "zeitwache: the process list cannot be read (error %u); nothing more is decided\n",
        state.inventory.listError);
  return kExitCodeNoProcessList;
}

void PrintSummary(RunState& state) {
  Print(state.output, "Anzahl Prozesse %d\n", static_cast<int>(state.inventory.processCount));
}

}  // namespace

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

std::optional<std::string> GivenListPath(Platform& platform, const std::string& file) {
  const char separator = platform.PathSeparator();
  const bool absolute = file.starts_with(separator) || file.starts_with('/') ||
                        (separator == '\\' && file.size() > 1 && file[1] == ':');
  if (absolute) return file;
  std::vector<char> directory(kPathBufferSize);
  std::uint32_t length = platform.GetCurrentDirectoryA(kPathBufferSize, directory.data());
  if (length >= kPathBufferSize) {
    directory.resize(length);
    length = platform.GetCurrentDirectoryA(length, directory.data());
  }
  // A relative name is never handed on: the profile reader of Windows would
  // look for it in the system's directory.
  if (length == 0 || length >= directory.size()) return std::nullopt;
  return std::string(directory.data(), length) + separator + file;
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
      const CheckResult result = CheckWatchEntry(state, entry.name, limit);
      if (result == CheckResult::kNoProcessList) return EndWithoutProcessList(state);
      if (result == CheckResult::kHandled) n = 0;
    }
    if (EndsList(entry, n)) break;
  }
  PrintSummary(state);
  return state.terminations.anyNotEnded ? kExitCodeNotEnded : kExitCode;
}

int DryRunWatchList(RunState& state, const std::optional<std::string>& path) {
  bool own = false;
  TellKillCommand(state, &own);
  DryRunNotes notes;
  for (unsigned n = 1; path; ++n) {
    WatchEntry entry = ReadEntry(state.platform, *path, n);
    if (entry.limit != 0) {
      PrintCheckTrace(state, entry);
      if (!DryCheckWatchEntry(state, entry.name, static_cast<std::uint32_t>(entry.limit), notes)) {
        return EndWithoutProcessList(state);
      }
    }
    if (EndsList(entry, n)) break;
  }
  PrintSummary(state);
  return kExitCodeNoRun;
}

namespace {

// The modes that only print text: the exit code, or nullopt for the others.
std::optional<int> AnswerWithoutRun(const CommandLine& commandLine, Output& output,
                                    Output& errors) {
  if (commandLine.mode == Mode::kUnknownOption) {
    Print(errors, "zeitwache: %s\n", commandLine.refusal.c_str());
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
  return std::nullopt;
}

}  // namespace

int Main(std::span<const std::string_view> args, Platform& platform, Output& output,
         Output& errors) {
  const CommandLine commandLine = ParseCommandLine(args);
  if (const std::optional<int> exitCode = AnswerWithoutRun(commandLine, output, errors)) {
    return *exitCode;
  }
  RunState state(platform, output, errors);
  state.verbose = commandLine.verbose;
  if (commandLine.mode == Mode::kWatch && commandLine.metricsPath) {
    StartMetrics(state, *commandLine.metricsPath);
  }
  const bool dryRun = commandLine.mode == Mode::kDryRun;
  // Said first, before any privilege message, so that nobody reading the
  // output can take it for a watch run.
  if (dryRun) Print(output, "Probelauf: es wird nichts beendet\n");
  if (commandLine.mode == Mode::kCheck) Print(output, "Listenpruefung: es wird nichts beendet\n");
  // A dry run should see what the watch run sees; the privilege only widens
  // what can be measured.
  const int privileged = EnableDebugPrivilege(state);
  if (commandLine.mode == Mode::kCheck) {
    const std::optional<std::string>& file = commandLine.checkFile;
    return CheckWatchList(state, file ? GivenListPath(platform, *file) : WatchListPath(platform),
                          privileged == 1);
  }
  const std::optional<std::string> path = WatchListPath(platform);
  const bool refused = !NoteListProblems(state, path, privileged == 1);
  if (dryRun) return refused ? kExitCodeListRefused : DryRunWatchList(state, path);
  // Every way a watch run ends passes here, a refused list included, so the
  // file always has the code the run returns.
  const int exitCode = refused ? kExitCodeListRefused : RunWatchList(state, path);
  FinishMetrics(state, exitCode);
  return exitCode;
}

}  // namespace zw
