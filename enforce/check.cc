#include "enforce/check.h"

#include <algorithm>

#include "base/ascii.h"
#include "enforce/marking.h"
#include "enforce/terminate.h"
#include "inventory/inventory.h"
#include "report/metrics_file.h"

namespace zw {
namespace {

constexpr std::uint32_t kWaitMs = 5000;
constexpr std::uint32_t kAfterTerminationMs = 2000;

int AsSigned(std::uint32_t value) { return static_cast<int>(value); }
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

// The companion's slot in the current snapshot, when it is to be ended with
// `slot`: not the same process, not already being ended, not passed over.
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

void ReportStartFailure(RunState& state, const ProcessRecord& slot, std::uint32_t error) {
  Print(state.output, "CreateProcess failed with %d\n", AsSigned(error));
  Print(state.output, "Prozess nicht beendet: %s, %d\n", slot.name.c_str(), AsSigned(slot.pid));
}

// The companion counts under the entry it was ended for.
void Terminate(RunState& state, const ProcessRecord& slot, const std::string& entry) {
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

void PrintFound(RunState& state, const ProcessRecord& slot) {
  Print(state.output, "Prozess gefunden %s, %d (Laufzeit= %lld Sekunden)\n", slot.name.c_str(),
        AsSigned(slot.pid), AsLong(slot.runTime));
}

}  // namespace

void SurveyProcesses(RunState& state, std::string& name) {
  Platform& platform = state.platform;
  Inventory& inventory = state.inventory;
  // Commands that have ended are closed first, so that the snapshot is
  // judged against what they did.
  ReapTerminationCommands(state);
  inventory.processCount = TakeProcessSnapshot(platform, state.output, inventory);
  // Patterns are written in upper case, as the matcher folds only the text.
  UpperCaseInPlace(name);
  CaptureWindows(platform, inventory.processTable, inventory.processCount);
  if (IsPattern(name)) {
    MarkProcesses(platform, inventory.processTable, inventory.processCount, name);
  }
  MeasureRunTimes(platform, inventory);
}

ProcessRecord* FindWatchedProcess(RunState& state, std::string& name, bool tellPassedOver) {
  Inventory& inventory = state.inventory;
  UpperCaseInPlace(name);
  const bool pattern = IsPattern(name);
  for (std::uint32_t i = 0; i < inventory.processCount; ++i) {
    ProcessRecord& slot = inventory.processTable[i];
    if (state.verbose == 1 && state.listingDone == 0) PrintListingLine(state, slot, name);
    if (!Matches(slot, name, pattern)) continue;
    const PassOver reason = WhyPassOver(state, slot);
    if (reason == PassOver::kNone) return &slot;
    if (tellPassedOver) {
      Print(state.output, "Prozess uebergangen: %s, %d (%s)\n", slot.name.c_str(),
            AsSigned(slot.pid), DescribePassOver(reason));
    }
  }
  state.listingDone = 1;
  return nullptr;
}

Verdict Decide(const ProcessRecord& slot, std::uint32_t limit) {
  return static_cast<std::uint64_t>(slot.runTime) < limit ? Verdict::kWait : Verdict::kTerminate;
}

CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit) {
  SurveyProcesses(state, name);
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

void DryCheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit) {
  SurveyProcesses(state, name);
  const ProcessRecord* slot = FindWatchedProcess(state, name, true);
  if (slot == nullptr) {
    Print(state.output, "Kein Prozess gefunden\n");
    return;
  }
  PrintFound(state, *slot);
  if (Decide(*slot, limit) == Verdict::kWait) {
    Print(state.output, "Wuerde warten\n");
    return;
  }
  Print(state.output, "Wuerde beenden: %s, %d\n", slot->name.c_str(), AsSigned(slot->pid));
  if (const ProcessRecord* companion = CompanionToEnd(state, *slot)) {
    Print(state.output, "Wuerde mitbeenden: %s, %d\n", kCompanionName, AsSigned(companion->pid));
  }
}

}  // namespace zw
