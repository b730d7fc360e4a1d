// The check of one watch entry: find its first running process, wait for it
// while it is within its limit, terminate it (and the companion) when not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
/// the maximum run time in seconds, compared as an unsigned value.
CheckResult CheckWatchEntry(RunState& state, std::string& name, std::uint32_t limit);

enum class TerminateOutcome { kSkipped, kStarted, kFailed };

/// Starts "kill <pid>" without waiting for it, then pauses 100 ms. Identifier
/// 0 and kPseudoPid name no process: nothing is started (kSkipped). On
/// kFailed, `*error` holds the platform's error code.
TerminateOutcome TerminateByCommand(RunState& state, std::uint32_t pid, std::uint32_t* error);

}  // namespace zw
