// The decisions of the Linux kill, against a scripted process on a virtual
// clock: which calls are made, in which order, and what is concluded.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "platform/kill_protocol/target_identity.h"
#include "platform/linux/proc_parse.h"
#include "tools/kill/end_process.h"

namespace zw::kill {
namespace {

constexpr int kPid = 4242;
constexpr int kPidfd = 7;
constexpr int kTerm = SIGTERM;
constexpr int kKill = SIGKILL;

/// How the scripted process behaves.
struct Script {
  int pidfdOpen = 0;  // 0 (opens kPidfd) or errno
  int pidfdSend = 0;  // 0 or errno, for every pidfd_send_signal
  int killSend = 0;   // 0 or errno, for kill(2) with a signal
  bool endsOnTerm = true;
  bool endsOnKill = true;
  bool reaped = true;           // its parent reaps it at once once it ends
  bool reusedAfterEnd = false;  // its pid passes to a new process once reaped
  bool endedAtStart = false;    // a zombie already
  int termDelayMs = 300;
  int pollInterruptions = 0;  // poll answers EINTR this often first
  std::uint32_t flags = 0;    // PF_* bits of its stat line
  bool statGone = false;      // its stat line cannot be read
  bool thread = false;        // the pid is a thread's, not its process's
};

constexpr int kSelfPid = 99;
constexpr std::uint64_t kStartTicks = 1000;

class FakeControl final : public ProcessControl {
 public:
  explicit FakeControl(const Script& script) : script_(script) {
    if (script.endedAtStart) endAt_ = 0;
  }

  int PidfdOpen(int pid, int* pidfd) override {
    EXPECT_EQ(pid, kPid);
    Log("open");
    if (script_.pidfdOpen != 0) return script_.pidfdOpen;
    ++openFds;
    *pidfd = kPidfd;
    return 0;
  }
  int PidfdSendSignal(int pidfd, int signal) override {
    EXPECT_EQ(pidfd, kPidfd);
    Log("pidfd:" + Name(signal));
    return Deliver(signal, script_.pidfdSend);
  }
  int PollPidfd(int pidfd, int timeoutMs, bool* ended) override {
    EXPECT_EQ(pidfd, kPidfd);
    EXPECT_GE(timeoutMs, 0);
    if (script_.pollInterruptions > 0) {
      --script_.pollInterruptions;
      now_ += timeoutMs / 2;
      return EINTR;
    }
    *ended = Ended(now_ + timeoutMs);
    now_ = *ended ? std::max(now_, *endAt_) : now_ + timeoutMs;
    return 0;
  }
  void Close(int fd) override {
    EXPECT_EQ(fd, kPidfd);
    --openFds;
  }
  int Kill(int pid, int signal) override {
    EXPECT_EQ(pid, kPid);
    if (signal != 0) {
      Log("kill:" + Name(signal));
      return Deliver(signal, script_.killSend);
    }
    if (script_.killSend == ESRCH) return ESRCH;
    return Ended(now_) && script_.reaped && !script_.reusedAfterEnd ? ESRCH : 0;
  }
  std::optional<ProcessStat> ReadStat(int pid) override {
    EXPECT_EQ(pid, kPid);
    if (script_.statGone) return std::nullopt;
    if (!Ended(now_)) return ProcessStat{'S', kStartTicks, script_.flags};
    if (!script_.reaped) return ProcessStat{'Z', 1000};
    if (script_.reusedAfterEnd) return ProcessStat{'S', 2000};
    return std::nullopt;
  }
  void SleepMs(int ms) override { now_ += ms; }
  std::int64_t NowMs() override { return now_; }
  int SelfPid() override { return kSelfPid; }
  bool NamesProcess(int) override { return !script_.thread; }

  std::string calls;  // the calls that can affect a process, blank-separated
  int openFds = 0;

 private:
  static std::string Name(int signal) {
    return signal == kTerm ? "TERM" : signal == kKill ? "KILL" : std::to_string(signal);
  }
  void Log(const std::string& call) { calls += (calls.empty() ? "" : " ") + call; }
  bool Ended(std::int64_t at) const { return endAt_ && *endAt_ <= at; }

  int Deliver(int signal, int result) {
    if (result != 0 || endAt_) return result;
    if (signal == kTerm && script_.endsOnTerm) endAt_ = now_ + script_.termDelayMs;
    if (signal == kKill && script_.endsOnKill) endAt_ = now_ + 5;
    return 0;
  }

  Script script_;
  std::int64_t now_ = 0;
  std::optional<std::int64_t> endAt_;
};

TEST(EndProcess, DecidesEveryPathFromWhatTheSystemAnswers) {
  constexpr int kNoPidfd = ENOSYS;
  const struct {
    const char* what;
    Script script;
    std::uint32_t grace;
    EndOutcome outcome;
    std::string calls;
    std::int64_t elapsedMs;
  } cases[] = {
      // clang-format off
      {"honours TERM", {}, 5, EndOutcome::kEnded, "open pidfd:TERM", 300},
      {"ignores TERM", {.endsOnTerm = false}, 5, EndOutcome::kEndedByKill, "open pidfd:TERM pidfd:KILL", 5005},
      {"grace 0", {.endsOnTerm = false}, 0, EndOutcome::kEnded, "open pidfd:KILL", 5},
      {"outlives KILL", {.endsOnTerm = false, .endsOnKill = false}, 2, EndOutcome::kStillRunning, "open pidfd:TERM pidfd:KILL", 3000},
      {"zombie", {.reaped = false, .endedAtStart = true}, 5, EndOutcome::kEnded, "open pidfd:TERM", 0},
      {"poll interrupted", {.endsOnTerm = false, .pollInterruptions = 2}, 5, EndOutcome::kEndedByKill, "open pidfd:TERM pidfd:KILL", 5005},
      {"no such pid", {.pidfdOpen = ESRCH}, 5, EndOutcome::kNoSuchProcess, "open", 0},
      {"not permitted", {.pidfdSend = EPERM}, 5, EndOutcome::kNotPermitted, "open pidfd:TERM", 0},
      {"gone since open", {.pidfdSend = ESRCH}, 5, EndOutcome::kEnded, "open pidfd:TERM", 0},
      {"other error", {.pidfdSend = EINVAL}, 5, EndOutcome::kFailed, "open pidfd:TERM", 0},
      {"send filtered", {.pidfdSend = ENOSYS}, 5, EndOutcome::kEnded, "open pidfd:TERM kill:TERM", 300},
      {"old kernel", {.pidfdOpen = kNoPidfd}, 5, EndOutcome::kEnded, "open kill:TERM", 300},
      {"old kernel, ignores TERM", {.pidfdOpen = kNoPidfd, .endsOnTerm = false}, 5, EndOutcome::kEndedByKill, "open kill:TERM kill:KILL", 5020},
      {"filtered, grace 0", {.pidfdOpen = EPERM}, 0, EndOutcome::kEnded, "open kill:KILL", 20},
      {"old kernel, zombie after TERM", {.pidfdOpen = kNoPidfd, .reaped = false}, 5, EndOutcome::kEnded, "open kill:TERM", 300},
      {"old kernel, pid reused after TERM", {.pidfdOpen = kNoPidfd, .reusedAfterEnd = true}, 5, EndOutcome::kEnded, "open kill:TERM", 300},
      {"old kernel, no such pid", {.pidfdOpen = kNoPidfd, .killSend = ESRCH}, 5, EndOutcome::kNoSuchProcess, "open kill:TERM", 0},
      {"old kernel, not permitted", {.pidfdOpen = kNoPidfd, .killSend = EPERM}, 5, EndOutcome::kNotPermitted, "open kill:TERM", 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeControl control(c.script);
    const EndResult result = EndProcess(control, kPid, c.grace);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(control.calls, c.calls);
    // Once a pidfd is open, no signal may go by the bare pid.
    EXPECT_EQ(result.viaPidfd, c.calls.find("kill:") == std::string::npos &&
                                   c.calls.find("pidfd:") != std::string::npos);
    EXPECT_EQ(control.NowMs(), c.elapsedMs);
    EXPECT_LE(control.NowMs(), std::int64_t{c.grace} * 1000 + kConfirmMs);
    EXPECT_EQ(control.openFds, 0) << "the pidfd is closed";
    EXPECT_EQ(result.error, c.outcome == EndOutcome::kFailed ? EINVAL : 0);
  }
}

TEST(EndProcess, NeverPassesAPidThatNamesAGroup) {
  // kill(2) reads 0 as the own group and, as pid_t, 2147483648 and up as
  // negative: a group, or with -1 every process.
  for (const std::uint32_t pid : {0u, 2147483648u, 4294967295u}) {
    FakeControl control(Script{});
    const EndResult result = EndProcess(control, pid, 0);
    EXPECT_EQ(result.outcome, EndOutcome::kNoSuchProcess) << pid;
    EXPECT_EQ(control.calls, "") << pid;
  }
}

// What must never be ended, and a pid that has passed to another process,
// is refused before any signal.
TEST(EndProcess, SignalsOnlyTheProcessMeantAndNeverAForbiddenOne) {
  const struct {
    const char* what;
    int pid;
    Script script;
    std::optional<std::uint64_t> expected;
    EndOutcome outcome;
    std::string calls;
  } cases[] = {
      // clang-format off
      {"same start", kPid, {}, kStartTicks, EndOutcome::kEnded, "open pidfd:TERM"},
      {"started a tick earlier", kPid, {}, kStartTicks + 1, EndOutcome::kIdentityDiffers, "open"},
      {"started a tick later", kPid, {}, kStartTicks - 1, EndOutcome::kIdentityDiffers, "open"},
      {"old kernel, started later", kPid, {.pidfdOpen = ENOSYS}, kStartTicks / 2, EndOutcome::kIdentityDiffers, "open"},
      {"reaped since opened", kPid, {.killSend = ESRCH, .statGone = true}, kStartTicks, EndOutcome::kNoSuchProcess, "open"},
      {"stat unreadable", kPid, {.statGone = true}, kStartTicks, EndOutcome::kFailed, "open"},
      {"a thread's id", kPid, {.thread = true}, std::nullopt, EndOutcome::kNotAProcess, ""},
      {"stat unreadable, no identity", kPid, {.statGone = true}, std::nullopt, EndOutcome::kEnded, "open pidfd:TERM"},
      {"kernel thread", kPid, {.flags = posix::kKernelThreadFlag}, std::nullopt, EndOutcome::kNeverTarget, "open"},
      {"pid 1", 1, {}, std::nullopt, EndOutcome::kNeverTarget, ""},
      {"itself", kSelfPid, {}, std::nullopt, EndOutcome::kNeverTarget, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeControl control(c.script);
    const EndResult result = EndProcess(control, static_cast<std::uint32_t>(c.pid), 5, c.expected);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(control.calls, c.calls);
    EXPECT_EQ(control.openFds, 0) << "the pidfd is closed";
  }
}

TEST(EndProcess, TellsWhatHappenedAndExitsAccordingly) {
  const struct {
    EndResult result;
    int exitCode;
    std::string message;
  } cases[] = {
      // clang-format off
      {{EndOutcome::kNotPermitted, 0, true, ""}, 1, "kill: cannot signal process 1234: not permitted"},
      {{EndOutcome::kStillRunning, 0, true, ""}, 1, "kill: process 1234 is still running 1 s after SIGKILL"},
      {{EndOutcome::kFailed, EINVAL, true, ""}, 1, "kill: cannot signal process 1234: Invalid argument (errno 22)"},
      {{EndOutcome::kFailed, 0, true, "its start cannot be read"}, 1, "kill: cannot signal process 1234: its start cannot be read"},
      {{EndOutcome::kNoSuchProcess, 0, true, ""}, 3, "kill: cannot signal process 1234: no such process"},
      {{EndOutcome::kIdentityDiffers, 0, true, ""}, 4, "kill: process 1234 was created at another time than the one meant; not signalled"},
      {{EndOutcome::kNeverTarget, 0, false, "a kernel thread"}, 5, "kill: refusing to end process 1234: a kernel thread"},
      {{EndOutcome::kNotAProcess, 0, false, "a thread, not a process"}, 2, "kill: refusing to end process 1234: a thread, not a process"},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCodeOf(ExitCodeFor(c.result.outcome)), c.exitCode) << c.message;
    EXPECT_EQ(DescribeEnd(1234, 5, c.result), c.message);
  }
}

}  // namespace
}  // namespace zw::kill
