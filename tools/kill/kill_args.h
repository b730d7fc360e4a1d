// Command-line parsing of the kill helper, kept free of system calls so that
// it can be tested anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zw {

/// How long a process is given to end after SIGTERM before SIGKILL follows.
inline constexpr std::uint32_t kDefaultGraceSeconds = 5;
/// Keeps a mistyped grace period from holding the caller for days.
inline constexpr std::uint32_t kMaxGraceSeconds = 3600;
/// The largest process identifier: beyond it, to kill(2), a negative number
/// that names a process group or every process.
inline constexpr std::uint32_t kMaxTargetPid = 2147483647;

/// What `kill [-t SECONDS] <pid>` was asked to do: the identifier of the one
/// process to terminate and its grace period, or why the command line was
/// refused.
struct KillRequest {
  std::uint32_t pid = 0;
  std::uint32_t graceSeconds = kDefaultGraceSeconds;
  std::string error;  // empty when `pid` and `graceSeconds` are valid
  bool help = false;  // --help, -h or /?: show KillUsage() and do nothing else
  /// Refused because the identifier is 0, which on Windows names the Idle
  /// process rather than nothing.
  bool zeroPid = false;

  bool Ok() const { return error.empty(); }
};

/// The text `--help` prints: the command line and the exit codes.
std::string_view KillUsage();

/// `arguments` are the command-line arguments after the program name:
/// `--help`, `-h` or `/?` before any `--` asks for the usage alone; else one
/// decimal process identifier from 1 to kMaxTargetPid, and at most once the
/// grace period in whole seconds from 0 to kMaxGraceSeconds, given as
/// `-t SECONDS`, `-tSECONDS`, `--grace SECONDS` or `--grace=SECONDS`, before
/// or after the identifier. `--` ends the options. Anything else is refused
/// with a one-line reason that names the offending argument.
KillRequest ParseKillArguments(std::span<const std::string_view> arguments);

/// The start mark the process `pid` must have, from `value`, the text of
/// the variable kTargetVariable (null when it is not set). nullopt when it
/// is not set. When it is set but unusable (malformed, another pid),
/// nullopt with `*error` saying why: then nothing may be signalled, as the
/// caller meant one process and which one cannot be told.
std::optional<std::uint64_t> ExpectedStart(std::uint32_t pid, const char* value,
                                           std::string* error);

/// ExpectedStart for kTargetVariable as this process's environment holds
/// it, into `*expected`. false, after one line on standard error, when it
/// is set but unusable: then nothing may be signalled.
bool TargetFromEnvironment(std::uint32_t pid, std::optional<std::uint64_t>* expected);

}  // namespace zw
