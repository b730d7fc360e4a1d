// How the watchdog tells the kill command it starts which process it means.
// The command line stays "kill <pid>"; the identity travels in the
// environment the command inherits, so that kill can tell the process the
// watchdog saw from a later one that was given the same identifier.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zw {

/// The variable that carries the identity: "PID:CREATION", both decimal,
/// CREATION in the platform's FILETIME units as GetProcessTimes reports it.
inline constexpr const char* kTargetVariable = "ZEITWACHE_TARGET";

/// Two creation times this close apart belong to the same process. Where
/// the creation time is derived from boot-relative clock ticks (Linux) two
/// readings differ by the jitter of reading two clocks, microseconds; no
/// system gives a recycled identifier to a new process within this time.
inline constexpr FileTime kCreationTolerance = 20'000;  // 2 ms

struct TargetIdentity {
  std::uint32_t pid = 0;
  FileTime creation = 0;
};

/// The variable's value for `target`.
std::string FormatTarget(const TargetIdentity& target);

/// The identity in `text`; nullopt unless it is exactly two decimal numbers
/// separated by ":", the pid from 1 to 4294967295 and the creation time not
/// 0, neither with sign, blanks or leading zeros beyond a single digit.
std::optional<TargetIdentity> ParseTarget(std::string_view text);

/// Whether two creation times name the same process.
bool SameCreation(FileTime a, FileTime b);

}  // namespace zw
