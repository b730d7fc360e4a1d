// What the list check finds in the entries themselves: their names and
// limits as a run reads them, what they match among the running processes
// now, and the kill a run would start.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "enforce/run_state.h"
#include "run/watch_list.h"

namespace zw {

/// A value as a finding shows it: at most 64 bytes, then "...".
std::string Shown(std::string_view value);

bool AllDigits(std::string_view s);

/// A key of the [PGM] section: its value as written and its first line.
struct KeyLine {
  std::optional<std::string_view> value;
  std::size_t line = 0;
};

/// Findings on each entry's name and limit as written (`keys`) and as a run
/// reads them (`entries`, entry n at n - 1).
void EntryFindings(const std::map<std::string, KeyLine>& keys, std::span<const WatchEntry> entries,
                   std::vector<std::string>& findings);

/// Looks at what entry `n` matches among the running processes now, only
/// reading the system: prints how many with the first few names, and adds a
/// finding when it matches every process, or first the idle entry or a
/// system process.
void SurveyEntry(RunState& state, const WatchEntry& entry, unsigned n,
                 std::vector<std::string>& findings);

/// Prints the kill a run would start; a finding when there is none, or it
/// is not the one installed with this program.
void KillFindings(RunState& state, std::vector<std::string>& findings);

}  // namespace zw
