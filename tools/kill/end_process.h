// How kill ends one process on Linux: SIGTERM, a grace period, then SIGKILL,
// over a pidfd where the kernel offers one. Only the decisions live here; the
// system calls come in through ProcessControl, so that every path can be
// tested without real processes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/kill/kill_exit.h"

namespace zw::kill {

/// What /proc/PID/stat tells about a process.
struct ProcessStat {
  char state = 0;                // 'Z' or 'X' once it has ended
  std::uint64_t startTicks = 0;  // tells a process from a later one given the same pid
  std::uint32_t flags = 0;       // the kernel's PF_* bits
  std::uint32_t threads = 1;     // a Z with more than one is still running
};

/// The system calls the decisions need. Those returning int give 0 on
/// success and the errno on failure.
class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  /// pidfd_open(pid, 0): into `*pidfd`, a descriptor that refers to exactly
  /// that process.
  virtual int PidfdOpen(int pid, int* pidfd) = 0;
  /// pidfd_send_signal(pidfd, signal, nullptr, 0).
  virtual int PidfdSendSignal(int pidfd, int signal) = 0;
  /// Waits up to `timeoutMs` for `pidfd` to become readable, which it does
  /// once the process has ended: `*ended` true then, false on timeout.
  virtual int PollPidfd(int pidfd, int timeoutMs, bool* ended) = 0;
  virtual void Close(int fd) = 0;
  /// kill(pid, signal); signal 0 only asks whether the pid is in use.
  virtual int Kill(int pid, int signal) = 0;
  /// nullopt when the stat file cannot be read or parsed.
  virtual std::optional<ProcessStat> ReadStat(int pid) = 0;
  virtual void SleepMs(int ms) = 0;
  /// A monotonic clock.
  virtual std::int64_t NowMs() = 0;
  /// getpid().
  virtual int SelfPid() = 0;
  /// False when `pid` names a thread of a process other than the thread
  /// group's leader: signalling it would reach the whole process. True
  /// when that cannot be read (the pid is gone, say).
  virtual bool NamesProcess(int pid) = 0;
};

enum class EndOutcome {
  kEnded,            // ended on SIGTERM, or on the SIGKILL asked for by grace 0
  kEndedByKill,      // outlived the grace period after SIGTERM; SIGKILL ended it
  kNoSuchProcess,    // the pid is not in use (or cannot name a process at all)
  kNotPermitted,     // the caller may not signal it
  kStillRunning,     // still there a while after SIGKILL
  kFailed,           // signalling failed otherwise; EndResult::error or why says why
  kIdentityDiffers,  // the pid names a process created at another time; nothing signalled
  kNeverTarget,      // pid 1, a kernel thread or kill itself; nothing signalled
  kNotAProcess,      // the pid names a thread, not a process; nothing signalled
};

struct EndResult {
  EndOutcome outcome = EndOutcome::kFailed;
  int error = 0;          // errno, for kFailed
  bool viaPidfd = false;  // every signal went through a pidfd
  const char* why = "";   // for kNeverTarget, and kFailed without an errno
};

/// How long the end is awaited after SIGKILL.
inline constexpr int kConfirmMs = 1000;
/// How often the pid is looked at where there is no pidfd to wait on.
inline constexpr int kPidPollMs = 20;

/// Ends process `pid`: SIGTERM, up to `graceSeconds` for it to end, SIGKILL if
/// it is still there, and up to kConfirmMs for that to take effect; with a
/// grace of 0, SIGKILL at once. Once a pidfd is open every signal goes through
/// it, so none reaches a later process given the same pid. Without one (no
/// kernel support, or refused) kill(2) is used and the end is polled for.
/// Never returns later than the grace period plus kConfirmMs and the time the
/// calls themselves take. A process that has ended but is not yet reaped by
/// its parent counts as ended.
/// Pid 1, kernel threads, a thread's own id and the caller itself are never
/// signalled. With `expectedStart`, the process is signalled only when,
/// once opened, it started exactly that many clock ticks after boot: the
/// pid may have passed to another process since the caller saw it.
EndResult EndProcess(ProcessControl& control, std::uint32_t pid, std::uint32_t graceSeconds,
                     std::optional<std::uint64_t> expectedStart = std::nullopt);

/// The line for standard error, without newline; empty when the process
/// ended as asked and there is nothing to tell.
std::string DescribeEnd(std::uint32_t pid, std::uint32_t graceSeconds, const EndResult& result);

/// How kill exits after `outcome`.
KillExit ExitCodeFor(EndOutcome outcome);

}  // namespace zw::kill
