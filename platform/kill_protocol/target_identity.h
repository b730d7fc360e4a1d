// How the watchdog tells the kill command it starts which process it means.
// The command line stays "kill <pid>"; the identity travels in the
// environment the command inherits, so that kill can tell the process the
// watchdog saw from a later one that was given the same identifier.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zw {

/// The variable that carries the identity: "PID:START", both decimal, START
/// the process's start mark as GetProcessStartMark reports it (clock ticks
/// since boot on Linux, the creation FILETIME on Windows). Both sides read
/// it from the system as it is, so they compare it exactly.
inline constexpr const char* kTargetVariable = "ZEITWACHE_TARGET";

struct TargetIdentity {
  std::uint32_t pid = 0;
  /// 0 when the start is not known.
  std::uint64_t start = 0;
};

/// The variable's value for `target`.
std::string FormatTarget(const TargetIdentity& target);

/// The identity in `text`; nullopt unless it is exactly two decimal numbers
/// separated by ":", the pid from 1 to 4294967295 and the start not 0,
/// neither with sign, blanks or leading zeros beyond a single digit.
std::optional<TargetIdentity> ParseTarget(std::string_view text);

}  // namespace zw
