// The decisions of the Linux kill, against a scripted process on a virtual
// clock: which calls are made, in which order, and what is concluded.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "tools/kill/end_process.h"

namespace zw::kill {
namespace {

constexpr int kPid = 4242;
constexpr int kPidfd = 7;

/// How the scripted process behaves.
struct Script {
  int pidfdOpen = kPidfd;  // descriptor or -errno
  int pidfdSend = 0;       // 0 or -errno, for every pidfd_send_signal
  int killSend = 0;        // 0 or -errno, for kill(2) with a signal
  bool endsOnTerm = true;
  bool endsOnKill = true;
  bool reaped = true;           // its parent reaps it at once once it ends
  bool reusedAfterEnd = false;  // its pid passes to a new process once reaped
  bool endedAtStart = false;    // a zombie already
  int termDelayMs = 300;
  int pollInterruptions = 0;  // poll answers EINTR this often first
};

class FakeControl final : public ProcessControl {
 public:
  explicit FakeControl(const Script& script) : script_(script) {
    if (script.endedAtStart) endAt_ = 0;
  }

  int PidfdOpen(int pid) override {
    EXPECT_EQ(pid, kPid);
    calls.push_back("pidfd_open");
    if (script_.pidfdOpen >= 0) ++openFds;
    return script_.pidfdOpen;
  }
  int PidfdSendSignal(int pidfd, int signal) override {
    EXPECT_EQ(pidfd, kPidfd);
    calls.push_back("pidfd " + Name(signal));
    return Deliver(signal, script_.pidfdSend);
  }
  int PollPidfd(int pidfd, int timeoutMs) override {
    EXPECT_EQ(pidfd, kPidfd);
    EXPECT_GE(timeoutMs, 0);
    if (script_.pollInterruptions > 0) {
      --script_.pollInterruptions;
      now_ += timeoutMs / 2;
      return -EINTR;
    }
    if (Ended(now_ + timeoutMs)) {
      now_ = std::max(now_, *endAt_);
      return 1;
    }
    now_ += timeoutMs;
    return 0;
  }
  void Close(int fd) override {
    EXPECT_EQ(fd, kPidfd);
    --openFds;
  }
  int Kill(int pid, int signal) override {
    EXPECT_EQ(pid, kPid);
    if (signal != 0) {
      calls.push_back("kill " + Name(signal));
      return Deliver(signal, script_.killSend);
    }
    if (script_.killSend == -ESRCH) return -ESRCH;
    return Ended(now_) && script_.reaped && !script_.reusedAfterEnd ? -ESRCH : 0;
  }
  std::optional<ProcessStat> ReadStat(int pid) override {
    EXPECT_EQ(pid, kPid);
    if (!Ended(now_)) return ProcessStat{'S', 1000};
    if (!script_.reaped) return ProcessStat{'Z', 1000};
    if (script_.reusedAfterEnd) return ProcessStat{'S', 2000};
    return std::nullopt;
  }
  void SleepMs(int ms) override { now_ += ms; }
  std::int64_t NowMs() override { return now_; }

  std::vector<std::string> calls;  // the calls that can affect a process
  int openFds = 0;

 private:
  static std::string Name(int signal) {
    return signal == SIGTERM ? "TERM" : signal == SIGKILL ? "KILL" : std::to_string(signal);
  }
  bool Ended(std::int64_t at) const { return endAt_ && *endAt_ <= at; }

  int Deliver(int signal, int result) {
    if (result != 0 || endAt_) return result;
    if (signal == SIGTERM && script_.endsOnTerm) endAt_ = now_ + script_.termDelayMs;
    if (signal == SIGKILL && script_.endsOnKill) endAt_ = now_ + 5;
    return 0;
  }

  Script script_;
  std::int64_t now_ = 0;
  std::optional<std::int64_t> endAt_;
};

Script IgnoresTerm() {
  Script s;
  s.endsOnTerm = false;
  return s;
}

Script Without(Script s, int pidfdError) {
  s.pidfdOpen = -pidfdError;
  return s;
}

TEST(EndProcess, DecidesEveryPathFromWhatTheSystemAnswers) {
  Script notReaped;
  notReaped.reaped = false;
  Script zombie;
  zombie.endedAtStart = true;
  zombie.reaped = false;
  Script unkillable = IgnoresTerm();
  unkillable.endsOnKill = false;
  Script reused;
  reused.reusedAfterEnd = true;
  Script interrupted = IgnoresTerm();
  interrupted.pollInterruptions = 2;
  Script sendRefused;
  sendRefused.pidfdSend = -EPERM;
  Script goneSinceOpen;
  goneSinceOpen.pidfdSend = -ESRCH;
  Script sendFiltered;
  sendFiltered.pidfdSend = -ENOSYS;
  Script sendFails;
  sendFails.pidfdSend = -EINVAL;
  Script killNoProcess = Without({}, ENOSYS);
  killNoProcess.killSend = -ESRCH;
  Script killRefused = Without({}, ENOSYS);
  killRefused.killSend = -EPERM;

  const struct {
    const char* what;
    Script script;
    std::uint32_t grace;
    EndOutcome outcome;
    std::vector<std::string> calls;
    bool viaPidfd;
    std::int64_t elapsedMs;
  } cases[] = {
      {"honours TERM", {}, 5, EndOutcome::kEnded, {"pidfd_open", "pidfd TERM"}, true, 300},
      {"ignores TERM",
       IgnoresTerm(),
       5,
       EndOutcome::kEndedByKill,
       {"pidfd_open", "pidfd TERM", "pidfd KILL"},
       true,
       5005},
      {"grace 0", IgnoresTerm(), 0, EndOutcome::kEnded, {"pidfd_open", "pidfd KILL"}, true, 5},
      {"outlives KILL",
       unkillable,
       2,
       EndOutcome::kStillRunning,
       {"pidfd_open", "pidfd TERM", "pidfd KILL"},
       true,
       3000},
      {"zombie", zombie, 5, EndOutcome::kEnded, {"pidfd_open", "pidfd TERM"}, true, 0},
      {"poll interrupted",
       interrupted,
       5,
       EndOutcome::kEndedByKill,
       {"pidfd_open", "pidfd TERM", "pidfd KILL"},
       true,
       5005},
      {"no such pid", Without({}, ESRCH), 5, EndOutcome::kNoSuchProcess, {"pidfd_open"}, false, 0},
      {"not permitted",
       sendRefused,
       5,
       EndOutcome::kNotPermitted,
       {"pidfd_open", "pidfd TERM"},
       true,
       0},
      {"gone since open",
       goneSinceOpen,
       5,
       EndOutcome::kEnded,
       {"pidfd_open", "pidfd TERM"},
       true,
       0},
      {"other error", sendFails, 5, EndOutcome::kFailed, {"pidfd_open", "pidfd TERM"}, true, 0},
      {"send filtered",
       sendFiltered,
       5,
       EndOutcome::kEnded,
       {"pidfd_open", "pidfd TERM", "kill TERM"},
       false,
       300},
      {"old kernel",
       Without({}, ENOSYS),
       5,
       EndOutcome::kEnded,
       {"pidfd_open", "kill TERM"},
       false,
       300},
      {"old kernel, ignores TERM",
       Without(IgnoresTerm(), ENOSYS),
       5,
       EndOutcome::kEndedByKill,
       {"pidfd_open", "kill TERM", "kill KILL"},
       false,
       5020},
      {"filtered, grace 0",
       Without({}, EPERM),
       0,
       EndOutcome::kEnded,
       {"pidfd_open", "kill KILL"},
       false,
       20},
      {"thread id",
       Without({}, EINVAL),
       5,
       EndOutcome::kEnded,
       {"pidfd_open", "kill TERM"},
       false,
       300},
      {"old kernel, zombie after TERM",
       Without(notReaped, ENOSYS),
       5,
       EndOutcome::kEnded,
       {"pidfd_open", "kill TERM"},
       false,
       300},
      {"old kernel, pid reused after TERM",
       Without(reused, ENOSYS),
       5,
       EndOutcome::kEnded,
       {"pidfd_open", "kill TERM"},
       false,
       300},
      {"old kernel, no such pid",
       killNoProcess,
       5,
       EndOutcome::kNoSuchProcess,
       {"pidfd_open", "kill TERM"},
       false,
       0},
      {"old kernel, not permitted",
       killRefused,
       5,
       EndOutcome::kNotPermitted,
       {"pidfd_open", "kill TERM"},
       false,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeControl control(c.script);
    const EndResult result = EndProcess(control, kPid, c.grace);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(control.calls, c.calls);
    EXPECT_EQ(result.viaPidfd, c.viaPidfd);
    EXPECT_EQ(control.NowMs(), c.elapsedMs);
    EXPECT_LE(control.NowMs(), std::int64_t{c.grace} * 1000 + kConfirmMs);
    EXPECT_EQ(control.openFds, 0) << "the pidfd is closed";
    EXPECT_EQ(result.error, c.outcome == EndOutcome::kFailed ? EINVAL : 0);
  }
}

TEST(EndProcess, NeverPassesAPidThatNamesAGroup) {
  // kill(2) reads 0 as the own group and, as pid_t, 2147483648 and up as
  // negative: a group, or with -1 every process.
  for (const std::uint32_t pid : {0u, 2147483648u, 4294967295u, 4294967294u}) {
    FakeControl control(Script{});
    const EndResult result = EndProcess(control, pid, 0);
    EXPECT_EQ(result.outcome, EndOutcome::kNoSuchProcess) << pid;
    EXPECT_TRUE(control.calls.empty()) << pid;
  }
}

TEST(EndProcess, TellsWhatHappenedAndExitsAccordingly) {
  const struct {
    EndResult result;
    int exitCode;
    std::string message;
  } cases[] = {
      {{EndOutcome::kEnded, 0, true}, 0, ""},
      {{EndOutcome::kEndedByKill, 0, true},
       0,
       "kill: process 1234 did not end within 5 s of SIGTERM; ended by SIGKILL"},
      {{EndOutcome::kNoSuchProcess, 0, false},
       1,
       "kill: cannot signal process 1234: no such process"},
      {{EndOutcome::kNotPermitted, 0, true}, 1, "kill: cannot signal process 1234: not permitted"},
      {{EndOutcome::kStillRunning, 0, true},
       1,
       "kill: process 1234 is still running 1 s after SIGKILL"},
      {{EndOutcome::kFailed, EINVAL, true},
       1,
       "kill: cannot signal process 1234: Invalid argument (errno 22)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCodeFor(c.result.outcome), c.exitCode) << c.message;
    EXPECT_EQ(DescribeEnd(1234, 5, c.result), c.message);
  }
}

}  // namespace
}  // namespace zw::kill
