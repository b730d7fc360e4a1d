// Terminating a process by the external "kill" command, and following every
// command started to its end: a process is sent one kill per run, waited for
// while its kill runs, and judged by the next snapshot once the kill is done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "enforce/run_state.h"

namespace zw {

/// Why the scan passes over a process that matches the entry; kNone when it
/// does not.
enum class PassOver {
  kNone,
  /// The watchdog itself.
  kSelf,
  /// The idle and summary entries (kPseudoPid): no process at all.
  kNoProcess,
  /// A process the system cannot do without (MustNeverEnd).
  kCritical,
  /// A kill command this run started.
  kOwnCommand,
  /// A kill has not ended it in this run; the next run tries again.
  kNotEnded,
};

PassOver WhyPassOver(const RunState& state, const ProcessRecord& slot);

/// Says "Prozess nicht beendet" for the process, which the run's exit code
/// then tells too.
void ReportNotEnded(RunState& state, const std::string& name, std::uint32_t pid);

/// The reason as the dry run and the trace give it.
const char* DescribePassOver(PassOver reason);

/// True while a kill command started for this very process still runs.
bool IsBeingTerminated(const RunState& state, const ProcessRecord& slot);

enum class TerminateOutcome { kSkipped, kStarted, kFailed };

/// Starts "kill <pid>" for `slot`, taken on for the watch entry `entry`, without waiting for it,
/// telling the command the process's identity (SetCommandTarget), and keeps the command to follow
/// it; then pauses 100 ms. Processes the scan passes over are never sent a command (kSkipped). On
/// kFailed, `*error` holds the platform's error code and the process counts as not ended.
TerminateOutcome TerminateByCommand(RunState& state, const ProcessRecord& slot,
                                    std::string_view entry, std::uint32_t* error);

/// Closes the commands that have ended, without waiting for any, and ends
/// and closes one that has run for far too long. Before every snapshot.
void ReapTerminationCommands(RunState& state);

/// Judges every ended command by the current snapshot: the same process
/// (pid and creation time) still there means the termination failed, which
/// is said once ("Prozess nicht beendet"); otherwise it is done.
void JudgeTerminations(RunState& state);

}  // namespace zw
