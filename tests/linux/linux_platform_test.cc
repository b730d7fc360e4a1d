// The Linux backend against the real system. Every process these tests
// signal is one they started themselves, from a copy of sleep under a name
// no other process has.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/platform.h"
#include "tests/linux/perf_block_reader.h"

namespace zw {
namespace {

namespace fs = std::filesystem;
using testing::PerfInstance;
using testing::ReadPerfInstances;

constexpr std::uint32_t kGrowStep = 40960;
constexpr auto kPatience = std::chrono::seconds(10);

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zwtest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A child this test started, killed and reaped at the end unless a test
// reaped it already.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(report[1]);
    // The pipe closes at the exec: from then on the child runs `program`.
    char ignored = 0;
    while (::read(report[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

FileTime Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<FileTime>(now.tv_sec) + 11'644'473'600) * 10'000'000 +
         static_cast<FileTime>(now.tv_nsec / 100);
}

// State letter of `pid`, 0 when it has no /proc entry any more.
char StateOf(std::uint32_t pid) {
  std::string text;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  if (posix::ReadFileAt(AT_FDCWD, path.c_str(), 4096, &text) != 0) return 0;
  const auto stat = posix::ParseStat(text);
  return stat ? stat->state : 0;
}

template <typename Condition>
bool WaitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class LinuxPlatformTest : public ::testing::Test {
 protected:
  // A copy of sleep under a name longer than the kernel keeps in comm.
  std::string CopySleep(const std::string& stem) {
    static std::atomic<int> serial{0};
    const std::string name =
        stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".bin";
    const fs::path path = dir_.path() / name;
    fs::copy_file("/bin/sleep", path);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
    return path.string();
  }

  std::vector<std::uint8_t> QueryBlock() {
    std::vector<std::uint8_t> buffer(kGrowStep);
    for (;;) {
      auto size = static_cast<std::uint32_t>(buffer.size());
      const std::int32_t result =
          platform_->RegQueryValueExA(RegistryKey::kPerformanceData, "230", buffer.data(), &size);
      if (result == kErrorSuccess) {
        buffer.resize(size);
        return buffer;
      }
      EXPECT_EQ(result, kErrorMoreData);
      if (result != kErrorMoreData) return {};
      buffer.resize(buffer.size() + kGrowStep);
    }
  }

  std::vector<PerfInstance> Snapshot() {
    const std::vector<std::uint8_t> block = QueryBlock();
    EXPECT_EQ(platform_->RegCloseKey(RegistryKey::kPerformanceData), 0);
    auto instances = ReadPerfInstances(block);
    EXPECT_TRUE(instances) << "the block does not parse";
    return instances.value_or(std::vector<PerfInstance>{});
  }

  static const PerfInstance* Find(const std::vector<PerfInstance>& instances, std::uint32_t pid) {
    const auto found = std::find_if(instances.begin(), instances.end(),
                                    [pid](const PerfInstance& i) { return i.pid == pid; });
    return found == instances.end() ? nullptr : &*found;
  }

  std::unique_ptr<Platform> platform_ = MakeNativePlatform();
  TempDir dir_;
};

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
  for (std::uint32_t pid : {0u, 0xFFFFFFFEu, beyond}) {
    EXPECT_EQ(platform_->OpenProcess(kProcessQueryInformation, false, pid), Handle::kNull) << pid;
    EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidParameter));
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
  ASSERT_TRUE(Start(*platform_, "kill " + std::to_string(target.pid()), &info));
  EXPECT_GT(info.processId, 0u);
  EXPECT_NE(info.process, Handle::kNull);
  EXPECT_NE(info.thread, Handle::kNull);
  EXPECT_NE(info.process, info.thread);

  const int status = target.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  // The platform reaps the command itself, while the caller sleeps.
  const std::uint32_t command = info.processId;
  EXPECT_TRUE(WaitUntil([&] {
    platform_->Sleep(1);
    return StateOf(command) == 0;
  })) << "the command was not reaped";
  EXPECT_TRUE(platform_->CloseHandle(info.process));
  EXPECT_TRUE(platform_->CloseHandle(info.thread));
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
  std::string status;
  posix::ReadFileAt(AT_FDCWD, "/proc/self/status", 65536, &status);
  const bool entitled = ::geteuid() == 0 || posix::EffectiveCapKill(status).value_or(false);
  EXPECT_EQ(platform_->GetLastError(),
            entitled ? 0u : static_cast<std::uint32_t>(kErrorNotAllAssigned));
  EXPECT_TRUE(platform_->CloseHandle(token));
  EXPECT_FALSE(platform_->AdjustTokenPrivileges(token, false, luid, kSePrivilegeEnabled));
  EXPECT_EQ(platform_->GetLastError(), static_cast<std::uint32_t>(kErrorInvalidHandle));
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
