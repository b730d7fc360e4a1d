#include "enforce/check.h"

#include <algorithm>
#include <utility>

#include "base/ascii.h"
#include "enforce/marking.h"
#include "enforce/terminate.h"
#include "inventory/inventory.h"
#include "enforce/metrics_file.h"

namespace zw {
namespace {

constexpr std::uint32_t kWaitMs = 5000;
constexpr std::uint32_t kAfterTerminationMs = 2000;

long long AsLong(std::int64_t value) { return static_cast<long long>(value); }

void PrintListingLine(RunState& state, ProcessRecord& slot, std::string& name) {
  UpperCaseInPlace(slot.name);
  UpperCaseInPlace(name);
  Print(state.output, "Prozess: /%s/%d/%lld/%s/\n", slot.name.c_str(), AsSigned(slot.pid),
        AsLong(slot.runTime), name.c_str());
}

// Upper-cases the slot's name whichever way it is matched, so a matching
// process is reported in upper case even when it could not be measured.
bool Matches(ProcessRecord& slot, const std::string& name, bool pattern) {
  UpperCaseInPlace(slot.name);
  if (pattern) return slot.mark == 1;
  return slot.name.starts_with(name);
}

void ReportStartFailure(RunState& state, const ProcessRecord& slot, std::uint32_t error) {
  Print(state.output, "CreateProcess failed with %d\n", AsSigned(error));
  ReportNotEnded(state, slot.name, slot.pid);
}

// The companion counts under the entry it was ended for.
void Terminate(RunState& state, const ProcessRecord& slot, const std::string& entry) {
  // A request to stop the run waits until the lines for the commands
  // started are out, so that no termination goes unlogged.
  state.platform.HoldTermination(true);
  std::uint32_t error = 0;
  const TerminateOutcome outcome = TerminateByCommand(state, slot, entry, &error);
  const ProcessRecord* companion = CompanionToEnd(state, slot);
  std::uint32_t companionError = 0;
  const TerminateOutcome companionOutcome =
      companion != nullptr ? TerminateByCommand(state, *companion, entry, &companionError)
                           : TerminateOutcome::kSkipped;
  if (outcome == TerminateOutcome::kStarted) {
    Print(state.output, "Prozess beendet: %s, %d  (Laufzeit= %lld Sekunden)\n", slot.name.c_str(),
          AsSigned(slot.pid), AsLong(slot.runTime));
  } else if (outcome == TerminateOutcome::kFailed) {
    ReportStartFailure(state, slot, error);
  }
  if (companionOutcome == TerminateOutcome::kFailed) {
    ReportStartFailure(state, *companion, companionError);
  }
  state.platform.HoldTermination(false);
  // A started kill is counted once the next snapshot has judged it.
  for (const TerminateOutcome result : {outcome, companionOutcome}) {
    if (result == TerminateOutcome::kFailed) {
      CountTermination(state, entry, TerminationResult::kNotStarted);
    }
  }
}

void PauseAfterTermination(RunState& state) {
  if (state.verbose == 1) Print(state.output, "Wait 2 sek\n");
  state.platform.Sleep(kAfterTerminationMs);
}

}  // namespace

const ProcessRecord* CompanionToEnd(RunState& state, const ProcessRecord& slot) {
  const Inventory& inventory = state.inventory;
  const std::uint32_t companion = inventory.companionPid;
  if (companion == 0 || companion == slot.pid) return nullptr;
  const std::size_t count =
      std::min<std::size_t>(inventory.processCount, inventory.processTable.size());
  for (std::size_t k = count; k-- > 0;) {
    const ProcessRecord& candidate = inventory.processTable[k];
    if (candidate.pid != companion || candidate.name != kCompanionName) continue;
    if (IsBeingTerminated(state, candidate)) return nullptr;
    return WhyPassOver(state, candidate) == PassOver::kNone ? &candidate : nullptr;
  }
  return nullptr;
}

void PrintFound(RunState& state, const ProcessRecord& slot) {
  Print(state.output, "Prozess gefunden %s, %d (Laufzeit= %lld Sekunden)\n", slot.name.c_str(),
        AsSigned(slot.pid), AsLong(slot.runTime));
}

bool SurveyProcesses(RunState& state, std::string& name) {
  Platform& platform = state.platform;
  Inventory& inventory = state.inventory;
  // Commands that have ended are closed first, so that the snapshot is
  // judged against what they did.
  ReapTerminationCommands(state);
  inventory.processCount = TakeProcessSnapshot(platform, state.output, inventory);
  if (inventory.listError != kErrorSuccess) {
    if (inventory.listError == static_cast<std::uint32_t>(kErrorNotEnoughMemory)) {
      Print(state.errors, "zeitwache: the process list is too large to read (error %u)\n",
            inventory.listError);
    }
    return false;
  }
  // Patterns are written in upper case, as the matcher folds only the text.
  UpperCaseInPlace(name);
  CaptureWindows(platform, inventory.processTable, inventory.processCount);
  if (IsPattern(name)) {
    MarkProcesses(platform, inventory.processTable, inventory.processCount, name);
  }
  MeasureRunTimes(platform, inventory);
  return true;
}

std::optional<std::uint32_t> NextWatchedProcess(RunState& state, std::string& name,
                                                std::uint32_t from, bool tellPassedOver,
                                                std::optional<std::uint32_t>* beingEnded) {
  Inventory& inventory = state.inventory;
  UpperCaseInPlace(name);
  const bool pattern = IsPattern(name);
  bool firstMatch = from == 0;
  for (std::uint32_t i = from; i < inventory.processCount; ++i) {
    ProcessRecord& slot = inventory.processTable[i];
    if (state.verbose == 1 && state.listingDone == 0) PrintListingLine(state, slot, name);
    if (!Matches(slot, name, pattern)) continue;
    const PassOver reason = WhyPassOver(state, slot);
    const bool wasFirst = std::exchange(firstMatch, false);
    if (reason == PassOver::kNone && !IsBeingTerminated(state, slot)) return i;
    if (reason == PassOver::kNone) {
      // A kill under way must not hold up the matches after it.
      if (beingEnded != nullptr && !*beingEnded) *beingEnded = i;
    } else if (reason == PassOver::kNoProcess && wasFirst) {
      // An entry that names the idle or summary entry first (the empty name,
      // "*", a prefix of IDLE) names no program: passing over would widen it
      // to whatever process follows.
      return std::nullopt;
    } else if (tellPassedOver) {
      Print(state.output, "Prozess uebergangen: %s, %d (%s)\n", slot.name.c_str(),
            AsSigned(slot.pid), DescribePassOver(reason));
    }
  }
  return std::nullopt;
}

ProcessRecord* FindWatchedProcess(RunState& state, std::string& name, bool tellPassedOver) {
  std::optional<std::uint32_t> beingEnded;
  std::optional<std::uint32_t> found =
      NextWatchedProcess(state, name, 0, tellPassedOver, &beingEnded);
  if (!found) found = beingEnded;
  if (found) return &state.inventory.processTable[*found];
  state.listingDone = 1;
  return nullptr;
}

Verdict Decide(const ProcessRecord& slot, std::uint32_t limit) {
  return static_cast<std::uint64_t>(slot.runTime) < limit ? Verdict::kWait : Verdict::kTerminate;
}

CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit) {
  // A list that cannot be read says nothing, not even that nothing runs.
  for (int attempt = 1; !SurveyProcesses(state, name); ++attempt) {
    if (attempt == kListAttempts) return CheckResult::kNoProcessList;
    state.platform.Sleep(kListRetryMs);
  }
  JudgeTerminations(state);
  const ProcessRecord* slot = FindWatchedProcess(state, name, state.verbose == 1);
  if (slot == nullptr) return CheckResult::kNoProcess;
  if (state.verbose == 1) PrintFound(state, *slot);
  if (IsBeingTerminated(state, *slot)) {
    // Its kill is still at work: a second one would only repeat SIGTERM.
    if (state.verbose == 1) {
      Print(state.output, "Prozess wird beendet: %s, %d\n", slot->name.c_str(),
            AsSigned(slot->pid));
    }
    PauseAfterTermination(state);
    return CheckResult::kHandled;
  }
  if (Decide(*slot, limit) == Verdict::kWait) {
    if (state.verbose == 1) Print(state.output, "Wait 5 sek\n");
    state.platform.Sleep(kWaitMs);
    return CheckResult::kHandled;
  }
  Terminate(state, *slot, name);
  PauseAfterTermination(state);
  return CheckResult::kHandled;
}

}  // namespace zw
