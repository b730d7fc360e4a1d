// The end-to-end tests' main: every test runs in a private pid namespace
// with its own /proc, so the tools they start see, and can signal, only the
// processes these tests started. Pid 1 of the namespace only reaps orphans
// (and ignores signals it has no handler for); the tests run as its child,
// where signals keep their usual actions. When pid 1 ends, the kernel ends
// everything left in the namespace.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int ExitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Pid 1: reaps until `tests` ends, then ends with its exit code.
[[noreturn]] void ReapUntil(pid_t tests) {
  for (;;) {
    int status = 0;
    const pid_t pid = ::wait(&status);
    if (pid == tests) ::_exit(ExitCodeOf(status));
    if (pid < 0 && errno != EINTR) ::_exit(1);
  }
}

// A /proc of the namespace's own, mounted where only this namespace sees it.
bool MountOwnProc() {
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0;
}

// Returns in the process that runs the tests, inside the namespace; the
// processes outside and at pid 1 only wait and pass its exit code on. An
// empty result means the namespace was entered.
std::string EnterPidNamespace() {
  if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) return std::strerror(errno);
  const pid_t init = ::fork();
  if (init < 0) return std::strerror(errno);
  if (init > 0) {
    int status = 0;
    while (::waitpid(init, &status, 0) < 0 && errno == EINTR) {
    }
    ::_exit(ExitCodeOf(status));
  }
  // Should the test runner end this process's parent (a timeout), the whole
  // namespace goes with it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (!MountOwnProc()) {
    std::fprintf(stderr, "cannot mount a /proc of the namespace: %s\n", std::strerror(errno));
    ::_exit(1);
  }
  const pid_t tests = ::fork();
  if (tests < 0) ::_exit(1);
  if (tests > 0) ReapUntil(tests);
  return {};
}

// Skips every test where no namespace can be had (an ordinary user):
// nothing the tools could end is started then.
class NoNamespace : public ::testing::Environment {
 public:
  explicit NoNamespace(std::string reason) : reason_(std::move(reason)) {}
  void SetUp() override {
    GTEST_SKIP() << "needs a private pid namespace, which takes root (unshare: " << reason_ << ")";
  }

 private:
  std::string reason_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string failure = EnterPidNamespace();
  ::testing::InitGoogleTest(&argc, argv);
  if (!failure.empty()) {
    // Root is given the namespace wherever the kernel has them: a failure
    // there is a fault to see, not a reason to skip.
    if (::geteuid() == 0) {
      std::fprintf(stderr, "cannot enter a private pid namespace: %s\n", failure.c_str());
      return 1;
    }
    ::testing::AddGlobalTestEnvironment(new NoNamespace(failure));
  }
  return RUN_ALL_TESTS();
}
