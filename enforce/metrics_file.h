// Keeping the metrics file up to date as a run goes on: carried over from
// the last run at the same path when the run starts, rewritten after every
// termination and when the run ends. Nothing here touches the log lines, the
// run or its exit code; a file that cannot be written is told once on
// standard error.
#pragma once

#include <string>
#include <string_view>

#include "enforce/run_state.h"
#include "report/metrics.h"

namespace zw {

/// Reads what the last run left at `path` (a missing, unreadable or
/// oversized file carries nothing over: the counters start at 0 again) and
/// writes the file for the run that starts now.
void StartMetrics(RunState& state, const std::string& path);

/// Entry `number` of the watch list, named `name`, is being checked: it
/// counts among the entries, and its counters are written from now on, at 0
/// until something is ended for it.
void NoteWatchEntry(RunState& state, unsigned number, std::string_view name);

/// One process taken on for entry `name`, with its result: ended once a
/// snapshot after its kill no longer shows it, not ended when one still
/// does, not started when no kill could be started. Rewrites the file.
void CountTermination(RunState& state, std::string_view name, TerminationResult result);

/// The run ends with `exitCode`: its end and code become the last finished
/// run's, and the kills not judged yet count as ended.
void FinishMetrics(RunState& state, int exitCode);

}  // namespace zw
