// The built tool against a process that takes a watched name by exec while
// the tool waits at that very entry. Every process signalled here was
// started here, in the tests' own pid namespace.
#include <gtest/gtest.h>
#include <signal.h>
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

#include "tests/linux/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace zw::testing;  // scratch.h

// The limit leaves the tool seconds to start before the first program is
// overdue; the head start makes the late program overdue at the check after
// the 5 s wait, even with no delay on the tool's side.
constexpr int kLimitSeconds = 8;
constexpr auto kHeadStart = std::chrono::seconds(3);

TEST(EventsEndToEnd, ExecIntoAWatchedNameIsSeenWhileWaitingAtThatEntry) {
  for (const std::string listing : {"", "full"}) {
    SCOPED_TRACE("ZEITWACHE_LISTING=" + listing);
    const TempDir temp;
    const std::string dir = temp.path();
    Children children;
    // Shorter than the kernel's 15 characters: the name comes from comm, and
    // only an event tells the event-fed list that it changed.
    char name[16];
    std::snprintf(name, sizeof name, "zwx%08x", std::random_device()());
    const fs::path program = CopyProgram("/bin/sleep", dir, name);
    std::ofstream(fs::path(dir) / "ZEITWACHE.INI")
        << "[PGM]\nPGM001=" << name << "\nAKT001=" << kLimitSeconds << "\n";
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t late = children.Add(::fork());
    if (late == 0) {
      ::prctl(PR_SET_NAME, "zwpre");
      char byte = 0;
      if (::read(go[0], &byte, 1) == 1) ::execl(program.c_str(), name, "60", nullptr);
      ::_exit(127);
    }
    std::this_thread::sleep_for(kHeadStart);
    // Within its limit at the first check, so the tool waits at entry 1.
    const pid_t first = children.Add(StartProgram(program, {name, "60"}));
    const std::string command =
        "cd " + std::string(dir) + " && ZEITWACHE_LISTING=" + listing + " " ZW_BINARY " /D";
    FILE* tool = ::popen(command.c_str(), "r");
    ASSERT_NE(tool, nullptr);
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, tool) != nullptr) {
      output += buffer;
      // While the tool waits: the first program goes, the late one takes
      // the name.
      if (std::string(buffer) == "Wait 5 sek\n" && ::kill(first, SIGKILL) == 0) {
        children.Reap(first, true);
        EXPECT_EQ(::write(go[1], "x", 1), 1);
      }
    }
    const int status = ::pclose(tool);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 100) << output;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(output.find("Prozess beendet: " + upper + ".EXE, " + std::to_string(late)),
              std::string::npos)
        << output;
    ::kill(late, SIGKILL);  // ours, and ended already unless the tool missed it
    const int lateStatus = children.Reap(late, true);
    EXPECT_TRUE(WIFSIGNALED(lateStatus) && WTERMSIG(lateStatus) == SIGTERM);
    ::close(go[0]);
    ::close(go[1]);
  }
}

}  // namespace
