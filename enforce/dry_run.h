// The dry run's view of one entry: every process a run would end for it, in
// the order a run takes them, up to the process a run would wait for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "enforce/run_state.h"

namespace zw {

/// What a dry run has told so far, so that later entries are told as a run
/// would meet them.
struct DryRunNotes {
  /// Processes it said a run would end: a run ends each once, and they are
  /// gone by the time it reaches a later entry.
  std::vector<std::uint32_t> ended;
  /// Whether it has said that a run waits before any later entry.
  bool waitTold = false;
};

/// Tells what a run would do with the entry, acting on nothing: "Kein
/// Prozess gefunden", or for every matching process in scan order
/// "Wuerde beenden" (with "Wuerde mitbeenden" for the companion, once)
/// until the first one within its limit, for which it says "Wuerde warten"
/// and, the first time in the dry run, that later entries come only after
/// that wait. Takes the same snapshot and run times as the check; starts no
/// command and never pauses. false, with nothing told, when the process
/// list cannot be read.
bool DryCheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit,
                        DryRunNotes& notes);

/// Says which kill a run would start ("Beenden mit: PATH"), or that none is
/// found. Returns the path, empty when none, with `*own` as the platform's
/// FindCommandProgram tells it.
std::string TellKillCommand(RunState& state, bool* own);

}  // namespace zw
