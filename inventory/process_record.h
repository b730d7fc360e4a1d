// The watchdog's picture of the running processes: one slot per process of
// the latest snapshot, with its measured run time, and the companion process.
// The run owns it; the inventory fills it and the check reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zw {

/// Identifier stored for the instances the performance data reports with
/// identifier 0 (the idle process and the summary instance). It names no
/// process: it is never opened successfully and never terminated.
inline constexpr std::uint32_t kPseudoPid = 0xFFFFFFFE;

/// Process names are kept to this many characters, ".exe" included.
inline constexpr std::size_t kMaxNameLength = 259;
/// Window titles are kept to this many characters.
inline constexpr std::size_t kMaxTitleLength = 63;

/// Name of the suite's companion process, terminated with every overdue one.
inline constexpr const char* kCompanionName = "SAMMLER.EXE";

struct ProcessRecord {
  /// Never 0 for a slot of the current snapshot (see kPseudoPid).
  std::uint32_t pid = 0;
  /// 1 when the marking pass matched the slot against the entry's pattern.
  std::int32_t mark = 0;
  /// Last visible top-level window of the process seen by the window
  /// capture.
  WindowHandle window = WindowHandle::kNull;
  /// The instance name with ".exe" appended; upper-cased in place by the
  /// run-time pass and by the check.
  std::string name;
  /// Title of the last visible top-level window of the process with one,
  /// at most kMaxTitleLength; kept while the slot holds the same process.
  std::string title;
  /// The titles of all its visible top-level windows at the latest capture,
  /// each cut as `title` is. A title pattern matches any of them.
  std::vector<std::string> titles;
  /// Whole seconds since the process was created, never negative; 0 until
  /// the process could be measured. Kept across snapshots only while the
  /// slot holds the same process (same pid and name).
  std::int64_t runTime = 0;
  /// Creation time read by the latest run-time pass; 0 when the process
  /// could not be opened then.
  FileTime creation = 0;
  /// The system's start mark (GetProcessStartMark) read by the latest
  /// run-time pass; 0 when the process could not be opened then. With `pid`
  /// it names the process exactly, whatever later takes the pid over.
  std::uint64_t start = 0;
  /// The system cannot do without this process (MustNeverEnd); it is
  /// never terminated.
  bool critical = false;
};

/// One slot per instance of the latest snapshot, in instance order.
using ProcessTable = std::vector<ProcessRecord>;

struct Inventory {
  ProcessTable processTable;
  /// Slots of the latest snapshot; 0 before the first check and after a
  /// failed query.
  std::uint32_t processCount = 0;
  /// The error of the latest query, 0 when it worked. After a failed one the
  /// table tells nothing about what runs: not even that nothing does.
  std::uint32_t listError = 0;
  /// Identifier of the process named kCompanionName found by the latest
  /// run-time pass; 0 when there is none.
  std::uint32_t companionPid = 0;
  /// Size of the buffer the performance data last fitted in; the next
  /// snapshot starts there, so that in the steady state one query (one
  /// collection of the process object by the system) serves a check. 0
  /// before the first successful query.
  std::uint32_t perfBufferSize = 0;
};

}  // namespace zw
