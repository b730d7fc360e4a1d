// The built tools against what an ordinary user on the same machine can do
// to a root run: hide among many processes, lend it a watch list, close its
// output, or hand a pid on to another process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/linux/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace zw::testing;  // scratch.h

constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr uid_t kNobody = 65534;

struct Result {
  int exitCode = -1;
  std::string output;
  std::string errors;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A directory of the test's own that everybody may read; what it started is
// killed and reaped at the end.
class Scratch {
 public:
  Scratch() : temp_(true), dir_(temp_.path()) {}
  const fs::path& dir() const { return dir_; }
  void WatchList(const fs::path& at, const std::string& name) {
    std::ofstream(at) << "[PGM]\nPGM001=" << name << "\nAKT001=1\n";
  }

  pid_t StartOverdue(const std::string& name) {
    const pid_t pid = Start(name);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past a limit of 1 s
    return pid;
  }
  // A copy of sleep called `name`, for a minute; as user nobody (through
  // setpriv) with `argv0` as its argv[0] when that is given.
  pid_t Start(const std::string& name, const std::string& argv0 = "") {
    const fs::path copy = dir_ / name;
    if (!fs::exists(copy)) CopyProgram("/bin/sleep", dir_, name);
    if (argv0.empty()) return children_.Add(StartProgram(copy, {name, "60"}));
    return children_.Add(
        StartProgram(kSetpriv, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                "/bin/bash", "-c", "exec -a \"$0\" \"$1\" 60", argv0, copy}));
  }
  // Keeps a core busy until the end of the test.
  void Spin() {
    const pid_t pid = ::fork();
    for (volatile unsigned turns = 0; pid == 0;) turns = turns + 1;
    children_.Add(pid);
  }
  // Reaps `pid` once it has ended, so that it is never signalled again.
  bool Running(pid_t pid) { return children_.Running(pid); }

  Result Shell(const std::string& script) {
    const std::string command = "cd " + dir_.string() + " && { " + script + "; } >" +
                                (dir_ / "out").string() + " 2>" + (dir_ / "err").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_ / "out"), Slurp(dir_ / "err")};
  }

 private:
  TempDir temp_;
  const fs::path& dir_;
  Children children_;
};

class HostileEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || ::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "needs root, setpriv";
  }
  Scratch scratch_;
};

// 150 processes of another user whose names, taken from 60,000-byte command
// lines, would fill any buffer: the run still sees, and ends, its program.
TEST_F(HostileEndToEnd, LongCommandLinesOfAnotherUserHideNothing) {
  const std::string name = "zwhostileblind1";  // as long as the kernel keeps
  std::vector<pid_t> blinders;
  for (int i = 0; i < 150; ++i)
    blinders.push_back(scratch_.Start(name, name + std::string(60'000, 'x')));
  for (const pid_t pid : blinders) {
    while (Slurp("/proc/" + std::to_string(pid) + "/cmdline").size() < 60'000) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  scratch_.WatchList(scratch_.dir() / "ZEITWACHE.INI", "zwover");
  const pid_t overdue = scratch_.StartOverdue("zwover");
  const Result run = scratch_.Shell(ZW_BINARY);
  EXPECT_EQ(run.exitCode, 100) << run.errors;
  EXPECT_NE(run.output.find("Prozess beendet: ZWOVER.EXE, " + std::to_string(overdue)),
            std::string::npos)
      << run.output;
  EXPECT_FALSE(scratch_.Running(overdue));
}

// A list that is a link into another user's directory is theirs to change.
TEST_F(HostileEndToEnd, ListLinkedIntoAnotherUsersDirectoryIsRefused) {
  const fs::path theirs = scratch_.dir() / "theirs";
  fs::create_directory(theirs);
  scratch_.WatchList(theirs / "list.ini", "zwover");
  ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);
  fs::create_symlink(theirs / "list.ini", scratch_.dir() / "ZEITWACHE.INI");
  const pid_t overdue = scratch_.StartOverdue("zwover");
  const Result run = scratch_.Shell(ZW_BINARY);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errors.find("zeitwache: watch list refused: " + theirs.string() +
                            " is owned by user 65534"),
            std::string::npos)
      << run.errors;
  EXPECT_TRUE(scratch_.Running(overdue));
}

// A reader that goes away after one byte ends neither the run nor its work.
TEST_F(HostileEndToEnd, ClosedOutputEndsNothingButTheOutput) {
  scratch_.WatchList(scratch_.dir() / "ZEITWACHE.INI", "zwover");
  const pid_t overdue = scratch_.StartOverdue("zwover");
  const Result run = scratch_.Shell(std::string("/bin/bash -c '") + ZW_BINARY +
                                    " /D | head -c1 >/dev/null; echo ${PIPESTATUS[0]}'");
  EXPECT_EQ(run.output, "100\n") << run.errors;
  EXPECT_FALSE(scratch_.Running(overdue));
}

// kill takes the start as /proc gives it and compares it exactly: a busy
// machine cannot make it miss its target, and a pid handed on to a later
// process (here by ns_last_pid) is refused.
TEST_F(HostileEndToEnd, KillTakesItsTargetUnderLoadAndRefusesARecycledPid) {
  scratch_.Spin();
  scratch_.Spin();
  // Field 22 of /proc/PID/stat: the start in clock ticks since boot.
  const auto startOf = [&](pid_t pid) {
    return scratch_.Shell("awk '{printf $22}' /proc/" + std::to_string(pid) + "/stat").output;
  };
  const pid_t first = scratch_.Start("zwfirst");
  const std::string firstStart = startOf(first);
  ::kill(first, SIGKILL);
  while (scratch_.Running(first)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::ofstream("/proc/sys/kernel/ns_last_pid") << first - 1;
  const pid_t later = scratch_.Start("zwlater");
  ASSERT_EQ(later, first) << "the pid was not handed on";
  const auto killWith = [&](const std::string& start) {
    return scratch_.Shell("ZEITWACHE_TARGET=" + std::to_string(later) + ":" + start + " " +
                          ZW_KILL_BINARY + " " + std::to_string(later));
  };
  EXPECT_EQ(killWith(firstStart).exitCode, 4);
  EXPECT_TRUE(scratch_.Running(later));
  const Result ended = killWith(startOf(later));
  EXPECT_EQ(ended.exitCode, 0) << ended.errors;
  EXPECT_FALSE(scratch_.Running(later));
}

}  // namespace
