// The built tool against a process that takes a watched name by exec while
// the tool waits at that very entry. Every process signalled here was
// started here, under a name no other process has.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

TEST(EventsEndToEnd, ExecIntoAWatchedNameIsSeenWhileWaitingAtThatEntry) {
  if (::geteuid() != 0) GTEST_SKIP() << "the process events connector needs root";
  for (const std::string listing : {"", "full"}) {
    SCOPED_TRACE("ZEITWACHE_LISTING=" + listing);
    char dir[] = "/tmp/zeitwache-events-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    // Shorter than the kernel's 15 characters: the name comes from comm, and
    // only an event tells the event-fed list that it changed.
    char name[16];
    std::snprintf(name, sizeof name, "zwx%08x", std::random_device()());
    const fs::path program = fs::path(dir) / name;
    fs::copy_file("/bin/sleep", program);
    // The first program is within its limit of 3 s at the first check, so
    // the tool waits 5 s at entry 1; it is gone by the second check.
    std::ofstream(fs::path(dir) / "ZEITWACHE.INI") << "[PGM]\nPGM001=" << name << "\nAKT001=3\n";
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t late = ::fork();
    if (late == 0) {
      ::prctl(PR_SET_NAME, "zwpre");
      char byte = 0;
      if (::read(go[0], &byte, 1) == 1) ::execl(program.c_str(), name, "60", nullptr);
      ::_exit(127);
    }
    const pid_t first = ::fork();
    if (first == 0) {
      ::execl(program.c_str(), name, "4", nullptr);
      ::_exit(127);
    }
    std::thread trigger([&] {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      EXPECT_EQ(::write(go[1], "x", 1), 1);
      ::waitpid(first, nullptr, 0);
    });
    const std::string command =
        "cd " + std::string(dir) + " && ZEITWACHE_LISTING=" + listing + " " ZW_BINARY " /D";
    FILE* tool = ::popen(command.c_str(), "r");
    ASSERT_NE(tool, nullptr);
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, tool) != nullptr) output += buffer;
    const int status = ::pclose(tool);
    trigger.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 100) << output;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(output.find("Wait 5 sek\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Prozess beendet: " + upper + ".EXE, " + std::to_string(late)),
              std::string::npos)
        << output;
    int lateStatus = 0;
    ::kill(late, SIGKILL);  // ours, and ended already unless the tool missed it
    ::waitpid(late, &lateStatus, 0);
    EXPECT_TRUE(WIFSIGNALED(lateStatus) && WTERMSIG(lateStatus) == SIGTERM);
    ::close(go[0]);
    ::close(go[1]);
    fs::remove_all(dir);
  }
}

}  // namespace
