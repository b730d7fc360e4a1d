// The built tools against real processes. Every test runs in a private pid
// namespace of its own (pid_namespace_main.cc), so a run sees, and can end,
// only what the test started there: its watched programs, each a copy of
// sleep or a script, and its own SAMMLER where it starts one.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/linux/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace zw::testing;  // scratch.h
using Clock = std::chrono::steady_clock;

constexpr const char* kSetpriv = "/usr/bin/setpriv";

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes pidfd_open answer ENOSYS, as on a kernel without it.
bool HidePidfdOpen() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

constexpr int kNoSeccomp = 125;

std::string UniqueName(const std::string& stem) {
  std::random_device random;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", random());
  return stem + std::to_string(getpid()) + "x" + suffix;
}

std::string UpperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class Workspace {
 public:
  Workspace() : temp_(true), dir_(temp_.path()) {}

  const fs::path& dir() const { return dir_; }

  /// Runs a copy of the tool called `name` in `subdir` of the workspace from
  /// now on, with `kill` beside it when `killScript` is given.
  void UseCopy(const std::string& subdir, const std::string& name,
               const std::string& killScript = "") {
    fs::create_directories(dir_ / subdir);
    binary_ = dir_ / subdir / name;
    fs::copy_file(ZW_BINARY, binary_, fs::copy_options::overwrite_existing);
    if (killScript.empty()) return;
    std::ofstream(dir_ / subdir / "kill") << "#!/bin/sh\n" << killScript;
    chmod((dir_ / subdir / "kill").c_str(), 0755);
  }

  void WatchList(const std::string& text) { std::ofstream(dir_ / "ZEITWACHE.INI") << text; }

  /// Starts a copy of sleep called `name` for `seconds`, deaf to SIGTERM
  /// when `ignoreTerm`.
  pid_t StartSleeper(const std::string& name, int seconds, bool ignoreTerm = false) {
    const fs::path program = CopyProgram("/bin/sleep", dir_, name);
    return children_.Add(StartProgram(program, {name, std::to_string(seconds)}, ignoreTerm));
  }

  /// Starts a bash script called `name` with the text `body`.
  pid_t StartScript(const std::string& name, const std::string& body) {
    const fs::path program = dir_ / name;
    std::ofstream(program) << "#!/bin/bash\n" << body;
    fs::permissions(program, fs::perms::owner_all);
    return children_.Add(StartProgram(program, {name}));
  }

  /// Reaps `pid` and returns its wait status, or -1 if it has not ended;
  /// waits for its end when `block`.
  int Reap(pid_t pid, bool block = false) { return children_.Reap(pid, block); }

  /// Runs the tool in the workspace; kills it after `timeout`. With
  /// `asNobody`, a copy of the tool in the workspace runs as user nobody
  /// (which takes setpriv); `watch` sees the output as it comes.
  ToolRun Run(std::vector<std::string> args, std::chrono::seconds timeout, bool asNobody = false,
              const std::function<void(const std::string&)>& watch = {}) {
    std::vector<std::string> command = {binary_.string()};
    if (asNobody) {
      const fs::path copy = dir_ / "zeitwache";
      fs::copy_file(ZW_BINARY, copy, fs::copy_options::overwrite_existing);
      command = {kSetpriv,         "--reuid=65534",   "--regid=65534",
                 "--clear-groups", "--inh-caps=-all", copy.string()};
    }
    command.insert(command.end(), args.begin(), args.end());
    return Exec(command, timeout, watch);
  }

  /// Runs the built kill with `args`, without pidfd_open if `withoutPidfd`.
  ToolRun RunKill(std::vector<std::string> args, bool withoutPidfd = false) {
    args.insert(args.begin(), ZW_KILL_BINARY);
    return Exec(args, std::chrono::seconds(30), {}, withoutPidfd);
  }

 private:
  ToolRun Exec(std::vector<std::string> command, std::chrono::seconds timeout,
               const std::function<void(const std::string&)>& watch, bool withoutPidfd = false) {
    const fs::path errors = dir_ / "stderr";
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      if (withoutPidfd && !HidePidfdOpen()) _exit(kNoSeccomp);
      dup2(pipeFds[1], STDOUT_FILENO);
      close(pipeFds[0]);
      if (!freopen(errors.c_str(), "w", stderr)) _exit(126);
      if (chdir(dir_.c_str()) != 0) _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeFds[1]);
    ToolRun run;
    const auto deadline = Clock::now() + timeout;
    pollfd fd{pipeFds[0], POLLIN, 0};
    char buffer[4096];
    while (Clock::now() < deadline) {
      if (poll(&fd, 1, 100) <= 0) continue;
      const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      run.output.append(buffer, static_cast<std::size_t>(n));
      if (watch) watch(run.output);
    }
    close(pipeFds[0]);
    if (Clock::now() >= deadline) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.errors = ReadFile(errors);
    return run;
  }

  TempDir temp_;
  const fs::path& dir_;
  fs::path binary_ = ZW_BINARY;
  Children children_;
};

bool EndedBySignal(int status, int signal) {
  return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

std::string Line(const std::string& format, const std::string& name, pid_t pid) {
  return format + UpperCase(name) + ".EXE, " + std::to_string(pid);
}

// Lists `name` with a limit of 1 s and lets `watched` outlive it.
pid_t Overdue(Workspace& ws, const std::string& name, pid_t watched) {
  ws.WatchList("[PGM]\nPGM001=" + name + "\nAKT001=1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  return watched;
}

TEST(EndToEnd, EmptyDirectoryCountsNothing) {
  Workspace ws;
  const ToolRun run = ws.Run({}, std::chrono::seconds(10));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_EQ(run.output, "Anzahl Prozesse 0\n");
}

// Runs of the tool as an ordinary user: they take root to start and
// setpriv to change user.
class EndToEndAsNobody : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
    if (access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "needs setpriv (util-linux)";
  }
};

TEST_F(EndToEndAsNobody, IsToldThePrivilegeIsMissing) {
  Workspace ws;
  const ToolRun run = ws.Run({}, std::chrono::seconds(10), true);
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_EQ(run.output, "AdjustTokenPrivileges failed with 1300\nAnzahl Prozesse 0\n");
}

// Another user's overdue program cannot be opened, so it stays unmeasured
// and is waited for, as on Windows without the debug privilege; it is not
// sent a kill that would fail at every check.
TEST_F(EndToEndAsNobody, WaitsForAnotherUsersOverdueProgram) {
  Workspace ws;
  const std::string name = UniqueName("zwroot");
  const pid_t watched = Overdue(ws, name, ws.StartSleeper(name, 60));
  bool ended = false;
  const ToolRun run = ws.Run({"/D"}, std::chrono::seconds(30), true, [&](const std::string& out) {
    // Once it waits, the program ends, and so does the run.
    if (!ended && out.find("Wait 5 sek\n") != std::string::npos)
      ended = kill(watched, SIGKILL) == 0;
  });
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_NE(run.output.find(Line("Prozess gefunden ", name, watched) + " (Laufzeit= 0 Sekunden)"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Prozess beendet"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("CreateProcess failed"), std::string::npos) << run.output;
  EXPECT_TRUE(EndedBySignal(ws.Reap(watched), SIGKILL)) << "ended by the test, not by the tool";
}

TEST(EndToEndTermination, OverdueProgramIsTerminatedWithItsCompanion) {
  Workspace ws;
  const std::string name = UniqueName("zwover");  // longer than the kernel's 15
  const pid_t watched = ws.StartSleeper(name, 60);
  const pid_t companion = ws.StartSleeper("sammler", 60);
  ws.WatchList("[PGM]\nPGM001=" + name + "\nAKT001=1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const ToolRun run = ws.Run({}, std::chrono::seconds(30));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_NE(run.output.find(Line("Prozess beendet: ", name, watched) + "  (Laufzeit= "),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("\nAnzahl Prozesse "), std::string::npos);
  EXPECT_TRUE(EndedBySignal(ws.Reap(watched), SIGTERM));
  EXPECT_TRUE(EndedBySignal(ws.Reap(companion), SIGTERM));
}

TEST(EndToEndTermination, PatternEntryTerminatesARealProgram) {
  Workspace ws;
  const std::string name = UniqueName("zwpat");
  const pid_t watched = ws.StartSleeper(name, 60);
  ws.WatchList("[PGM]\nPGM001=*" + name.substr(2, 8) + "*\nAKT001=1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const ToolRun run = ws.Run({}, std::chrono::seconds(30));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_NE(run.output.find(Line("Prozess beendet: ", name, watched)), std::string::npos)
      << run.output;
  EXPECT_TRUE(EndedBySignal(ws.Reap(watched), SIGTERM));
}

TEST(EndToEnd, ProgramWithinItsLimitIsWaitedFor) {
  Workspace ws;
  const std::string name = UniqueName("zwwait");
  const pid_t watched = ws.StartSleeper(name, 3);
  ws.WatchList("[PGM]\nPGM001=" + name + "\nAKT001=600\n");
  // Reap the sleeper as soon as it ends, as its parent would.
  std::thread reaper([&] { ws.Reap(watched, true); });
  const auto started = Clock::now();
  const ToolRun run = ws.Run({"/D"}, std::chrono::seconds(30));
  reaper.join();
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_EQ(run.output.find("Prozess beendet"), std::string::npos) << run.output;
  // The sleeper ended by itself, so the tool needed at least one 5 s wait.
  EXPECT_GE(Clock::now() - started, std::chrono::seconds(5));
  const std::string entry = UpperCase(name);
  EXPECT_NE(run.output.find("Pruefe " + name + " (MaxRunTime = 600)\n"), std::string::npos);
  EXPECT_NE(run.output.find("Prozess: /IDLE.EXE/-2/0/" + entry + "/\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(Line("Prozess gefunden ", name, watched) + " (Laufzeit= "),
            std::string::npos);
  EXPECT_NE(run.output.find("Wait 5 sek\n"), std::string::npos);
  EXPECT_NE(run.output.find("Prozess: /_TOTAL.EXE/-2/"), std::string::npos);
}

// Neither a dry run, a request for help, a list check nor a misspelt
// option may terminate anything, even beside a watch list whose program is
// overdue.
TEST(EndToEnd, DryRunHelpCheckAndMisspeltOptionLeaveAnOverdueProgramRunning) {
  Workspace ws;
  const std::string name = UniqueName("zwdry");
  const pid_t watched = Overdue(ws, name, ws.StartSleeper(name, 60));

  const ToolRun dry = ws.Run({"--dry-run"}, std::chrono::seconds(10));
  EXPECT_EQ(dry.exitCode, 0);
  EXPECT_TRUE(dry.output.starts_with("Probelauf: es wird nichts beendet\n")) << dry.output;
  // Built by append: GCC 12 misreads "\n" + std::string as an overlapping copy.
  const std::string wouldEnd =
      std::string("\n").append(Line("Wuerde beenden: ", name, watched)).append("\n");
  EXPECT_NE(dry.output.find(wouldEnd), std::string::npos) << dry.output;
  EXPECT_NE(dry.output.find("\nAnzahl Prozesse "), std::string::npos);

  const ToolRun help = ws.Run({"--help"}, std::chrono::seconds(10));
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.output.starts_with("Usage: zeitwache [/D] [--dry-run | --check [FILE]]\n"))
      << help.output;
  EXPECT_EQ(help.output.find("Anzahl Prozesse"), std::string::npos);

  const ToolRun check = ws.Run({"--check"}, std::chrono::seconds(10));
  EXPECT_EQ(check.exitCode, 0) << check.output;
  EXPECT_NE(check.output.find("Eintrag 001: Name " + name + ", Grenze 1 Sekunden\n"),
            std::string::npos);

  const ToolRun misspelt = ws.Run({"--dryrun"}, std::chrono::seconds(10));
  EXPECT_EQ(misspelt.exitCode, 2);
  EXPECT_EQ(misspelt.output, "");
  EXPECT_TRUE(misspelt.errors.starts_with("zeitwache: unknown option --dryrun\nUsage: "));

  // Given a moment in which a started kill would have ended it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ws.Reap(watched), -1);
  EXPECT_EQ(kill(watched, 0), 0);
}

// A name of at most 15 characters, so that the kernel keeps a script's name
// whole and the watchdog sees it as written.
std::string ShortName() {
  std::random_device random;
  char name[16];
  std::snprintf(name, sizeof name, "zwt%08x", random());
  return name;
}

// One program ends on SIGTERM and is not sent SIGKILL; the other ignores it
// and is killed once the grace period is over.
TEST(EndToEndTermination, TermIsObeyedOrFollowedByKillAfterTheGracePeriod) {
  Workspace ws;
  const std::string deafName = UniqueName("zwdeaf");
  const std::string politeName = ShortName();
  const fs::path marker = ws.dir() / "ended-on-term";
  const std::string trap = "trap 'kill $child; echo > " + marker.string() + "; exit 0' TERM\n";
  const pid_t deaf = ws.StartSleeper(deafName, 300, /*ignoreTerm=*/true);
  const pid_t polite = ws.StartScript(politeName, trap + "sleep 60 & child=$!\nwait\n");
  ws.WatchList("[PGM]\nPGM001=" + deafName + "\nAKT001=1\nPGM002=" + politeName + "\nAKT002=1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const ToolRun run = ws.Run({}, std::chrono::seconds(50));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_NE(run.output.find(Line("Prozess beendet: ", deafName, deaf)), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(Line("Prozess beendet: ", politeName, polite)), std::string::npos);
  EXPECT_NE(run.output.find("\nAnzahl Prozesse "), std::string::npos);
  EXPECT_TRUE(EndedBySignal(ws.Reap(deaf), SIGKILL));
  EXPECT_TRUE(fs::exists(marker));
  const int status = ws.Reap(polite);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A program that takes 4 s to end after SIGTERM outlives the pause after
// its termination; it must not be sent a second SIGTERM meanwhile.
TEST(EndToEndTermination, SlowProgramGetsOneTermAndOneLine) {
  Workspace ws;
  const std::string name = ShortName();
  const fs::path marker = ws.dir() / "terms";
  const pid_t slow = ws.StartScript(
      name, "trap 'echo TERM >> " + marker.string() + "; ending=1' TERM\n" +
                "while :; do sleep 0.1; [ -n \"$ending\" ] && { sleep 4; exit 0; }; done\n");
  Overdue(ws, name, slow);
  const ToolRun run = ws.Run({}, std::chrono::seconds(40));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_EQ(Count(run.output, "Prozess beendet: "), 1u) << run.output;
  EXPECT_EQ(ReadFile(marker), "TERM\n");
  const int status = ws.Reap(slow);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A kill that cannot end the program: the run says so once, finishes, and
// its exit code tells.
TEST(EndToEndTermination, FailedKillIsReportedOnceAndTheRunEnds) {
  Workspace ws;
  ws.UseCopy("bin", "zeitwache", "exit 1\n");
  const std::string name = UniqueName("zwfail");
  const pid_t watched = Overdue(ws, name, ws.StartSleeper(name, 60));
  const ToolRun run = ws.Run({}, std::chrono::seconds(30));
  EXPECT_EQ(run.exitCode, 101);
  EXPECT_EQ(Count(run.output, Line("Prozess beendet: ", name, watched)), 1u) << run.output;
  EXPECT_EQ(Count(run.output, Line("Prozess nicht beendet: ", name, watched) + "\n"), 1u);
  EXPECT_NE(run.output.find("\nAnzahl Prozesse "), std::string::npos);
  EXPECT_EQ(ws.Reap(watched), -1) << "the stand-in kill ends nothing";
}

// A kill that others could have planted beside the tool is never run, even
// where no other kill is found; the run says why and ends.
TEST(EndToEndTermination, PlantedKillInAnUntrustedDirectoryIsNeverRun) {
  Workspace ws;
  const fs::path marker = ws.dir() / "planted-kill-ran";
  const std::string planted = "echo \"$@\" >> " + marker.string() + "\n";
  ws.UseCopy("libexec/zeitwache", "unused", planted);
  ws.UseCopy("bin", "zeitwache", planted);
  // Not the workspace itself: a list others may change is refused first.
  chmod((ws.dir() / "libexec").c_str(), 0777);
  chmod((ws.dir() / "bin").c_str(), 0777);
  const std::string name = UniqueName("zwplant");
  const pid_t watched = Overdue(ws, name, ws.StartSleeper(name, 60));
  const std::string path = std::getenv("PATH");
  setenv("PATH", "/nonexistent", 1);
  const ToolRun run = ws.Run({}, std::chrono::seconds(20));
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(run.exitCode, 101);
  EXPECT_FALSE(fs::exists(marker)) << "a planted kill ran";
  for (const char* kill : {"libexec/zeitwache/kill", "bin/kill"}) {
    const fs::path open = ws.dir() / fs::path(kill).begin()->string();
    EXPECT_NE(run.errors.find("zeitwache: not starting untrusted " + (ws.dir() / kill).string() +
                              ": " + open.string() + " is writable by group or others\n"),
              std::string::npos)
        << run.errors;
  }
  EXPECT_EQ(ws.Reap(watched), -1) << "the program was not signalled";
}

// An empty name names no program: every other process of the namespace is
// overdue, and none is ended.
TEST(EndToEnd, EmptyEntryEndsNothing) {
  Workspace ws;
  const pid_t watched = Overdue(ws, "", ws.StartSleeper(UniqueName("zwempty"), 60));
  const ToolRun run = ws.Run({}, std::chrono::seconds(20));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_EQ(run.output.find("Prozess beendet"), std::string::npos) << run.output;
  EXPECT_EQ(ws.Reap(watched), -1);
  EXPECT_EQ(kill(watched, 0), 0);
}

// An entry that names the watchdog itself is passed over, not obeyed.
TEST(EndToEnd, OwnNameIsNeverATarget) {
  Workspace ws;
  const std::string name = UniqueName("zwself");
  ws.UseCopy("bin", name);
  ws.WatchList("[PGM]\nPGM001=" + name + "\nAKT001=1\n");
  const ToolRun run = ws.Run({"/D"}, std::chrono::seconds(20));
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_NE(run.output.find("Prozess uebergangen: " + UpperCase(name) + ".EXE, "),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("\nAnzahl Prozesse "), std::string::npos);
}

// A pid above the kernel's limit: no process has it, now or later.
std::string PidNoProcessCanHave() {
  long pidMax = 4194304;
  std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
  return std::to_string(pidMax + 1);
}

TEST(KillCommand, RefusesWhatItCannotEnd) {
  Workspace ws;
  const std::string none = PidNoProcessCanHave();
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  } cases[] = {
      {{none}, 3, "kill: cannot signal process " + none + ": no such process\n"},
      {{}, 2, "kill: missing process identifier (usage: kill [-t SECONDS] <pid>)\n"},
      {{"-5"}, 2, "kill: invalid process identifier \"-5\": must be positive\n"},
      {{"2147483648"},
       2,
       "kill: invalid process identifier \"2147483648\": out of range (at most 2147483647)\n"},
  };
  for (const auto& c : cases) {
    const ToolRun run = ws.RunKill(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
    EXPECT_EQ(run.errors, c.message);
    EXPECT_EQ(run.output, "");
  }
}

// Without pidfd_open kill watches the bare pid. Its targets are never
// reaped before it is done, so it has to count a process that has ended but
// waits for its parent as ended. (The runs above take the pidfd path.)
TEST(KillCommand, EndsItsTargetWithoutPidfd) {
  Workspace ws;
  const pid_t polite = ws.StartSleeper(UniqueName("zwterm"), 60);
  const pid_t deaf = ws.StartSleeper(UniqueName("zwdeaf"), 60, /*ignoreTerm=*/true);

  const ToolRun ended = ws.RunKill({std::to_string(polite)}, true);
  if (ended.exitCode == kNoSeccomp) GTEST_SKIP() << "no seccomp filters here";
  EXPECT_EQ(ended.exitCode, 0) << ended.errors;
  EXPECT_EQ(ended.errors, "");
  EXPECT_TRUE(EndedBySignal(ws.Reap(polite), SIGTERM));

  const ToolRun killed = ws.RunKill({"--grace=1", std::to_string(deaf)}, true);
  EXPECT_EQ(killed.exitCode, 0) << killed.errors;
  EXPECT_EQ(killed.errors, "kill: process " + std::to_string(deaf) +
                               " did not end within 1 s of SIGTERM; ended by SIGKILL\n");
  EXPECT_TRUE(EndedBySignal(ws.Reap(deaf), SIGKILL));
}

}  // namespace
