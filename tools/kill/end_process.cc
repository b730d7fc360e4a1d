#include "tools/kill/end_process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "platform/kill_protocol/target_identity.h"
#include "platform/linux/proc_parse.h"

namespace zw::kill {
namespace {

// The process being ended, reached through its pidfd while one is open and
// through its pid otherwise.
class Target {
 public:
  Target(ProcessControl& control, int pid) : control_(control), pid_(pid) {}
  ~Target() { DropPidfd(); }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  /// False when the pid is not in use.
  bool Open() {
    int fd = -1;
    const int error = control_.PidfdOpen(pid_, &fd);
    if (error == 0) {
      pidfd_ = fd;
      pidfdOpened_ = true;
      return true;
    }
    if (error == ESRCH) return false;
    UsePid();  // old kernel, filtered call, a thread's id
    return true;
  }

  bool ViaPidfd() const { return pidfd_ >= 0; }
  /// The process was there when its pidfd was opened.
  bool PidfdOpened() const { return pidfdOpened_; }

  int Signal(int signal) {
    if (pidfd_ >= 0) {
      const int error = control_.PidfdSendSignal(pidfd_, signal);
      if (error != ENOSYS) return error;
      // pidfd_open without pidfd_send_signal: a filtered call.
      DropPidfd();
      UsePid();
    }
    return control_.Kill(pid_, signal);
  }

  /// True when the process ends within `timeoutMs`.
  bool WaitForEnd(int timeoutMs) {
    const std::int64_t deadline = control_.NowMs() + timeoutMs;
    while (pidfd_ >= 0) {
      bool ended = false;
      const int error = control_.PollPidfd(pidfd_, Remaining(deadline), &ended);
      if (error == 0) return ended;
      // Interrupted: wait out the rest. Any other failure: watch the pid.
      if (error != EINTR) break;
    }
    return PollPid(deadline);
  }

 private:
  int Remaining(std::int64_t deadline) {
    return static_cast<int>(std::clamp<std::int64_t>(deadline - control_.NowMs(), 0, INT_MAX));
  }

  bool Gone() {
    if (control_.Kill(pid_, 0) == ESRCH) return true;
    const std::optional<ProcessStat> stat = control_.ReadStat(pid_);
    if (!stat) return false;
    return !posix::IsRunningState(stat->state, stat->threads) ||
           (knowStart_ && stat->startTicks != startTicks_);
  }

  bool PollPid(std::int64_t deadline) {
    for (;;) {
      if (Gone()) return true;
      const int remaining = Remaining(deadline);
      if (remaining == 0) return false;
      control_.SleepMs(std::min(remaining, kPidPollMs));
    }
  }

  // Without a pidfd the pid alone, with the process's start time to notice
  // when the pid has passed to another process.
  void UsePid() {
    if (const auto stat = control_.ReadStat(pid_)) {
      startTicks_ = stat->startTicks;
      knowStart_ = true;
    }
  }

  void DropPidfd() {
    if (pidfd_ >= 0) control_.Close(pidfd_);
    pidfd_ = -1;
  }

  ProcessControl& control_;
  const int pid_;
  int pidfd_ = -1;
  bool pidfdOpened_ = false;
  // Two plain fields rather than an optional: GCC's release builds warn
  // that an optional read behind its own test may be uninitialised.
  std::uint64_t startTicks_ = 0;
  bool knowStart_ = false;
};

EndResult Result(EndOutcome outcome, const Target& target, int error = 0) {
  return {outcome, error, target.ViaPidfd()};
}

EndResult Refusal(EndOutcome outcome, const char* why) { return {outcome, 0, false, why}; }

// Why the process that `pid` names now must not be signalled; null when it
// may be. Reads its stat line once the pid is pinned.
const char* CheckTarget(ProcessControl& control, int pid, std::optional<std::uint64_t> expected,
                        EndOutcome* outcome) {
  const std::optional<ProcessStat> stat = control.ReadStat(pid);
  if (stat && posix::IsKernelThread(stat->flags)) {
    *outcome = EndOutcome::kNeverTarget;
    return "a kernel thread";
  }
  if (!expected) return nullptr;
  if (!stat) {
    // Reaped since it was opened, or its stat line is out of reach.
    if (control.Kill(pid, 0) == ESRCH) {
      *outcome = EndOutcome::kNoSuchProcess;
      return "";
    }
    *outcome = EndOutcome::kFailed;
    return "its start cannot be read";
  }
  if (stat->startTicks != *expected) {
    *outcome = EndOutcome::kIdentityDiffers;
    return "";
  }
  return nullptr;
}

// The outcome of a refused signal. ESRCH through a pidfd means the process
// opened earlier has ended since; through a bare pid, that there is none.
EndResult Refused(int error, const Target& target, bool processSeen) {
  if (error == ESRCH) {
    return Result(processSeen ? EndOutcome::kEnded : EndOutcome::kNoSuchProcess, target);
  }
  if (error == EPERM) return Result(EndOutcome::kNotPermitted, target);
  return Result(EndOutcome::kFailed, target, error);
}

}  // namespace

EndResult EndProcess(ProcessControl& control, std::uint32_t pid, std::uint32_t graceSeconds,
                     std::optional<std::uint64_t> expectedStart) {
  // To kill(2), 0 is the caller's own group and anything above INT_MAX a
  // negative number, a group or every process: never one process.
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) {
    return {EndOutcome::kNoSuchProcess, 0, false};
  }
  // Ending init takes the system (or the container) down with it.
  if (pid == 1) return Refusal(EndOutcome::kNeverTarget, "pid 1, the init process");
  if (static_cast<int>(pid) == control.SelfPid()) {
    return Refusal(EndOutcome::kNeverTarget, "kill itself");
  }
  // kill(2) given a thread's id signals the process it belongs to.
  if (!control.NamesProcess(static_cast<int>(pid))) {
    return Refusal(EndOutcome::kNotAProcess, "a thread, not a process");
  }
  Target target(control, static_cast<int>(pid));
  if (!target.Open()) return Result(EndOutcome::kNoSuchProcess, target);
  EndOutcome refused = EndOutcome::kFailed;
  if (const char* why = CheckTarget(control, static_cast<int>(pid), expectedStart, &refused)) {
    return {refused, 0, target.ViaPidfd(), why};
  }
  const int first = graceSeconds == 0 ? SIGKILL : SIGTERM;
  if (const int error = target.Signal(first); error != 0) {
    return Refused(error, target, target.PidfdOpened());
  }
  if (graceSeconds > 0) {
    if (target.WaitForEnd(static_cast<int>(graceSeconds) * 1000)) {
      return Result(EndOutcome::kEnded, target);
    }
    // It was there a moment ago, so ESRCH now means it has just ended.
    if (const int error = target.Signal(SIGKILL); error != 0) {
      return Refused(error, target, true);
    }
  }
  if (!target.WaitForEnd(kConfirmMs)) return Result(EndOutcome::kStillRunning, target);
  return Result(graceSeconds == 0 ? EndOutcome::kEnded : EndOutcome::kEndedByKill, target);
}

std::string DescribeEnd(std::uint32_t pid, std::uint32_t graceSeconds, const EndResult& result) {
  const std::string process = "process " + std::to_string(pid);
  const std::string cannot = "kill: cannot signal " + process + ": ";
  switch (result.outcome) {
    case EndOutcome::kEnded:
      return {};
    case EndOutcome::kEndedByKill:
      return "kill: " + process + " did not end within " + std::to_string(graceSeconds) +
             " s of SIGTERM; ended by SIGKILL";
    case EndOutcome::kNoSuchProcess:
      return cannot + "no such process";
    case EndOutcome::kNotPermitted:
      return cannot + "not permitted";
    case EndOutcome::kStillRunning:
      return "kill: " + process + " is still running " + std::to_string(kConfirmMs / 1000) +
             " s after SIGKILL";
    case EndOutcome::kIdentityDiffers:
      return "kill: " + process + " was created at another time than the one meant; " +
             "not signalled";
    case EndOutcome::kNeverTarget:
    case EndOutcome::kNotAProcess:
      return "kill: refusing to end " + process + ": " + result.why;
    case EndOutcome::kFailed:
      break;
  }
  if (result.error == 0 && *result.why != '\0') return cannot + result.why;
  return cannot + std::strerror(result.error) + " (errno " + std::to_string(result.error) + ")";
}

KillExit ExitCodeFor(EndOutcome outcome) {
  switch (outcome) {
    case EndOutcome::kEnded:
    case EndOutcome::kEndedByKill:
      return KillExit::kEnded;
    case EndOutcome::kNoSuchProcess:
      return KillExit::kNoSuchProcess;
    case EndOutcome::kIdentityDiffers:
      return KillExit::kIdentityDiffers;
    case EndOutcome::kNeverTarget:
      return KillExit::kNeverTarget;
    case EndOutcome::kNotAProcess:
      return KillExit::kUsage;
    case EndOutcome::kNotPermitted:
    case EndOutcome::kStillRunning:
    case EndOutcome::kFailed:
      break;
  }
  return KillExit::kNotEnded;
}

}  // namespace zw::kill
