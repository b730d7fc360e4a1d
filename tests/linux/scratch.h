// The scaffolding every test of real processes shares: a temporary
// directory of its own, throwaway programs in it, and the children a test
// starts, which are killed and reaped however the test ends.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zw::testing {

class TempDir {
 public:
  /// `everyoneReads`: mode 0755 rather than mkdtemp's 0700, for tools the
  /// test runs as another user.
  explicit TempDir(bool everyoneReads = false) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "zwtest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    if (everyoneReads) ::chmod(pattern.c_str(), 0755);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// A copy of `from` (for example /bin/sleep) called `name` in `dir`, which
/// everybody may run: a throwaway program under a name of the test's own.
inline std::filesystem::path CopyProgram(const std::filesystem::path& from,
                                         const std::filesystem::path& dir,
                                         const std::string& name) {
  const std::filesystem::path copy = dir / name;
  std::filesystem::copy_file(from, copy, std::filesystem::copy_options::overwrite_existing);
  ::chmod(copy.c_str(), 0755);
  return copy;
}

/// Starts `program` with `argv` (argv[0] included) and returns once the
/// child runs it, so that a tool started next is sure to see it under its
/// name. `ignoreTerm`: the child ignores SIGTERM, which stays ignored
/// across exec. -1 when no child could be started.
inline pid_t StartProgram(const std::string& program, const std::vector<std::string>& argv,
                          bool ignoreTerm = false) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // The write end closes on exec: end of file on the read end means the
  // child has become the program (or has died).
  int execed[2];
  if (::pipe2(execed, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (ignoreTerm) ::signal(SIGTERM, SIG_IGN);
    ::execv(program.c_str(), args.data());
    ::_exit(127);
  }
  ::close(execed[1]);
  char byte = 0;
  while (pid > 0 && ::read(execed[0], &byte, 1) < 0 && errno == EINTR) {
  }
  ::close(execed[0]);
  return pid;
}

/// The children a test started: each one still there at the end is killed
/// and reaped, so that nothing outlives the test.
class Children {
 public:
  Children() = default;
  ~Children() {
    for (const pid_t pid : pids_) {
      ::kill(pid, SIGKILL);
      Wait(pid, 0);
    }
  }
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;

  pid_t Add(pid_t pid) {
    if (pid > 0) pids_.push_back(pid);
    return pid;
  }
  /// The wait status of `pid` once it has ended, and it is forgotten; -1
  /// while it runs. Waits for the end when `block`.
  int Reap(pid_t pid, bool block = false) {
    const int status = Wait(pid, block ? 0 : WNOHANG);
    if (status != -1) std::erase(pids_, pid);
    return status;
  }
  bool Running(pid_t pid) { return Reap(pid) == -1; }
  pid_t back() const { return pids_.back(); }

 private:
  static int Wait(pid_t pid, int options) {
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(pid, &status, options)) < 0 && errno == EINTR) {
    }
    if (got == 0) return -1;
    // Not a child any more (reaped elsewhere): ended, how is not known.
    return got == pid ? status : 0;
  }

  std::vector<pid_t> pids_;
};

}  // namespace zw::testing
