#include "enforce/terminate.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "enforce/metrics_file.h"

namespace zw {
namespace {

constexpr std::uint32_t kAfterCommandMs = 100;
// Our kill gives up after its grace period and one second more; a command
// still running after this long is not going to end the process.
constexpr std::int64_t kCommandPatienceSeconds = 60;
// The exit code a command given up on is ended with, where the system lets
// the caller choose one.
constexpr std::uint32_t kCommandGivenUpExitCode = 1;

TargetIdentity IdentityOf(const ProcessRecord& slot) { return {slot.pid, slot.start}; }

// The slot holds the process `target` names. Without a start mark for the
// target (never measured) the pid and name must do; with one, only a slot
// that this listing could measure can hold it, so that a namesake given the
// pid is never taken for it.
bool Names(const ProcessRecord& slot, const TargetIdentity& target, const std::string& name) {
  if (slot.pid != target.pid) return false;
  if (target.start == 0) return slot.name == name;
  return slot.start == target.start;
}

bool NamesTarget(const ProcessRecord& slot, const TargetIdentity& target) {
  return slot.pid == target.pid && target.start != 0 && slot.start == target.start;
}

const ProcessRecord* FindInSnapshot(const RunState& state, const Termination& termination) {
  const Inventory& inventory = state.inventory;
  const std::size_t count =
      std::min<std::size_t>(inventory.processCount, inventory.processTable.size());
  for (std::size_t k = 0; k < count; ++k) {
    const ProcessRecord& slot = inventory.processTable[k];
    if (Names(slot, termination.target, termination.name)) return &slot;
  }
  return nullptr;
}

// Starts the command line with the target's identity handed to it, and
// only to it: the identity is taken back at once. A target whose start is
// not known is handed none. The program is found first, so that the run
// tells which ones were passed over on the way, each time.
bool StartCommand(RunState& state, const TargetIdentity& target, ProcessInformation* info,
                  std::uint32_t* error) {
  Platform& platform = state.platform;
  char commandLine[32];
  std::snprintf(commandLine, sizeof commandLine, "kill %d", AsSigned(target.pid));
  StartupInfo startup;
  startup.cb = sizeof(StartupInfo);
  startup.showWindow = kSwShow;  // not in force: flags stays 0
  bool own = false;
  std::vector<std::string> passedOver;
  const std::string program = platform.FindCommandProgram("kill", &own, &passedOver);
  for (const std::string& line : passedOver) Print(state.errors, "zeitwache: %s\n", line.c_str());
  platform.SetCommandTarget(target.start != 0 ? &target : nullptr);
  const bool started = !program.empty() && platform.CreateProcessA(program.c_str(), commandLine,
                                                                   false, 0, startup, info);
  if (!started) *error = program.empty() ? kErrorFileNotFound : platform.GetLastError();
  platform.SetCommandTarget(nullptr);
  return started;
}

}  // namespace

void ReportNotEnded(RunState& state, const std::string& name, std::uint32_t pid) {
  Print(state.output, "Prozess nicht beendet: %s, %d\n", name.c_str(), AsSigned(pid));
  state.terminations.anyNotEnded = true;
}

PassOver WhyPassOver(const RunState& state, const ProcessRecord& slot) {
  if (slot.pid == 0 || slot.pid == kPseudoPid) return PassOver::kNoProcess;
  if (slot.pid == state.platform.GetCurrentProcessId()) return PassOver::kSelf;
  if (slot.critical) return PassOver::kCritical;
  const Terminations& terminations = state.terminations;
  for (const Termination& t : terminations.pending) {
    if (t.command != Handle::kNull && t.commandPid == slot.pid) return PassOver::kOwnCommand;
  }
  for (const TargetIdentity& failed : terminations.failed) {
    if (NamesTarget(slot, failed) || (failed.start == 0 && slot.pid == failed.pid)) {
      return PassOver::kNotEnded;
    }
  }
  return PassOver::kNone;
}

const char* DescribePassOver(PassOver reason) {
  switch (reason) {
    case PassOver::kSelf:
      return "Zeitwache selbst";
    case PassOver::kNoProcess:
      return "kein Prozess";
    case PassOver::kCritical:
      return "Systemprozess";
    case PassOver::kOwnCommand:
      return "eigener kill-Befehl";
    case PassOver::kNotEnded:
      return "nicht beendet";
    case PassOver::kNone:
      break;
  }
  return "";
}

bool IsBeingTerminated(const RunState& state, const ProcessRecord& slot) {
  return std::any_of(state.terminations.pending.begin(), state.terminations.pending.end(),
                     [&](const Termination& t) {
                       return t.command != Handle::kNull && Names(slot, t.target, t.name);
                     });
}

TerminateOutcome TerminateByCommand(RunState& state, const ProcessRecord& slot,
                                    std::string_view entry, std::uint32_t* error) {
  if (WhyPassOver(state, slot) != PassOver::kNone) return TerminateOutcome::kSkipped;
  Platform& platform = state.platform;
  ProcessInformation info;
  TerminateOutcome outcome = TerminateOutcome::kStarted;
  if (StartCommand(state, IdentityOf(slot), &info, error)) {
    // The process handle stays open until the command has ended: it is how
    // the run learns that it has.
    platform.CloseHandle(info.thread);
    state.terminations.pending.push_back({IdentityOf(slot), slot.name, std::string(entry),
                                          info.process, info.processId, platform.time()});
  } else {
    state.terminations.failed.push_back(IdentityOf(slot));
    outcome = TerminateOutcome::kFailed;
  }
  platform.Sleep(kAfterCommandMs);
  return outcome;
}

void ReapTerminationCommands(RunState& state) {
  Platform& platform = state.platform;
  for (Termination& t : state.terminations.pending) {
    if (t.command == Handle::kNull) continue;
    std::uint32_t exitCode = 0;
    const CommandState command = platform.GetCommandState(t.command, &exitCode);
    const bool tooLong = platform.time() - t.startedAt >= kCommandPatienceSeconds;
    if (command == CommandState::kRunning && !tooLong) continue;
    // Given up: ended, so that it holds neither the output nor a process
    // slot, and reaped.
    if (tooLong && command != CommandState::kEnded) {
      platform.TerminateProcess(t.command, kCommandGivenUpExitCode);
    }
    if (state.verbose == 1) {
      if (command == CommandState::kEnded) {
        Print(state.output, "kill %d beendet mit %u\n", AsSigned(t.target.pid), exitCode);
      } else {
        Print(state.output, "kill %d: kein Ende abzusehen\n", AsSigned(t.target.pid));
      }
    }
    platform.CloseHandle(t.command);
    t.command = Handle::kNull;
  }
}

void JudgeTerminations(RunState& state) {
  // A failed query shows no process at all, which says nothing about
  // whether a kill worked: judged at the next check instead.
  if (state.inventory.processCount == 0) return;
  Terminations& terminations = state.terminations;
  std::erase_if(terminations.pending, [&](const Termination& t) {
    if (t.command != Handle::kNull) return false;
    const bool ended = FindInSnapshot(state, t) == nullptr;
    if (!ended) {
      ReportNotEnded(state, t.name, t.target.pid);
      terminations.failed.push_back(t.target);
    }
    CountTermination(state, t.entry,
                     ended ? TerminationResult::kEnded : TerminationResult::kNotEnded);
    return true;
  });
}

}  // namespace zw
