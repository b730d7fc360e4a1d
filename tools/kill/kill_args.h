// Command-line parsing of the kill helper, kept free of system calls so that
// it can be tested anywhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zw {

/// How long a process is given to end after SIGTERM before SIGKILL follows.
inline constexpr std::uint32_t kDefaultGraceSeconds = 5;
/// Keeps a mistyped grace period from holding the caller for days.
inline constexpr std::uint32_t kMaxGraceSeconds = 3600;

/// What `kill [-t SECONDS] <pid>` was asked to do: the identifier of the one
/// process to terminate and its grace period, or why the command line was
/// refused.
struct KillRequest {
  std::uint32_t pid = 0;
  std::uint32_t graceSeconds = kDefaultGraceSeconds;
  std::string error;  // empty when `pid` and `graceSeconds` are valid

  bool Ok() const { return error.empty(); }
};

/// `arguments` are the command-line arguments after the program name: one
/// decimal process identifier from 1 to 4294967295, and at most once the
/// grace period in whole seconds from 0 to kMaxGraceSeconds, given as
/// `-t SECONDS`, `-tSECONDS`, `--grace SECONDS` or `--grace=SECONDS`, before
/// or after the identifier. `--` ends the options. Anything else is refused
/// with a one-line reason that names the offending argument.
KillRequest ParseKillArguments(std::span<const std::string_view> arguments);

}  // namespace zw
