// The watchdog never starts a kill someone else could have planted: it runs
// from a copy of its installed layout inside a directory anyone may write,
// where both places it looks first hold a kill that only leaves a mark. The
// one program it could end is a sleeper started here under a unique name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

namespace fs = std::filesystem;

TEST(KillLookup, PlantedKillInAnUntrustedDirectoryIsNeverRun) {
  char pattern[] = "/tmp/zw-planted-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern, marker = dir / "planted-kill-ran";
  ASSERT_EQ(chmod(pattern, 0777), 0);
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "libexec/zeitwache");
  fs::copy_file(ZW_BINARY, dir / "bin/zeitwache");
  const fs::path planted[] = {dir / "libexec/zeitwache/kill", dir / "bin/kill"};
  for (const fs::path& kill : planted) {
    std::ofstream(kill) << "#!/bin/sh\necho \"$@\" >> " << marker.string() << "\n";
    chmod(kill.c_str(), 0755);
  }
  const std::string name =
      "zwplant" + std::to_string(getpid()) + std::to_string(std::random_device()());
  fs::copy_file("/bin/sleep", dir / name);
  std::ofstream(dir / "ZEITWACHE.INI") << "[PGM]\nPGM001=" << name << "\nAKT001=1\n";
  const pid_t sleeper = fork();
  if (sleeper == 0) execl((dir / name).c_str(), name.c_str(), "60", nullptr), _exit(127);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const pid_t watchdog = fork();
  if (watchdog == 0) {
    // No kill anywhere else: only the planted ones could be run.
    setenv("PATH", "/nonexistent", 1);
    if (chdir(pattern) == 0 && freopen("run.err", "w", stderr) && freopen("run.out", "w", stdout)) {
      execl((dir / "bin/zeitwache").c_str(), "zeitwache", nullptr);
    }
    _exit(127);
  }
  // With no kill it may start, the run reports the program as not ended
  // and finishes; one that does not is stopped after a while.
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 100 && (ended = waitpid(watchdog, &status, WNOHANG)) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (ended == 0) kill(watchdog, SIGKILL), waitpid(watchdog, &status, 0);
  EXPECT_TRUE(ended == watchdog && WIFEXITED(status) && WEXITSTATUS(status) == 100) << status;
  std::ifstream in(dir / "run.err");
  const std::string errors(std::istreambuf_iterator<char>(in), {});
  EXPECT_FALSE(fs::exists(marker)) << "a planted kill ran";
  for (const fs::path& kill : planted) {
    EXPECT_NE(errors.find("zeitwache: not starting untrusted " + kill.string() + ": " +
                          dir.string() + " is writable by group or others\n"),
              std::string::npos)
        << errors;
  }
  EXPECT_EQ(waitpid(sleeper, &status, WNOHANG), 0) << "the sleeper was not signalled";
  kill(sleeper, SIGKILL);
  waitpid(sleeper, &status, 0);
  fs::remove_all(dir);
}
