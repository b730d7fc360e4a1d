// The watchdog never starts a kill that someone else could have planted. It
// runs from a copy of its installed layout inside a directory anyone may
// write, where both places it looks first hold a kill that only leaves a
// mark; the one program it could end is a sleeper started here under a name
// no other process has.
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
#include <random>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

pid_t Spawn(const fs::path& program, const char* arg, const fs::path& dir, const fs::path& out) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!out.empty()) {
      if (chdir(dir.c_str()) != 0 || !freopen((out.string() + ".out").c_str(), "w", stdout) ||
          !freopen((out.string() + ".err").c_str(), "w", stderr)) {
        _exit(126);
      }
      // No kill anywhere else either: only the planted ones could be run.
      setenv("PATH", "/nonexistent", 1);
    }
    execl(program.c_str(), program.filename().c_str(), arg, static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

TEST(KillLookup, PlantedKillInAnUntrustedDirectoryIsNeverRun) {
  char pattern[] = "/tmp/zw-planted-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "libexec" / "zeitwache");
  fs::copy_file(ZW_BINARY, dir / "bin" / "zeitwache");
  const fs::path marker = dir / "planted-kill-ran";
  for (const fs::path& planted : {dir / "bin" / "kill", dir / "libexec" / "zeitwache" / "kill"}) {
    std::ofstream(planted) << "#!/bin/sh\necho \"$@\" >> " << marker.string() << "\n";
    fs::permissions(planted, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  std::random_device random;
  const std::string name = "zwplant" + std::to_string(getpid()) + "x" + std::to_string(random());
  fs::copy_file("/bin/sleep", dir / name);
  const pid_t sleeper = Spawn(dir / name, "60", dir, {});
  std::ofstream(dir / "ZEITWACHE.INI") << "[PGM]\nPGM001=" << name << "\nAKT001=1\n";
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  const fs::path out = dir / "run";
  const pid_t watchdog = Spawn(dir / "bin" / "zeitwache", nullptr, dir, out);
  // A watchdog that cannot start kill may retry; it is stopped after a while.
  int status = 0;
  for (int i = 0; i < 50 && waitpid(watchdog, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (waitpid(watchdog, &status, WNOHANG) == 0) {
    kill(watchdog, SIGKILL);
    waitpid(watchdog, &status, 0);
  }
  std::ifstream errorsFile(out.string() + ".err");
  const std::string errors(std::istreambuf_iterator<char>(errorsFile), {});

  EXPECT_FALSE(fs::exists(marker)) << "a planted kill ran";
  for (const fs::path& planted : {dir / "libexec" / "zeitwache" / "kill", dir / "bin" / "kill"}) {
    EXPECT_NE(errors.find("zeitwache: not starting untrusted " + planted.string() + ": " +
                          dir.string() + " is writable by group or others\n"),
              std::string::npos)
        << errors;
  }
  EXPECT_EQ(waitpid(sleeper, &status, WNOHANG), 0) << "the sleeper was not signalled";
  kill(sleeper, SIGKILL);
  waitpid(sleeper, &status, 0);
  fs::remove_all(dir);
}

}  // namespace
