#include "enforce/check.h"

#include <cstdio>

#include "enforce/marking.h"
#include "inventory/process_table.h"
#include "platform/common/ascii.h"

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

bool Matches(ProcessRecord& slot, std::string& name, bool pattern) {
  if (pattern) return slot.mark == 1;
  UpperCaseInPlace(slot.name);
  UpperCaseInPlace(name);
  return slot.name.starts_with(name);
}

// The first slot of the current snapshot that the entry matches, printing
// the listing on the way while it is still wanted.
ProcessRecord* ScanForMatch(RunState& state, std::string& name, bool pattern) {
  Inventory& inventory = state.inventory;
  for (std::uint32_t i = 0; i < inventory.processCount; ++i) {
    ProcessRecord& slot = inventory.processTable[i];
    if (state.verbose == 1 && state.listingDone == 0) PrintListingLine(state, slot, name);
    if (Matches(slot, name, pattern)) return &slot;
  }
  return nullptr;
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

}  // namespace

CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit) {
  Platform& platform = state.platform;
  Inventory& inventory = state.inventory;
  inventory.processCount = TakeProcessSnapshot(platform, state.output, inventory);

  // Patterns are written in upper case, as the matcher folds only the text.
  UpperCaseInPlace(name);
  const bool pattern = IsPattern(name);
  CaptureWindows(platform, inventory.processTable, inventory.processCount);
  if (pattern) MarkProcesses(platform, inventory.processTable, inventory.processCount, name);

  MeasureRunTimes(platform, inventory);

  ProcessRecord* slot = ScanForMatch(state, name, pattern);
  if (slot == nullptr) {
    state.listingDone = 1;
    return CheckResult::kNoProcess;
  }
  if (state.verbose == 1) {
    Print(state.output, "Prozess gefunden %s, %d (Laufzeit= %lld Sekunden)\n", slot->name.c_str(),
          AsSigned(slot->pid), AsLong(slot->runTime));
  }
  // runTime is never negative, so this is the unsigned comparison: a limit
  // read as -5 is 4294967291 seconds.
  if (static_cast<std::uint64_t>(slot->runTime) < limit) {
    if (state.verbose == 1) Print(state.output, "Wait 5 sek\n");
    platform.Sleep(kWaitMs);
    return CheckResult::kHandled;
  }
  Terminate(state, *slot);
  if (state.verbose == 1) Print(state.output, "Wait 2 sek\n");
  platform.Sleep(kAfterTerminationMs);
  return CheckResult::kHandled;
}

TerminateOutcome TerminateByCommand(RunState& state, std::uint32_t pid, std::uint32_t* error) {
  if (pid == 0 || pid == kPseudoPid) return TerminateOutcome::kSkipped;
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
