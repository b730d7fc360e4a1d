// The check of one watch entry: find its first running process, wait for it
// while it is within its limit, terminate it (and the companion) when not.
// The check and the dry run (dry_run.h) share every step up to the
// decision, so a dry run can never tell another story than the real check
// would act out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "enforce/run_state.h"
#include "enforce/terminate.h"

namespace zw {

enum class CheckResult : int {
  /// No process of the current snapshot matches the entry.
  kNoProcess = 0,
  /// A matching process was waited for or terminated; the run loop starts
  /// again at the first entry.
  kHandled = 9,
  /// The process list could not be read kListAttempts times in a row:
  /// nothing is known, so nothing was decided.
  kNoProcessList = -1,
};

/// How often a check reads a failed process list in a row, kListRetryMs
/// apart, before it gives up.
inline constexpr int kListAttempts = 3;
inline constexpr std::uint32_t kListRetryMs = 5000;

/// Checks one entry. `name` is upper-cased in place; an entry whose name
/// holds "*" or "?" is a pattern matched against whole names and titles,
/// any other name is matched as a prefix of the process names. `limit` is
/// the maximum run time in seconds, compared as an unsigned value. A process
/// whose kill still runs is passed over for the next match, and waited for
/// as after a termination when there is none; one that a kill could not end
/// is passed over for the rest of the run. A failed process list is read
/// again after kListRetryMs, up to kListAttempts times (kNoProcessList).
CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit);

// The steps of the check, in order.

/// Refreshes the inventory for one entry: a fresh snapshot, the window
/// titles, the marks when `name` is a pattern, and the run times. Only reads
/// the system. `name` is upper-cased in place. false, with nothing but the
/// snapshot's failure told, when the process list cannot be read.
bool SurveyProcesses(RunState& state, std::string& name);

/// The index of the first slot from `from` on that matches the surveyed
/// entry (its name upper-cased) and is not passed over (see WhyPassOver).
/// When the first slot that matches at all is the idle or summary entry,
/// the entry names no program and finds nothing. A match whose kill is under
/// way is not returned but, when `beingEnded` is given, the first such is
/// stored there. In verbose mode, while
/// `listingDone` is 0, prints a listing line for every slot it visits; with
/// `tellPassedOver`, a line for every match it passes over and why.
std::optional<std::uint32_t> NextWatchedProcess(RunState& state, std::string& name,
                                                std::uint32_t from, bool tellPassedOver,
                                                std::optional<std::uint32_t>* beingEnded = nullptr);

/// NextWatchedProcess from the first slot, or else the first match whose
/// kill is under way, or nullptr after setting `listingDone`.
ProcessRecord* FindWatchedProcess(RunState& state, std::string& name, bool tellPassedOver);

/// The companion's slot in the current snapshot, when it is to be ended
/// with `slot`: not the same process, not already being ended, not passed
/// over.
const ProcessRecord* CompanionToEnd(RunState& state, const ProcessRecord& slot);

/// "Prozess gefunden" for the slot.
void PrintFound(RunState& state, const ProcessRecord& slot);

enum class Verdict { kWait, kTerminate };

/// Waits for a process below `limit`; terminates one at or over it. The
/// run time is never negative, so this is the unsigned comparison: a limit
/// read as -5 is 4294967291 seconds.
Verdict Decide(const ProcessRecord& slot, std::uint32_t limit);

}  // namespace zw
