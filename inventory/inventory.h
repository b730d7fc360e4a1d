// The process inventory: the snapshot that refills the process table from
// the performance data, and the run-time pass that measures its processes.
#pragma once

#include <cstdint>

#include "inventory/process_record.h"
#include "platform/platform.h"
#include "state/output.h"

namespace zw {

/// Refills `inventory.processTable` from the performance data and returns the
/// number of processes in it; 0 (with the table untouched) when the query
/// failed, after printing the failure, with the error in
/// `inventory.listError` (kErrorNotEnoughMemory: the list outgrew the
/// largest buffer it can have).
std::uint32_t TakeProcessSnapshot(Platform& platform, Output& out, Inventory& inventory);

/// Measures the run time of every process of the latest snapshot that can be
/// opened, and finds the companion process.
void MeasureRunTimes(Platform& platform, Inventory& inventory);

}  // namespace zw
