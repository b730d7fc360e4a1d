// The list check ("--check"), which reads the watch list as a run does and
// reports what a run would make of it (the text's own findings are in
// list_text.h), and the notes a run writes to
// standard error when its list is missing, unreadable or open to others.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "enforce/run_state.h"
#include "run/list_text.h"
#include "run/watch_list.h"

namespace zw {

/// Exit codes of the list check.
inline constexpr int kExitCheckClean = 0;
inline constexpr int kExitCheckFindings = 1;
inline constexpr int kExitCheckNoList = 2;

/// A larger list is treated as unreadable, as the Linux reader treats it.
inline constexpr std::size_t kListSizeLimit = 16 * 1024 * 1024;

/// The bytes of the file at `path`. nullopt with the Win32 error in
/// `*error` when it cannot be read, or exceeds kListSizeLimit (then
/// kErrorNotEnoughMemory).
std::optional<std::string> ReadListFile(Platform& platform, const std::string& path,
                                        std::uint32_t* error);

/// "--check": prints every entry a run watches with the running processes
/// it matches now, the kill a run would start, and every finding; reads the
/// process list and touches no process. kExitCheckNoList when there is no list to read,
/// kExitCheckFindings with findings, else kExitCheckClean. `privileged`:
/// the debug privilege is held, so a list others could change (the file or
/// any directory above it) is a finding, one per object.
int CheckWatchList(RunState& state, const std::optional<std::string>& path, bool privileged);

/// For a run: one line on the error sink when the list is missing or
/// unreadable, and one when others could change it (JudgeFileTrust). With
/// `privileged` such a list is refused: false, and nothing may be watched.
/// Reads no entry.
bool NoteListProblems(RunState& state, const std::optional<std::string>& path, bool privileged);

}  // namespace zw
