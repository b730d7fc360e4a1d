#include "enforce/dry_run.h"

#include <algorithm>
#include <optional>

#include "enforce/check.h"

namespace zw {
namespace {

bool Told(const DryRunNotes& notes, std::uint32_t pid) {
  return std::find(notes.ended.begin(), notes.ended.end(), pid) != notes.ended.end();
}

void TellWait(RunState& state, const ProcessRecord& slot, std::uint32_t limit, DryRunNotes& notes) {
  Print(state.output, "Wuerde warten\n");
  if (notes.waitTold) return;
  notes.waitTold = true;
  // A run waits here until the process ends or reaches its limit; it only
  // then comes to the entries after this one.
  const auto left = static_cast<unsigned long long>(limit) -
                    static_cast<unsigned long long>(std::max<std::int64_t>(slot.runTime, 0));
  Print(state.output, "Weitere Eintraege erst nach dem Warten auf %s, %d (noch %llu Sekunden)\n",
        slot.name.c_str(), static_cast<int>(slot.pid), left);
}

void TellEnd(RunState& state, const ProcessRecord& slot, DryRunNotes& notes) {
  Print(state.output, "Wuerde beenden: %s, %d\n", slot.name.c_str(), static_cast<int>(slot.pid));
  notes.ended.push_back(slot.pid);
  const ProcessRecord* companion = CompanionToEnd(state, slot);
  if (companion == nullptr || Told(notes, companion->pid)) return;
  Print(state.output, "Wuerde mitbeenden: %s, %d\n", kCompanionName,
        static_cast<int>(companion->pid));
  notes.ended.push_back(companion->pid);
}

}  // namespace

bool DryCheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit,
                        DryRunNotes& notes) {
  if (!SurveyProcesses(state, name)) return false;
  bool found = false;
  for (std::optional<std::uint32_t> i = NextWatchedProcess(state, name, 0, true); i;
       i = NextWatchedProcess(state, name, *i + 1, true)) {
    const ProcessRecord& slot = state.inventory.processTable[*i];
    if (Told(notes, slot.pid)) continue;
    found = true;
    PrintFound(state, slot);
    if (Decide(slot, limit) == Verdict::kWait) {
      TellWait(state, slot, limit, notes);
      return true;
    }
    TellEnd(state, slot, notes);
  }
  if (found) return true;
  state.listingDone = 1;
  Print(state.output, "Kein Prozess gefunden\n");
  return true;
}

std::string TellKillCommand(RunState& state, bool* own) {
  // What a run would pass over on the way is told when it starts the kill.
  std::string program = state.platform.FindCommandProgram("kill", own, nullptr);
  if (program.empty()) {
    Print(state.output, "Beenden mit: kein kill gefunden; ein Lauf beendet nichts\n");
  } else {
    Print(state.output, "Beenden mit: %s\n", program.c_str());
  }
  return program;
}

}  // namespace zw
