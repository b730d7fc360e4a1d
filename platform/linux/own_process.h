// What the watchdog sets up for its own process: how it answers signals, and
// where on the wall clock the system booted.
#pragma once

#include <cstdint>

namespace zw::posix {

/// Blocks (true) or unblocks SIGTERM, SIGINT and SIGHUP for the calling
/// thread; one that arrived while blocked is handled once unblocked.
void BlockTerminationSignals(bool block);

/// The wall-clock time of boot in ns since 1970: the real-time clock minus
/// the boot-time clock, taken from the closest of a few paired reads, so
/// that a preemption between two reads cannot skew it. Read once per run,
/// it places every start tick on the wall clock the same way.
std::int64_t BootWallClockNs();

}  // namespace zw::posix
