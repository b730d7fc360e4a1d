// Everything one run of the watchdog works on. main() owns the one instance
// and passes it down, so nothing survives from one run (or test) to the next.
#pragma once

#include <cstdint>

#include "inventory/process_record.h"
#include "platform/platform.h"
#include "report/metrics.h"
#include "state/output.h"
#include "state/terminations.h"

namespace zw {

struct RunState {
  RunState(Platform& p, Output& o, Output& e) : platform(p), output(o), errors(e) {}
  /// Diagnostics go to the log lines' own sink.
  RunState(Platform& p, Output& o) : RunState(p, o, o) {}

  Platform& platform;
  Output& output;
  /// Diagnostics that are not log lines: standard error in the tool.
  Output& errors;
  /// 1 when the trace is on ("/D" or "-D").
  int verbose = 0;
  /// Set by the first check that finds no matching process; from then on
  /// the per-process listing stays off for the rest of the run.
  int listingDone = 0;
  Inventory inventory;
  Terminations terminations;
  MetricsRun metrics;
};

}  // namespace zw
