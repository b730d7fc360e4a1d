// The run-time pass: how long each process of the snapshot has been running,
// and which one is the companion process.
#include <optional>

#include "base/ascii.h"
#include "base/file_time.h"
#include "inventory/inventory.h"

namespace zw {
namespace {

constexpr std::uint32_t kQueryAccess = kProcessQueryInformation | kProcessVmRead;

// Whole seconds since `creation`, or nullopt when it cannot be converted. A
// creation time in the future (the clock was set back) counts as just
// created.
std::optional<std::int64_t> RunTimeOf(Platform& platform, FileTime creation) {
  SystemTime created;
  if (!platform.FileTimeToSystemTime(creation, &created)) return std::nullopt;
  const std::optional<std::int64_t> createdAt = CalendarToUnixSeconds(created);
  if (!createdAt) return std::nullopt;
  const std::int64_t now = platform.time();
  return now > *createdAt ? now - *createdAt : 0;
}

// Run time, creation time and criticality of the open `process`. What cannot
// be read keeps its earlier value: the slot still holds the same process.
void Measure(Platform& platform, Handle process, ProcessRecord& slot) {
  FileTime creation = 0, exit = 0, kernel = 0, user = 0;
  if (platform.GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
    if (const auto runTime = RunTimeOf(platform, creation)) {
      slot.runTime = *runTime;
      slot.creation = creation;
    }
  }
  std::uint64_t start = 0;
  slot.start = platform.GetProcessStartMark(process, &start) ? start : 0;
  bool critical = false;
  if (platform.MustNeverEnd(process, &critical)) slot.critical = slot.critical || critical;
}

// Protected system processes (csrss, wininit, smss) refuse the access the
// run time needs even to SYSTEM, but grant every caller the limited query:
// enough to tell that they are critical, so that they are passed over
// rather than waited for as unmeasured.
void JudgeCriticality(Platform& platform, ProcessRecord& slot) {
  const Handle process = platform.OpenProcess(kProcessQueryLimitedInformation, false, slot.pid);
  if (process == Handle::kNull) return;
  bool critical = false;
  if (platform.MustNeverEnd(process, &critical)) slot.critical = slot.critical || critical;
  platform.CloseHandle(process);
}

}  // namespace

void MeasureRunTimes(Platform& platform, Inventory& inventory) {
  inventory.companionPid = 0;
  const std::size_t count =
      std::min<std::size_t>(inventory.processCount, inventory.processTable.size());
  for (std::size_t k = 0; k < count; ++k) {
    ProcessRecord& slot = inventory.processTable[k];
    if (slot.pid == 0) continue;
    const Handle process = platform.OpenProcess(kQueryAccess, false, slot.pid);
    // Which process the slot holds comes from this listing alone: what an
    // earlier pass read may have belonged to a namesake that had the pid.
    slot.start = 0;
    if (process != Handle::kNull) {
      Measure(platform, process, slot);
      platform.CloseHandle(process);
      UpperCaseInPlace(slot.name);
      if (slot.name == kCompanionName) inventory.companionPid = slot.pid;
    } else {
      JudgeCriticality(platform, slot);
    }
    platform.Sleep(0);
  }
}

}  // namespace zw
