// kill for Linux: `kill [-t SECONDS] <pid>` ends exactly that one process,
// SIGTERM first and SIGKILL after the grace period (see end_process.h). With
// ZEITWACHE_TARGET set for that pid, only the process that started at that
// clock tick; set but unusable, none.
// The exit codes are those of kill_exit.h; each non-zero one, and an end
// that took SIGKILL, comes with one line on standard error.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kill_protocol/target_identity.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "tools/kill/end_process.h"
#include "tools/kill/kill_args.h"
#include "tools/kill/kill_exit.h"

namespace {

using zw::kill::ExitCodeOf;
using zw::kill::KillExit;

// The C library may predate the pidfd calls; the kernel may lack them. Both
// answer ENOSYS, which sends the caller to kill(2).
int PidfdOpenCall(int pid, int* pidfd) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd < 0) return errno;
  *pidfd = static_cast<int>(fd);
  return 0;
#else
  (void)pid;
  (void)pidfd;
  return ENOSYS;
#endif
}

int PidfdSendSignalCall(int pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
  return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0 ? 0 : errno;
#else
  (void)pidfd;
  (void)signal;
  return ENOSYS;
#endif
}

class SystemControl final : public zw::kill::ProcessControl {
 public:
  int PidfdOpen(int pid, int* pidfd) override { return PidfdOpenCall(pid, pidfd); }
  int PidfdSendSignal(int pidfd, int signal) override { return PidfdSendSignalCall(pidfd, signal); }

  int PollPidfd(int pidfd, int timeoutMs, bool* ended) override {
    pollfd entry{pidfd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready < 0) return errno;
    *ended = ready > 0;
    return 0;
  }

  void Close(int fd) override { ::close(fd); }
  int Kill(int pid, int signal) override { return ::kill(pid, signal) == 0 ? 0 : errno; }

  std::optional<zw::kill::ProcessStat> ReadStat(int pid) override {
    zw::posix::ProcStat stat;
    if (reader_.ReadStat(static_cast<std::uint32_t>(pid), &stat) != 0) return std::nullopt;
    return zw::kill::ProcessStat{stat.state, stat.startTicks, stat.flags, stat.threads};
  }

  int SelfPid() override { return static_cast<int>(::getpid()); }

  bool NamesProcess(int pid) override {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    std::string status;
    if (zw::posix::ReadFileAt(AT_FDCWD, path, 64 * 1024, &status) != 0) return true;
    const std::optional<std::uint32_t> tgid = zw::posix::StatusTgid(status);
    return !tgid || *tgid == static_cast<std::uint32_t>(pid);
  }

  void SleepMs(int ms) override {
    timespec interval{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&interval, &interval) != 0 && errno == EINTR) {
    }
  }

  std::int64_t NowMs() override {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

 private:
  zw::posix::ProcReader reader_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const zw::KillRequest request = zw::ParseKillArguments(arguments);
  if (request.help) {
    std::fputs(zw::KillUsage().data(), stdout);
    return ExitCodeOf(KillExit::kEnded);
  }
  if (!request.Ok()) {
    std::fprintf(stderr, "kill: %s\n", request.error.c_str());
    return ExitCodeOf(KillExit::kUsage);
  }
  std::optional<std::uint64_t> expected;
  if (!zw::TargetFromEnvironment(request.pid, &expected)) return ExitCodeOf(KillExit::kUsage);
  SystemControl control;
  const zw::kill::EndResult result =
      zw::kill::EndProcess(control, request.pid, request.graceSeconds, expected);
  const std::string message = zw::kill::DescribeEnd(request.pid, request.graceSeconds, result);
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  return ExitCodeOf(zw::kill::ExitCodeFor(result.outcome));
}
