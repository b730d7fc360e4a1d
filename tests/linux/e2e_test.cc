// The built tool against real processes. Every watched program is a copy of
// sleep under a name no other process has, so nothing else is ever signalled.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kSetpriv = "/usr/bin/setpriv";

struct ToolRun {
  int exitCode = -1;
  std::string output;
};

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

// True when any running process is called `comm`.
bool AnyProcessNamed(const std::string& comm) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "comm");
    std::string name;
    if (std::getline(in, name) && UpperCase(name) == UpperCase(comm)) return true;
  }
  return false;
}

class Workspace {
 public:
  Workspace() {
    char pattern[] = "/tmp/zeitwache-e2e-XXXXXX";
    dir_ = mkdtemp(pattern);
    chmod(dir_.c_str(), 0755);
  }
  ~Workspace() {
    for (const pid_t pid : children_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  const fs::path& dir() const { return dir_; }

  void WatchList(const std::string& text) { std::ofstream(dir_ / "ZEITWACHE.INI") << text; }

  /// Starts a copy of sleep called `name` for `seconds`.
  pid_t StartSleeper(const std::string& name, int seconds) {
    const fs::path program = dir_ / name;
    fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string arg = std::to_string(seconds);
      execl(program.c_str(), name.c_str(), arg.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    children_.push_back(pid);
    return pid;
  }

  /// Reaps `pid` and returns its wait status, or -1 if it has not ended.
  int Reap(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return -1;
    std::erase(children_, pid);
    return status;
  }

  /// Ends a sleeper started here and returns its wait status.
  int End(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::erase(children_, pid);
    return status;
  }

  /// Runs the tool in the workspace; kills it after `timeout`. With
  /// `asNobody`, a copy of the tool in the workspace runs as user nobody
  /// (which takes setpriv); `watch` sees the output as it comes.
  ToolRun Run(std::vector<std::string> args, std::chrono::seconds timeout, bool asNobody = false,
              const std::function<void(const std::string&)>& watch = {}) {
    std::vector<std::string> command = {ZW_BINARY};
    if (asNobody) {
      const fs::path copy = dir_ / "zeitwache";
      fs::copy_file(ZW_BINARY, copy, fs::copy_options::overwrite_existing);
      command = {kSetpriv,         "--reuid=65534",   "--regid=65534",
                 "--clear-groups", "--inh-caps=-all", copy.string()};
    }
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(pipeFds[1], STDOUT_FILENO);
      close(pipeFds[0]);
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
    return run;
  }

 private:
  fs::path dir_;
  std::vector<pid_t> children_;
};

bool EndedBySignal(int status, int signal) {
  return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

std::string Line(const std::string& format, const std::string& name, pid_t pid) {
  return format + UpperCase(name) + ".EXE, " + std::to_string(pid);
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
  const pid_t watched = ws.StartSleeper(name, 60);
  ws.WatchList("[PGM]\nPGM001=" + name + "\nAKT001=1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int status = -1;
  const ToolRun run = ws.Run({"/D"}, std::chrono::seconds(30), true, [&](const std::string& out) {
    // Once it waits, the program ends, and so does the run.
    if (status == -1 && out.find("Wait 5 sek\n") != std::string::npos) status = ws.End(watched);
  });
  EXPECT_EQ(run.exitCode, 100);
  EXPECT_NE(run.output.find(Line("Prozess gefunden ", name, watched) + " (Laufzeit= 0 Sekunden)"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Prozess beendet"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("CreateProcess failed"), std::string::npos) << run.output;
  EXPECT_TRUE(EndedBySignal(status, SIGKILL)) << "ended by the test, not by the tool";
}

// The companion is a program of a fixed name: these tests refuse to run
// where some other process already has it.
class EndToEndTermination : public ::testing::Test {
 protected:
  void SetUp() override {
    if (AnyProcessNamed("sammler")) GTEST_SKIP() << "a process named SAMMLER runs here";
  }
};

TEST_F(EndToEndTermination, OverdueProgramIsTerminatedWithItsCompanion) {
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

TEST_F(EndToEndTermination, PatternEntryTerminatesARealProgram) {
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
  std::thread reaper([&] {
    int status = 0;
    waitpid(watched, &status, 0);
  });
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

}  // namespace
