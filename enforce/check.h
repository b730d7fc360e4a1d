// The check of one watch entry: find its first running process, wait for it
// while it is within its limit, terminate it (and the companion) when not.
// The check and the dry run share every step up to the decision, so a dry
// run can never tell another story than the real check would act out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "enforce/terminate.h"
#include "state/run_state.h"

namespace zw {

enum class CheckResult : int {
  /// No process of the current snapshot matches the entry.
  kNoProcess = 0,
  /// A matching process was waited for or terminated; the run loop starts
  /// again at the first entry.
  kHandled = 9,
};

/// Checks one entry. `name` is upper-cased in place; an entry whose name
/// holds "*" or "?" is a pattern matched against whole names and titles,
/// any other name is matched as a prefix of the process names. `limit` is
/// the maximum run time in seconds, compared as an unsigned value. A process
/// whose kill still runs is waited for as after a termination; one that a
/// kill could not end is passed over for the rest of the run.
CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit);

/// Tells what CheckWatchEntry would do now with the entry, acting on nothing:
/// "Kein Prozess gefunden", or the matching process and "Wuerde warten" or
/// "Wuerde beenden" (with "Wuerde mitbeenden" for a companion other than that
/// process). Takes the same snapshot and run times as the check; starts no
/// command and never pauses.
void DryCheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit);

// The steps of the check, in order.

/// Refreshes the inventory for one entry: a fresh snapshot, the window
/// titles, the marks when `name` is a pattern, and the run times. Only reads
/// the system. `name` is upper-cased in place.
void SurveyProcesses(RunState& state, std::string& name);

/// The first slot of the current snapshot that matches the surveyed entry
/// (its name upper-cased) and is not passed over (see WhyPassOver), or
/// nullptr after setting `listingDone`. In verbose mode, while `listingDone`
/// is 0, prints a listing line for every slot it visits; with
/// `tellPassedOver`, a line for every match it passes over and why.
ProcessRecord* FindWatchedProcess(RunState& state, std::string& name, bool tellPassedOver);

enum class Verdict { kWait, kTerminate };

/// Waits for a process below `limit`; terminates one at or over it. The
/// run time is never negative, so this is the unsigned comparison: a limit
/// read as -5 is 4294967291 seconds.
Verdict Decide(const ProcessRecord& slot, std::uint32_t limit);

}  // namespace zw
