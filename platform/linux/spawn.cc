#include "platform/linux/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace zw::posix {
namespace {

// Between fork and exec only async-signal-safe calls are made: everything
// the child needs is prepared by the parent beforehand.
void MarkDescriptorsCloseOnExec(int openMax) {
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  for (int fd = 3; fd < openMax; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void RunChild(const char* path, char* const* argv, int reportFd, int openMax) {
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // The watchdog ignores SIGPIPE for itself; the command gets the default.
  ::signal(SIGPIPE, SIG_DFL);
  MarkDescriptorsCloseOnExec(openMax);
  ::execve(path, argv, environ);
  // The report pipe closes on a successful exec; reaching this point means
  // the exec failed, and the parent waits for exactly this word.
  const int error = errno;
  [[maybe_unused]] const ssize_t written = ::write(reportFd, &error, sizeof error);
  ::_exit(127);
}

// The errno of the exec the child reported before the pipe closed; 0 when
// the pipe closed without one, as a successful exec closes it.
int ReadExecError(int fd) {
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(fd, &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

int StartProgram(const std::string& path, const std::vector<std::string>& args, int* pid) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child == 0) {
    RunChild(path.c_str(), argv.data(), report[1], openMax > 0 ? static_cast<int>(openMax) : 1024);
  }
  const int forkError = errno;
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return forkError;
  }
  const int execError = ReadExecError(report[0]);
  ::close(report[0]);
  if (execError != 0) {
    WaitFor(child);  // it exits right after reporting
    return execError;
  }
  *pid = child;
  return 0;
}

std::uint32_t WaitForEnd(int pid) {
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped < 0) return 1;
  if (WIFSIGNALED(status)) return 128 + static_cast<std::uint32_t>(WTERMSIG(status));
  return static_cast<std::uint32_t>(WEXITSTATUS(status));
}

std::optional<std::uint32_t> ReapIfEnded(int pid) {
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(pid, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == 0) return std::nullopt;
  if (reaped < 0) return 1;
  if (WIFSIGNALED(status)) return 128 + static_cast<std::uint32_t>(WTERMSIG(status));
  return static_cast<std::uint32_t>(WEXITSTATUS(status));
}

}  // namespace zw::posix
