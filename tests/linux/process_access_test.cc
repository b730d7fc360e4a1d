// Opening processes on the Linux backend against the real system: what a
// snapshot already read, whose processes may be opened, and when. Every
// process these tests signal is one they started themselves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/linux/linux_fixture.h"

namespace zw {
namespace {

using testing::Child;
using testing::Entitled;
using testing::LinuxPlatformTest;
using testing::Now;
namespace fs = std::filesystem;

constexpr const char* kSetpriv = "/usr/bin/setpriv";

// Runs the shell command `command` and returns what it wrote to standard
// output.
std::string RunCapture(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string text;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
    text.append(buffer, got);
  ::pclose(pipe);
  return text;
}

TEST_F(LinuxPlatformTest, CreationTimeIsTheMomentOfTheFork) {
  const std::string program = CopySleep("zw-timed-sleeper");
  const FileTime before = Now();
  Child child(program, {program, "30"});
  const FileTime after = Now();
  const Handle handle =
      platform_->OpenProcess(kProcessQueryInformation | kProcessVmRead, false, child.pid());
  ASSERT_NE(handle, Handle::kNull);
  FileTime creation = 0, exit = 1, kernel = 0, user = 0;
  ASSERT_TRUE(platform_->GetProcessTimes(handle, &creation, &exit, &kernel, &user));
  // The start time is kept in clock ticks (10 ms at most) and cut down.
  constexpr FileTime kMargin = 500'000;
  EXPECT_GE(creation + kMargin, before);
  EXPECT_LE(creation, after + kMargin);
  EXPECT_EQ(exit, 0u);

  // Once the process is gone, the handle still describes that process.
  ::kill(static_cast<pid_t>(child.pid()), SIGKILL);
  child.Wait();
  FileTime again = 0;
  ASSERT_TRUE(platform_->GetProcessTimes(handle, &again, &exit, &kernel, &user));
  EXPECT_EQ(again, creation);
  EXPECT_TRUE(platform_->CloseHandle(handle));
  EXPECT_FALSE(platform_->GetProcessTimes(handle, &again, &exit, &kernel, &user));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidHandle));
  EXPECT_FALSE(platform_->CloseHandle(handle));
}

TEST_F(LinuxPlatformTest, PidsThatNameNoProcessNeverOpen) {
  std::string text;
  ASSERT_EQ(posix::ReadFileAt(AT_FDCWD, "/proc/sys/kernel/pid_max", 64, &text), 0);
  const auto beyond = static_cast<std::uint32_t>(std::stoul(text) + 1);
  // Beyond the largest pid_t a pid would read as a process group to kill(2).
  for (std::uint32_t pid : {0u, 0xFFFFFFFEu, beyond}) {
    EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull) << pid;
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  }
}

FileTime CreationOf(Platform& platform, std::uint32_t pid) {
  const Handle handle = platform.OpenProcess(kProcessQueryInformation, false, pid);
  FileTime creation = 0, exit = 0, kernel = 0, user = 0;
  EXPECT_NE(handle, Handle::kNull) << pid;
  if (handle == Handle::kNull) return 0;
  EXPECT_TRUE(platform.GetProcessTimes(handle, &creation, &exit, &kernel, &user));
  platform.CloseHandle(handle);
  return creation;
}

// A check reads each process once: the processes of the latest snapshot are
// opened from what it read, the others from /proc.
TEST_F(LinuxPlatformTest, ProcessesOfTheLatestSnapshotOpenFromWhatItRead) {
  const std::string program = CopySleep("zw-listed-sleeper");
  auto listed = std::make_unique<Child>(program, std::vector<std::string>{program, "30"});
  const std::uint32_t pid = listed->pid();
  ASSERT_NE(Find(Snapshot(), pid), nullptr);
  const FileTime fromSnapshot = CreationOf(*platform_, pid);
  const FileTime fromProc = CreationOf(*MakeNativePlatform(), pid);
  // The two differ only by the reading of the clocks: nanoseconds.
  EXPECT_LT(fromSnapshot > fromProc ? fromSnapshot - fromProc : fromProc - fromSnapshot, 10'000u);

  listed.reset();  // killed and reaped
  const Handle gone = platform_->OpenProcess(kProcessQueryInformation, false, pid);
  if (Entitled()) {
    // Nothing asks /proc whether it is still there; the kill command that
    // may follow is the one to find out.
    EXPECT_NE(gone, Handle::kNull);
    platform_->CloseHandle(gone);
  } else {
    // The access test asks the kernel, and the kernel knows it is gone.
    EXPECT_EQ(gone, Handle::kNull);
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  }
  EXPECT_EQ(Find(Snapshot(), pid), nullptr);
  EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull);
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));

  // Start times count in clock ticks: a process started within the same
  // tick has the same creation time, so the next one waits two ticks.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000 / ::sysconf(_SC_CLK_TCK)));
  Child late(program, {program, "30"});
  EXPECT_GT(CreationOf(*platform_, late.pid()), fromSnapshot);
}

// Without root or CAP_KILL another user's process does not open, as on
// Windows without the debug privilege: it stays unmeasured instead of being
// sent a kill that cannot work. The caller's own processes still open.
TEST_F(LinuxPlatformTest, OrdinaryUserCannotOpenOtherUsersProcesses) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the probe as another user";
  if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "needs setpriv (util-linux)";
  const std::string program = CopySleep("zw-root-owned-sleeper");
  Child child(program, {program, "30"});
  // The probe runs as nobody from a directory nobody may enter.
  const fs::path probe = dir_.path() / "zw_open_probe";
  fs::copy_file(ZW_OPEN_PROBE, probe);
  fs::permissions(dir_.path(), fs::perms(0755), fs::perm_options::replace);
  fs::permissions(probe, fs::perms(0755), fs::perm_options::replace);
  const std::string pid = std::to_string(child.pid());
  const std::string items = " " + pid + " self snapshot " + pid + " self";
  const std::string nobody =
      std::string(kSetpriv) + " --reuid=65534 --regid=65534 --clear-groups --inh-caps=";
  const std::string opened = pid + " opened\nself opened\n" + pid + " opened\nself opened\n";

  EXPECT_EQ(RunCapture(probe.string() + items), opened);
  EXPECT_EQ(RunCapture(nobody + "-all " + probe.string() + items),
            pid + " failed 5\nself opened\n" + pid + " failed 5\nself opened\n");
  // CAP_KILL is what it takes, not root itself.
  EXPECT_EQ(RunCapture(nobody + "+kill --ambient-caps=+kill " + probe.string() + items), opened);
}

TEST_F(LinuxPlatformTest, DebugPrivilegeFollowsTheRightToSignalOthers) {
  Handle token = Handle::kNull;
  ASSERT_TRUE(platform_->OpenProcessToken(platform_->GetCurrentProcess(),
                                          kTokenAdjustPrivileges | kTokenQuery, &token));
  Luid luid;
  EXPECT_FALSE(platform_->LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorNoSuchPrivilege));
  ASSERT_TRUE(platform_->LookupPrivilegeValueA(nullptr, "sedebugprivilege", &luid));
  ASSERT_TRUE(platform_->AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled));
  EXPECT_EQ(platform_->GetLastError(),
            Entitled() ? 0u : static_cast<std::uint32_t>(kErrorNotAllAssigned));
  EXPECT_TRUE(platform_->CloseHandle(token));
  EXPECT_FALSE(platform_->AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidHandle));
}

}  // namespace
}  // namespace zw
