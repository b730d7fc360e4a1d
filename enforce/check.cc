#include "enforce/check.h"

#include <cstdio>

#include "base/ascii.h"
#include "enforce/marking.h"
#include "inventory/inventory.h"

namespace zw {
namespace {

constexpr std::uint32_t kWaitMs = 5000;
constexpr std::uint32_t kAfterTerminationMs = 2000;
constexpr std::uint32_t kAfterCommandMs = 100;

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

void Terminate(RunState& state, const ProcessRecord& slot) {
  std::uint32_t error = 0;
  const TerminateOutcome outcome = TerminateByCommand(state, slot.pid, &error);
  std::uint32_t companionError = 0;
  TerminateByCommand(state, state.inventory.companionPid, &companionError);
  if (outcome == TerminateOutcome::kStarted) {
    Print(state.output, "Prozess beendet: %s, %d  (Laufzeit= %lld Sekunden)\n", slot.name.c_str(),
          AsSigned(slot.pid), AsLong(slot.runTime));
  } else if (outcome == TerminateOutcome::kFailed) {
    Print(state.output, "CreateProcess failed with %d\n", AsSigned(error));
  }
}

void PrintFound(RunState& state, const ProcessRecord& slot) {
  Print(state.output, "Prozess gefunden %s, %d (Laufzeit= %lld Sekunden)\n", slot.name.c_str(),
        AsSigned(slot.pid), AsLong(slot.runTime));
}

}  // namespace

void SurveyProcesses(RunState& state, std::string& name) {
  Platform& platform = state.platform;
  Inventory& inventory = state.inventory;
  inventory.processCount = TakeProcessSnapshot(platform, state.output, inventory);
  // Patterns are written in upper case, as the matcher folds only the text.
  UpperCaseInPlace(name);
  CaptureWindows(platform, inventory.processTable, inventory.processCount);
  if (IsPattern(name)) {
    MarkProcesses(platform, inventory.processTable, inventory.processCount, name);
  }
  MeasureRunTimes(platform, inventory);
}

ProcessRecord* FindWatchedProcess(RunState& state, std::string& name) {
  Inventory& inventory = state.inventory;
  UpperCaseInPlace(name);
  const bool pattern = IsPattern(name);
  for (std::uint32_t i = 0; i < inventory.processCount; ++i) {
    ProcessRecord& slot = inventory.processTable[i];
    if (state.verbose == 1 && state.listingDone == 0) PrintListingLine(state, slot, name);
    if (Matches(slot, name, pattern)) return &slot;
  }
  state.listingDone = 1;
  return nullptr;
}

Verdict Decide(const ProcessRecord& slot, std::uint32_t limit) {
  return static_cast<std::uint64_t>(slot.runTime) < limit ? Verdict::kWait : Verdict::kTerminate;
}

bool NamesAProcess(std::uint32_t pid) { return pid != 0 && pid != kPseudoPid; }

CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit) {
  SurveyProcesses(state, name);
  const ProcessRecord* slot = FindWatchedProcess(state, name);
  if (slot == nullptr) return CheckResult::kNoProcess;
  if (state.verbose == 1) PrintFound(state, *slot);
  if (Decide(*slot, limit) == Verdict::kWait) {
    if (state.verbose == 1) Print(state.output, "Wait 5 sek\n");
    state.platform.Sleep(kWaitMs);
    return CheckResult::kHandled;
  }
  Terminate(state, *slot);
  if (state.verbose == 1) Print(state.output, "Wait 2 sek\n");
  state.platform.Sleep(kAfterTerminationMs);
  return CheckResult::kHandled;
}

void DryCheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit) {
  SurveyProcesses(state, name);
  const ProcessRecord* slot = FindWatchedProcess(state, name);
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
  const std::uint32_t companion = state.inventory.companionPid;
  if (NamesAProcess(companion) && companion != slot->pid) {
    Print(state.output, "Wuerde mitbeenden: %s, %d\n", kCompanionName, AsSigned(companion));
  }
}

TerminateOutcome TerminateByCommand(RunState& state, std::uint32_t pid, std::uint32_t* error) {
  if (!NamesAProcess(pid)) return TerminateOutcome::kSkipped;
  Platform& platform = state.platform;
  char commandLine[32];
  std::snprintf(commandLine, sizeof commandLine, "kill %d", AsSigned(pid));
  StartupInfo startup;
  startup.cb = sizeof(StartupInfo);
  startup.showWindow = kSwShow;  // not in force: flags stays 0
  ProcessInformation info;
  TerminateOutcome outcome = TerminateOutcome::kStarted;
  if (platform.CreateProcessA(nullptr, commandLine, false, 0, startup, &info)) {
    platform.CloseHandle(info.thread);
    platform.CloseHandle(info.process);
  } else {
    *error = platform.GetLastError();
    outcome = TerminateOutcome::kFailed;
  }
  platform.Sleep(kAfterCommandMs);
  return outcome;
}

}  // namespace zw
