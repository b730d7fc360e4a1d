// The Linux backend against the real system. Every process these tests
// signal is one they started themselves, from a copy of sleep under a name
// no other process has.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/linux/linux_fixture.h"

namespace zw {
namespace {

using testing::Child;
using testing::LinuxPlatformTest;
using testing::PerfInstance;
using testing::ReadPerfInstances;
using testing::StateOf;
using testing::WaitUntil;
namespace fs = std::filesystem;

TEST_F(LinuxPlatformTest, SnapshotNamesProgramsInFullBetweenIdleAndTotal) {
  const std::string program = CopySleep("zw-sleeper-with-a-long-name");
  Child child(program, {program, "30"});
  const std::vector<PerfInstance> instances = Snapshot();
  ASSERT_GE(instances.size(), 4u);
  EXPECT_EQ(instances.front().name, u"Idle");
  EXPECT_EQ(instances.front().pid, 0u);
  EXPECT_EQ(instances.back().name, u"_Total");
  EXPECT_EQ(instances.back().pid, 0u);
  for (std::size_t i = 2; i + 1 < instances.size(); ++i) {
    EXPECT_LT(instances[i - 1].pid, instances[i].pid);
  }
  const PerfInstance* sleeper = Find(instances, child.pid());
  ASSERT_NE(sleeper, nullptr);
  const std::string stem = fs::path(program).stem().string();
  EXPECT_EQ(sleeper->name, std::u16string(stem.begin(), stem.end()));
  EXPECT_NE(Find(instances, static_cast<std::uint32_t>(::getpid())), nullptr);
}

TEST_F(LinuxPlatformTest, CommandLinesLongerThanOneReadAreReadOn) {
  // The full name is found only past the first page of the command line.
  const std::string program = CopySleep("zw-sleeper-behind-a-long-path");
  const std::string argv0 =
      "/" + std::string(5000, 'x') + "/" + fs::path(program).filename().string();
  Child child(program, {argv0, "30"});
  const std::vector<PerfInstance> instances = Snapshot();
  const PerfInstance* sleeper = Find(instances, child.pid());
  ASSERT_NE(sleeper, nullptr);
  const std::string stem = fs::path(program).stem().string();
  EXPECT_EQ(sleeper->name, std::u16string(stem.begin(), stem.end()));
}

TEST_F(LinuxPlatformTest, EndedButUnreapedProcessesAreNotListedOrOpened) {
  const pid_t zombie = ::fork();
  if (zombie == 0) ::_exit(0);
  const auto pid = static_cast<std::uint32_t>(zombie);
  ASSERT_TRUE(WaitUntil([pid] { return StateOf(pid) == 'Z'; }));
  const std::vector<PerfInstance> instances = Snapshot();
  EXPECT_EQ(Find(instances, pid), nullptr);
  EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull);
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  ASSERT_EQ(::waitpid(zombie, nullptr, 0), zombie);
}

TEST_F(LinuxPlatformTest, OneSnapshotServesEveryRetryUntilTheKeyIsClosed) {
  std::vector<std::uint8_t> small(16);
  std::uint32_t size = 16;
  EXPECT_EQ(platform_->RegQueryValueExA(RegistryKey::kPerformanceData, "230", small.data(), &size),
            kErrorMoreData);
  // The failed round tells the size the block needs.
  const std::uint32_t needed = size;
  const std::vector<std::uint8_t> first = QueryBlock();
  EXPECT_EQ(first.size(), needed);

  const std::string program = CopySleep("zw-late-sleeper-process");
  Child late(program, {program, "30"});
  EXPECT_EQ(QueryBlock(), first);
  EXPECT_EQ(Find(ReadPerfInstances(first).value(), late.pid()), nullptr);
  EXPECT_EQ(platform_->RegCloseKey(RegistryKey::kPerformanceData), 0);
  EXPECT_NE(Find(Snapshot(), late.pid()), nullptr);

  size = static_cast<std::uint32_t>(small.size());
  for (const char* name : {"231", "", "Global", "230 232"}) {
    EXPECT_EQ(platform_->RegQueryValueExA(RegistryKey::kPerformanceData, name, small.data(), &size),
              kErrorFileNotFound)
        << name;
  }
}

TEST_F(LinuxPlatformTest, NamesNarrowToUtf8) {
  struct Case {
    std::u16string wide;
    int outSize;
    int written;
    std::string text;
    std::uint32_t error;
  };
  const std::vector<Case> cases = {
      {u"sleep", 6, 6, "sleep", 0},    {u"sleep", 5, 0, "", 122},
      {u"sleep", 0, 6, "", 0},         {u"m\u00fcller", 16, 8, "m\xc3\xbcller", 0},
      {u"m\u00fcller", 7, 0, "", 122}, {u"", 4, 1, "", 0},
  };
  for (const Case& c : cases) {
    char out[16] = {};
    const int written = platform_->WideCharToMultiByte(c.wide.c_str(), -1, out, c.outSize);
    EXPECT_EQ(written, c.written) << c.text << " in " << c.outSize;
    if (c.written > 0 && c.outSize > 0) {
      EXPECT_EQ(std::string(out, static_cast<std::size_t>(c.written - 1)), c.text);
    }
    if (c.written == 0) {
      EXPECT_EQ(platform_->GetLastError(), c.error) << c.text;
    }
  }
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

TEST_F(LinuxPlatformTest, WatchListIsFoundInAnyLetterCase) {
  const fs::path asked = dir_.path() / "ZEITWACHE.INI";
  char value[32];
  auto read = [&](const char* key) {
    std::memset(value, 'X', sizeof value);
    return platform_->GetPrivateProfileStringA("PGM", key, "none", value, sizeof value,
                                               asked.c_str());
  };
  EXPECT_EQ(read("PGM001"), 4u);
  EXPECT_STREQ(value, "none");

  WriteFile(dir_.path() / "zeitwache.ini", "[PGM]\nPGM001=lower\n");
  WriteFile(dir_.path() / "ZeitWache.Ini", "[pgm]\npgm001=mixed\nAKT001=60\n");
  EXPECT_EQ(read("PGM001"), 5u);
  EXPECT_STREQ(value, "mixed");
  EXPECT_EQ(read("akt001"), 2u);
  EXPECT_STREQ(value, "60");

  WriteFile(asked, "[PGM]\nPGM001=exact\n");
  EXPECT_EQ(read("PGM001"), 5u);
  EXPECT_STREQ(value, "exact");

  // Larger than any watch list: treated as missing, without being read.
  ASSERT_EQ(::truncate(asked.c_str(), 17 * 1024 * 1024), 0);
  EXPECT_EQ(read("PGM001"), 4u);
  EXPECT_STREQ(value, "none");
  fs::remove(asked);
  fs::create_directory(asked);
  EXPECT_EQ(read("PGM001"), 4u);
  EXPECT_STREQ(value, "none");
}

// The list's bytes and who may change it, found as the profile reader finds
// the list: the group's or others' write bit, or a foreign owner.
TEST_F(LinuxPlatformTest, ListFileIsReadAndItsWritersAreTold) {
  const fs::path asked = dir_.path() / "ZEITWACHE.INI";
  std::string text;
  EXPECT_EQ(platform_->ReadWholeFile(asked.c_str(), 16, &text),
            static_cast<std::uint32_t>(kErrorFileNotFound));
  WriteFile(dir_.path() / "zeitwache.ini", "[PGM]\n");
  EXPECT_EQ(platform_->ReadWholeFile(asked.c_str(), 16, &text), 0u);
  EXPECT_EQ(text, "[PGM]\n");
  EXPECT_EQ(platform_->ReadWholeFile(asked.c_str(), 5, &text),
            static_cast<std::uint32_t>(kErrorNotEnoughMemory));

  struct Case {
    mode_t mode;
    uid_t owner;
    bool writable;
  };
  std::vector<Case> cases = {
      {0644, ::geteuid(), false}, {0664, ::geteuid(), true}, {01757, ::geteuid(), true}};
  // Only root may give a file away.
  if (::geteuid() == 0) cases.push_back({0700, 65534, true});
  for (const Case& c : cases) {
    ASSERT_EQ(::chmod(dir_.path().c_str(), c.mode), 0);
    ASSERT_EQ(::chown(dir_.path().c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    bool writable = !c.writable;
    ASSERT_TRUE(platform_->WritableByOthers(dir_.path().c_str(), &writable));
    EXPECT_EQ(writable, c.writable) << std::oct << c.mode;
  }
  bool writable = false;
  EXPECT_FALSE(platform_->WritableByOthers((dir_.path() / "missing").c_str(), &writable));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorFileNotFound));
  ASSERT_EQ(::chown(dir_.path().c_str(), ::geteuid(), static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0700), 0);
  fs::remove(dir_.path() / "zeitwache.ini");
  fs::create_directory(asked);
  EXPECT_EQ(platform_->ReadWholeFile(asked.c_str(), 16, &text),
            static_cast<std::uint32_t>(kErrorAccessDenied));
}

bool Start(Platform& platform, std::string commandLine, ProcessInformation* info) {
  return platform.CreateProcessA(nullptr, commandLine.data(), false, 0, StartupInfo{}, info);
}

TEST_F(LinuxPlatformTest, StartingAProgramThatCannotRunFails) {
  const fs::path plain = dir_.path() / "not-executable";
  WriteFile(plain, "data");
  struct Case {
    std::string commandLine;
    std::int32_t error;
  };
  const Case cases[] = {
      {"zw-no-such-program-anywhere 1", kErrorFileNotFound},
      {dir_.path().string() + "/missing 1", kErrorFileNotFound},
      {plain.string() + " 1", kErrorAccessDenied},
      {dir_.path().string(), kErrorAccessDenied},
      {"   ", kErrorFileNotFound},
  };
  for (const Case& c : cases) {
    ProcessInformation info;
    EXPECT_FALSE(Start(*platform_, c.commandLine, &info)) << c.commandLine;
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(c.error)) << c.commandLine;
  }
}

TEST_F(LinuxPlatformTest, KillCommandEndsTheTargetAndLeavesNoZombie) {
  const std::string program = CopySleep("zw-kill-target-sleeper");
  Child target(program, {program, "30"});
  ProcessInformation info;
  // By its path: as root, a kill found only on PATH is not started.
  ASSERT_TRUE(Start(*platform_, ZW_KILL_BINARY " " + std::to_string(target.pid()), &info));
  EXPECT_GT(info.processId, 0u);
  EXPECT_NE(info.process, Handle::kNull);
  EXPECT_NE(info.thread, Handle::kNull);
  EXPECT_NE(info.process, info.thread);

  const int status = target.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  // The platform reaps the command itself, and keeps its exit code for the
  // handle.
  const std::uint32_t command = info.processId;
  std::uint32_t exitCode = 99;
  EXPECT_TRUE(WaitUntil([&] {
    platform_->Sleep(1);
    return platform_->GetCommandState(info.process, &exitCode) == CommandState::kEnded;
  }));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(StateOf(command), 0) << "the command was not reaped";
  EXPECT_TRUE(platform_->CloseHandle(info.process));
  EXPECT_TRUE(platform_->CloseHandle(info.thread));
}

// Pid 1 and kernel threads are critical; the test only opens them.
TEST_F(LinuxPlatformTest, InitAndKernelThreadsAreCritical) {
  std::uint32_t kernelThread = 0;
  posix::ProcReader reader;
  for (std::uint32_t pid = 2; pid < 200 && kernelThread == 0; ++pid) {
    posix::ProcStat stat;
    if (reader.ReadStat(pid, &stat) == 0 && posix::IsKernelThread(stat.flags)) kernelThread = pid;
  }
  const struct {
    std::uint32_t pid;
    bool critical;
  } cases[] = {{1, true}, {static_cast<std::uint32_t>(::getpid()), false}, {kernelThread, true}};
  for (const auto& c : cases) {
    if (c.pid == 0) continue;  // no kernel thread visible here
    const Handle process = platform_->OpenProcess(kProcessQueryInformation, false, c.pid);
    ASSERT_NE(process, Handle::kNull) << c.pid;
    bool critical = !c.critical;
    EXPECT_TRUE(platform_->MustNeverEnd(process, &critical));
    EXPECT_EQ(critical, c.critical) << c.pid;
    platform_->CloseHandle(process);
  }
}

TEST_F(LinuxPlatformTest, FailuresLeaveTheirReasonBehind) {
  const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
  char out[16];
  EXPECT_EQ(platform_->WideCharToMultiByte(loneSurrogate, -1, out, sizeof out), 0);
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorNoUnicodeTranslation));
  SystemTime calendar;
  EXPECT_FALSE(platform_->FileTimeToSystemTime(FileTime{1} << 63, &calendar));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
  // There is no window system: nothing is enumerated or described.
  EXPECT_TRUE(platform_->EnumWindows([](WindowHandle) {
    ADD_FAILURE() << "a window was reported";
    return true;
  }));
  char title[8] = "stale";
  EXPECT_EQ(platform_->GetWindowTextA(WindowHandle{1}, title, sizeof title), 0);
  EXPECT_STREQ(title, "");
}

}  // namespace
}  // namespace zw
